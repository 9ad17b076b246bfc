#include "kxfielddata.h"

#include <new>
#include <string>

#include "com/comutil.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxxmlutils.h"

namespace {

const OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxfielddata";

// Value ids of the field-data grammar.
enum : uint32_t {
  kIdFieldId = 10,
  kIdAttribId = 11,
  kIdValue = 12,
  kIdState = 13,
  kIdAlignment = 14,
  kIdPrefix = 15,
  kIdPostfix = 16,
  kIdSubstitution = 17,
  kIdFormat = 18,
  kIdTLX = 19,
  kIdTLY = 20,
  kIdBRX = 21,
  kIdBRY = 22,
  kIdX = 23,
  kIdY = 24,
  kIdMarkup = 25,
  kIdIndex = 26,
  kIdVerticalAlignment = 27,
};

#define KX_ELEMENT(name, id) {kGrammarElement, name, id}
#define KX_END_ELEMENT {kGrammarElementEnd, nullptr, 0}
#define KX_STRING(name, id) {kGrammarStringAttribute, name, id}
#define KX_INTEGER(name, id) {kGrammarIntegerAttribute, name, id}
#define KX_BOOLEAN(name, id) {kGrammarBooleanAttribute, name, id}
#define KX_CHILD(id) {kGrammarChild, nullptr, id}

const GrammarRecord kFieldDataGrammar[] = {
    {kGrammarRoot, nullptr, 0},
    KX_ELEMENT(u"Fields", kFieldList),
    KX_CHILD(2), KX_CHILD(3), KX_CHILD(4), KX_CHILD(5),
    KX_CHILD(6), KX_CHILD(7), KX_CHILD(8), KX_CHILD(9),
    KX_END_ELEMENT,
    KX_ELEMENT(u"Annotation", kFieldAnnotation),
    KX_STRING(u"Value", kIdValue), KX_INTEGER(u"X", kIdX), KX_INTEGER(u"Y", kIdY),
    KX_INTEGER(u"FieldId", kIdFieldId), KX_BOOLEAN(u"Markup", kIdMarkup),
    KX_END_ELEMENT,
    KX_ELEMENT(u"String", kFieldString),
    KX_INTEGER(u"FieldId", kIdFieldId), KX_INTEGER(u"AttribId", kIdAttribId),
    KX_STRING(u"Value", kIdValue), KX_INTEGER(u"State", kIdState),
    KX_INTEGER(u"Alignment", kIdAlignment),
    KX_INTEGER(u"VerticalAlignment", kIdVerticalAlignment), KX_INTEGER(u"Index", kIdIndex),
    KX_END_ELEMENT,
    KX_ELEMENT(u"Real", kFieldReal),
    KX_INTEGER(u"FieldId", kIdFieldId), KX_INTEGER(u"AttribId", kIdAttribId),
    KX_STRING(u"Value", kIdValue), KX_STRING(u"Prefix", kIdPrefix),
    KX_STRING(u"Postfix", kIdPostfix), KX_STRING(u"Substitution", kIdSubstitution),
    KX_STRING(u"Format", kIdFormat), KX_INTEGER(u"State", kIdState),
    KX_INTEGER(u"Alignment", kIdAlignment),
    KX_INTEGER(u"VerticalAlignment", kIdVerticalAlignment), KX_INTEGER(u"Index", kIdIndex),
    KX_END_ELEMENT,
    KX_ELEMENT(u"Integer", kFieldInteger),
    KX_INTEGER(u"FieldId", kIdFieldId), KX_INTEGER(u"AttribId", kIdAttribId),
    KX_STRING(u"Value", kIdValue), KX_STRING(u"Prefix", kIdPrefix),
    KX_STRING(u"Postfix", kIdPostfix), KX_STRING(u"Substitution", kIdSubstitution),
    KX_STRING(u"Format", kIdFormat), KX_INTEGER(u"State", kIdState),
    KX_INTEGER(u"Alignment", kIdAlignment),
    KX_INTEGER(u"VerticalAlignment", kIdVerticalAlignment), KX_INTEGER(u"Index", kIdIndex),
    KX_END_ELEMENT,
    KX_ELEMENT(u"Bool", kFieldBool),
    KX_INTEGER(u"FieldId", kIdFieldId), KX_INTEGER(u"AttribId", kIdAttribId),
    KX_STRING(u"Value", kIdValue), KX_STRING(u"Format", kIdFormat),
    KX_INTEGER(u"State", kIdState), KX_INTEGER(u"Alignment", kIdAlignment),
    KX_INTEGER(u"VerticalAlignment", kIdVerticalAlignment), KX_INTEGER(u"Index", kIdIndex),
    KX_END_ELEMENT,
    KX_ELEMENT(u"Date", kFieldDate),
    KX_INTEGER(u"FieldId", kIdFieldId), KX_INTEGER(u"AttribId", kIdAttribId),
    KX_STRING(u"Value", kIdValue), KX_STRING(u"Format", kIdFormat),
    KX_INTEGER(u"State", kIdState), KX_INTEGER(u"Alignment", kIdAlignment),
    KX_INTEGER(u"VerticalAlignment", kIdVerticalAlignment), KX_INTEGER(u"Index", kIdIndex),
    KX_END_ELEMENT,
    KX_ELEMENT(u"Check", kFieldCheck),
    KX_INTEGER(u"FieldId", kIdFieldId), KX_INTEGER(u"AttribId", kIdAttribId),
    KX_STRING(u"Value", kIdValue), KX_INTEGER(u"State", kIdState),
    KX_INTEGER(u"Index", kIdIndex),
    KX_END_ELEMENT,
    KX_ELEMENT(u"Radio", kFieldRadio),
    KX_INTEGER(u"FieldId", kIdFieldId), KX_INTEGER(u"AttribId", kIdAttribId),
    KX_STRING(u"Value", kIdValue), KX_INTEGER(u"State", kIdState),
    KX_INTEGER(u"Index", kIdIndex),
    KX_END_ELEMENT,
    KX_ELEMENT(u"Sketch", kFieldSketch),
    KX_INTEGER(u"FieldId", kIdFieldId), KX_INTEGER(u"AttribId", kIdAttribId),
    KX_STRING(u"Value", kIdValue), KX_INTEGER(u"State", kIdState),
    KX_INTEGER(u"TLX", kIdTLX), KX_INTEGER(u"TLY", kIdTLY), KX_INTEGER(u"BRX", kIdBRX),
    KX_INTEGER(u"BRY", kIdBRY), KX_INTEGER(u"Index", kIdIndex),
    KX_END_ELEMENT,
    {kGrammarEnd, nullptr, 0},
};

#undef KX_ELEMENT
#undef KX_END_ELEMENT
#undef KX_STRING
#undef KX_INTEGER
#undef KX_BOOLEAN
#undef KX_CHILD

// A writer reference released on every way out.
class WriterHolder {
 public:
  WriterHolder() = default;
  ~WriterHolder() {
    if (writer != nullptr) writer->Release();
  }
  WriterHolder(const WriterHolder&) = delete;
  WriterHolder& operator=(const WriterHolder&) = delete;
  ikxXMLStringWriter* writer = nullptr;
};

}  // namespace

const GrammarRecord* FieldDataSchema::GetSchema() const { return kFieldDataGrammar; }

const OLECHAR* FieldDataSchema::GetElementName(int32_t typeId) {
  if (typeId < 0) return nullptr;
  for (const GrammarRecord* r = kFieldDataGrammar + 1; r->kind != kGrammarEnd; ++r) {
    if (r->kind == kGrammarElement && r->id == static_cast<uint32_t>(typeId)) return r->name;
  }
  return nullptr;
}

void KXFieldData::Clear() {
  typeId = kFieldCleared;
  value.Reset();
  prefix.Reset();
  postfix.Reset();
  substitution.Reset();
  format.Reset();
  fieldId = -1;
  attribId = -1;
  alignment = -1;
  verticalAlignment = -1;
  state = 0;
  x = 0;
  y = 0;
  tlx = 0;
  tly = 0;
  brx = 0;
  bry = 0;
  markup = false;
  children_.clear();
}

void KXFieldData::CopyFields(const KXFieldData& other) {
  typeId = other.typeId;
  value = other.value;
  prefix = other.prefix;
  postfix = other.postfix;
  substitution = other.substitution;
  format = other.format;
  fieldId = other.fieldId;
  attribId = other.attribId;
  state = other.state;
  alignment = other.alignment;
  verticalAlignment = other.verticalAlignment;
  x = other.x;
  y = other.y;
  tlx = other.tlx;
  tly = other.tly;
  brx = other.brx;
  bry = other.bry;
  markup = other.markup;
  index = other.index;
}

HRESULT KXFieldData::GetChildHandler(uint32_t childId, SAXSchemaElementHandler** handler) {
  if (handler == nullptr) return E_POINTER;
  if (childId == kFieldList) {
    Clear();
    typeId = kFieldList;
    *handler = this;
    return S_OK;
  }
  if (childId < kFieldAnnotation || childId > kFieldRadio) return E_INVALIDARG;
  if (typeId == kFieldList) {
    auto child = std::make_unique<KXFieldData>();
    child->Clear();
    child->typeId = static_cast<int32_t>(childId);
    *handler = child.get();
    children_.push_back(std::move(child));
    return S_OK;
  }
  Clear();
  typeId = static_cast<int32_t>(childId);
  *handler = this;
  return S_OK;
}

HRESULT KXFieldData::SetAttribute(uint32_t id, const SAXValue& v) {
  switch (id) {
    case kIdValue: value.Assign(v.text); return S_OK;
    case kIdPrefix: prefix.Assign(v.text); return S_OK;
    case kIdPostfix: postfix.Assign(v.text); return S_OK;
    case kIdSubstitution: substitution.Assign(v.text); return S_OK;
    case kIdFormat: format.Assign(v.text); return S_OK;
    case kIdFieldId: fieldId = v.integer; return S_OK;
    case kIdAttribId: attribId = v.integer; return S_OK;
    case kIdState: state = v.integer; return S_OK;
    case kIdAlignment: alignment = v.integer; return S_OK;
    case kIdVerticalAlignment: verticalAlignment = v.integer; return S_OK;
    case kIdX: x = v.integer; return S_OK;
    case kIdY: y = v.integer; return S_OK;
    case kIdTLX: tlx = v.integer; return S_OK;
    case kIdTLY: tly = v.integer; return S_OK;
    case kIdBRX: brx = v.integer; return S_OK;
    case kIdBRY: bry = v.integer; return S_OK;
    case kIdMarkup: markup = v.boolean != 0; return S_OK;
    case kIdIndex: index = v.integer; return S_OK;
    default: return E_INVALIDARG;
  }
}

HRESULT KXFieldData::ParseFieldData(int32_t type, BSTR text, int32_t selectIndex) {
  KXComException ctx = KXComException::Silent(u"KXFieldData::ParseFieldData");
  try {
    Clear();
    if (text == nullptr || *text == 0) {
      typeId = type;
      return S_OK;
    }
    HRESULT hr = Parse(text);
    if (FAILED(hr)) {
      ctx.hr = hr;
      ctx.TakeThreadErrorInfo();
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr, nullptr);
    }
    if (typeId == kFieldList) {
      std::unique_ptr<KXFieldData> chosen;
      for (auto& child : children_) {
        if (selectIndex == -1 || child->index == selectIndex) {
          chosen = std::move(child);
          break;
        }
      }
      if (chosen != nullptr) {
        CopyFields(*chosen);
        children_.clear();
      } else {
        Clear();
      }
    }
    typeId = type;
    return hr;
  }
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return ctx.Return();
}

HRESULT KXFieldData::SelectField(const OLECHAR* text, int32_t fieldNumber) {
  KXComException ctx = KXComException::Silent(u"KXFieldData::SelectField");
  try {
    Clear();
    index = -1;
    if (text == nullptr || *text == 0) return S_OK;
    const _bstr_t copy(text);  // the reader takes a BSTR
    const HRESULT hr = Parse(copy);
    if (FAILED(hr)) {
      ctx.hr = hr;
      ctx.TakeThreadErrorInfo();
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr, nullptr);
    }
    if (typeId != kFieldList) return S_OK;
    std::unique_ptr<KXFieldData> chosen;
    for (auto& child : children_) {
      if (fieldNumber == -1 || child->fieldId == fieldNumber) {
        chosen = std::move(child);
        break;
      }
    }
    children_.clear();
    if (chosen == nullptr) {
      Clear();
      return S_OK;
    }
    CopyFields(*chosen);
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

void KXFieldData::SetNumberTexts(const OLECHAR* valueText, const OLECHAR* prefixText,
                                 const OLECHAR* postfixText, const OLECHAR* substitutionText) {
  auto set = [](SAXText& member, const OLECHAR* text) {
    if (text == member.c_str()) return;
    if (text == nullptr) {
      member.Reset();
      return;
    }
    member.Assign(text);
  };
  set(value, valueText);
  set(prefix, prefixText);
  set(postfix, postfixText);
  set(substitution, substitutionText);
}

HRESULT KXFieldData::WriteFieldData(BSTR* text, int32_t mode, int32_t pageId) const {
  KXComException ctx = KXComException::Silent(u"KXFieldData::WriteFieldData");
  try {
    CheckPointerArgument(ctx, text);
    *text = nullptr;
    const OLECHAR* kind =
        typeId >= kFieldAnnotation && typeId <= kFieldRadio ? GetElementName(typeId) : nullptr;
    if (kind == nullptr) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Unknown field type");
    }
    WriterHolder holder;
    HRESULT hr = KXXMLStringWriter::CreateInstance(IID_ikxXMLStringWriter,
                                                   reinterpret_cast<void**>(&holder.writer));
    if (FAILED(hr)) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr, u"Cannot create an XML string writer");
    }
    ikxXMLStringWriter& w = *holder.writer;
    w.SetOption(false);
    const bool show = mode == kFieldDataShow;
    const bool definition = mode == kFieldDataDefinition;
    const std::u16string name = show ? kx_format(u"Show%lsField", kind) : std::u16string(kind);

    KX_CHECK(ctx, w.StartElement(name.c_str()));
    if (show) KX_CHECK(ctx, w.WriteAttribute(u"PageId", LONG{pageId}));
    if (fieldId >= 0) KX_CHECK(ctx, w.WriteAttribute(u"FieldId", LONG{fieldId}));
    if (!show && attribId >= 0) KX_CHECK(ctx, w.WriteAttribute(u"AttribId", LONG{attribId}));

    auto writeText = [&](const OLECHAR* attr, const SAXText& t) {
      if (!t.IsEmpty()) KX_CHECK(ctx, w.WriteAttribute(attr, t.c_str()));
    };
    switch (typeId) {
      case kFieldAnnotation:
        KX_CHECK(ctx, w.WriteAttribute(u"X", LONG{x}));
        KX_CHECK(ctx, w.WriteAttribute(u"Y", LONG{y}));
        KX_CHECK(ctx, w.WriteAttribute(u"Markup", markup));
        KX_CHECK(ctx, w.WriteAttribute(u"Value", value.c_str()));
        if (show) KX_CHECK(ctx, w.WriteAttribute(u"State", LONG{state}));
        break;
      case kFieldSketch:
        KX_CHECK(ctx, w.WriteAttribute(u"TLX", LONG{tlx}));
        KX_CHECK(ctx, w.WriteAttribute(u"TLY", LONG{tly}));
        KX_CHECK(ctx, w.WriteAttribute(u"BRX", LONG{brx}));
        KX_CHECK(ctx, w.WriteAttribute(u"BRY", LONG{bry}));
        if (!definition) {
          KX_CHECK(ctx, w.WriteAttribute(u"State", LONG{state}));
          KX_CHECK(ctx, w.WriteAttribute(u"Value", value.c_str()));
        }
        break;
      default:
        // Real and Integer add the number decorations to Bool and Date,
        // which add the format to String, which adds the alignments to
        // Check and Radio.
        if ((typeId == kFieldReal || typeId == kFieldInteger) && !definition) {
          writeText(u"Prefix", prefix);
          writeText(u"Postfix", postfix);
          writeText(u"Substitution", substitution);
        }
        if (typeId == kFieldReal || typeId == kFieldInteger || typeId == kFieldBool ||
            typeId == kFieldDate) {
          writeText(u"Format", format);
        }
        if (typeId != kFieldCheck && typeId != kFieldRadio) {
          if (alignment >= 0) KX_CHECK(ctx, w.WriteAttribute(u"Alignment", LONG{alignment}));
          if (verticalAlignment != -1) {
            KX_CHECK(ctx, w.WriteAttribute(u"VerticalAlignment", LONG{verticalAlignment}));
          }
        }
        if (definition) {
          if (typeId == kFieldRadio) writeText(u"Value", value);
        } else {
          KX_CHECK(ctx, w.WriteAttribute(u"State", LONG{state}));
          writeText(u"Value", value);
        }
        if (index >= 0) KX_CHECK(ctx, w.WriteAttribute(u"Index", LONG{index}));
        break;
    }
    KX_CHECK(ctx, w.EndElement(name.c_str()));
    KX_CHECK(ctx, w.GetString(text));
    return S_OK;
  }
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return ctx.Return();
}
