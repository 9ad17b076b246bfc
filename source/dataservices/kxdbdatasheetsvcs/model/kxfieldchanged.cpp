// Change detection of field-data records: the default rule per field kind,
// overruled by the plant's knowledge base where it defines a method for the
// kind.
#include <vector>

#include "com/comutil.h"
#include "host/application.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "model/kxfielddata.h"

namespace {

const OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxfielddata";

// Absent equals only absent; present texts compare character for character.
bool SameText(const SAXText& a, const SAXText& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull();
  return a.str() == b.str();
}

bool NumberTextsEmpty(const KXFieldData& r) {
  return r.value.IsEmpty() && r.prefix.IsEmpty() && r.postfix.IsEmpty() && r.substitution.IsEmpty();
}

bool SameMembers(const KXFieldData& a, const KXFieldData& b) {
  switch (a.typeId) {
    case kFieldAnnotation:
      return SameText(a.value, b.value) && a.x == b.x && a.y == b.y && a.markup == b.markup;
    case kFieldString: return SameText(a.value, b.value);
    case kFieldReal:
    case kFieldInteger:
      return SameText(a.value, b.value) && SameText(a.prefix, b.prefix) &&
             SameText(a.postfix, b.postfix) && SameText(a.substitution, b.substitution) &&
             (NumberTextsEmpty(a) || SameText(a.format, b.format));
    case kFieldBool:
    case kFieldDate:
      return SameText(a.value, b.value) && (a.value.IsEmpty() || SameText(a.format, b.format));
    case kFieldSketch:
      return SameText(a.value, b.value) && a.tlx == b.tlx && a.tly == b.tly && a.brx == b.brx &&
             a.bry == b.bry;
    default: return true;
  }
}

// Whether the reference's texts that the knowledge base would compare are
// all empty.
bool ReferenceTextsEmpty(const KXFieldData& a, const KXFieldData& b) {
  if (a.typeId == kFieldString) return b.value.IsEmpty();
  if (a.typeId == kFieldReal || a.typeId == kFieldInteger) return NumberTextsEmpty(b);
  return false;
}

const OLECHAR* MethodName(int32_t kind) {
  switch (kind) {
    case kFieldAnnotation: return u"IsAnnotationFieldChanged";
    case kFieldString: return u"IsStringFieldChanged";
    case kFieldReal:
    case kFieldInteger: return u"IsNumberFieldChanged";
    case kFieldBool:
    case kFieldDate: return u"IsBoolDateFieldChanged";
    case kFieldSketch: return u"IsSketchFieldChanged";
    case kFieldCheck: return u"IsCheckFieldChanged";
    case kFieldRadio: return u"IsRadioFieldChanged";
    default: return nullptr;
  }
}

std::vector<_variant_t> MethodArguments(const KXFieldData& a, const KXFieldData& b, bool flag) {
  auto text = [](const SAXText& t) { return _variant_t(t.c_str() != nullptr ? t.c_str() : u""); };
  auto number = [](int32_t n) { return _variant_t(static_cast<int>(n), VT_I4); };
  std::vector<_variant_t> args;
  switch (a.typeId) {
    case kFieldAnnotation:
      args = {text(a.value), text(b.value), number(a.x),          number(b.x),
              number(a.y),   number(b.y),   _variant_t(a.markup), _variant_t(b.markup)};
      break;
    case kFieldString: args = {text(a.value), text(b.value)}; break;
    case kFieldReal:
    case kFieldInteger:
      args = {text(a.value),   text(b.value),   text(a.prefix),       text(b.prefix),
              text(a.postfix), text(b.postfix), text(a.substitution), text(b.substitution),
              text(a.format),  text(b.format)};
      break;
    case kFieldBool:
    case kFieldDate: args = {text(a.value), text(b.value), text(a.format), text(b.format)}; break;
    case kFieldSketch:
      args = {text(a.value), text(b.value), number(a.tlx), number(b.tlx), number(a.tly),
              number(b.tly), number(a.brx), number(b.brx), number(a.bry), number(b.bry)};
      break;
    default: return {text(a.value), text(b.value)};
  }
  args.emplace_back(flag);
  return args;
}

// The knowledge base's answer; true (changed) when it has none.
bool AskKnowledgeBase(KXComException& ctx, IKXQApplication* application, const KXFieldData& a,
                      const KXFieldData& b, bool flag) {
  IKXQDatabasePtr database;
  IKXQSchemaPtr schema;
  CheckPointerArgument(ctx, application);
  KX_CHECK(ctx, application->get_Database(&database));
  KX_CHECK(ctx, application->get_Schema(&schema));
  CheckPointerArgument(ctx, database.GetInterfacePtr());
  CheckPointerArgument(ctx, schema.GetInterfacePtr());
  const _bstr_t name(MethodName(a.typeId));
  VARIANT_BOOL has = VARIANT_FALSE;
  if (FAILED(schema->HasMethod(name, &has))) {
    ctx.Absorb();
    return true;
  }
  if (has == VARIANT_FALSE) return true;
  const std::vector<_variant_t> args = MethodArguments(a, b, flag);
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 1, static_cast<ULONG>(args.size()));
  if (array == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_OUTOFMEMORY, nullptr);
  for (LONG i = 0; i < static_cast<LONG>(args.size()); ++i) {
    LONG at = i + 1;
    VARIANT element = args[static_cast<size_t>(i)];
    const HRESULT put = SafeArrayPutElement(array, &at, &element);
    if (FAILED(put)) {
      SafeArrayDestroy(array);
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), put, nullptr);
    }
  }
  _variant_t result;
  const HRESULT hr = database->RunMethod(name, array, &result);
  SafeArrayDestroy(array);
  const bool hasValue = result.vt != VT_EMPTY && result.vt != VT_NULL;
  if (!hasValue) {
    ctx.Absorb();
    return true;
  }
  KX_CHECK(ctx, hr, KX_HERE(kFile));
  return result.vt == VT_BOOL && result.boolVal == VARIANT_TRUE;
}

}  // namespace

bool KXFieldData::IsBlank() const {
  if (typeId == kFieldReal || typeId == kFieldInteger) return NumberTextsEmpty(*this);
  return value.IsEmpty();
}

bool KXFieldData::IsFieldChanged(const KXFieldData& reference, IKXQApplication* application,
                                 bool emptyReferenceChanges) const {
  KXComException ctx(u"KXFieldData::IsFieldChanged", 0);
  if (typeId < kFieldAnnotation || typeId > kFieldRadio) return false;
  const bool referenceEmpty = reference.typeId == kFieldCleared;
  bool changed = false;
  if (typeId == kFieldCheck || typeId == kFieldRadio) {
    if (reference.value.IsNull()) {
      const bool present = !value.IsNull();
      changed = typeId == kFieldCheck ? present && value.str() == u"1"
                                      : !(present && value.str() == u"-1");
    } else {
      changed = !SameText(value, reference.value);
    }
  } else if (referenceEmpty) {
    changed = emptyReferenceChanges || !IsBlank();
  } else {
    changed = !((!emptyReferenceChanges || !IsBlank()) && SameMembers(*this, reference));
  }
  if (!changed) return false;
  if (referenceEmpty || IsBlank() || ReferenceTextsEmpty(*this, reference)) return true;
  return AskKnowledgeBase(ctx, application, *this, reference, emptyReferenceChanges);
}
