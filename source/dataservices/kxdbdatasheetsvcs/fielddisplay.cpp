// Field display, status and hidden objects, and the small helpers the route
// walks use to step through list views.
#include "com/wstr.h"
#include "fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxdbdatasheetutils.h"
#include "kxfielddata.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldutils";
constexpr OLECHAR kUtilsFile[] = u"source/dataservices/dataserviceinclude/dataserviceutils";

bool IsOneOf(const _bstr_t& name, std::initializer_list<const OLECHAR*> names) {
  const OLECHAR* text = name.length() > 0 ? static_cast<const OLECHAR*>(name) : u"";
  for (const OLECHAR* candidate : names) {
    if (_wcsicmp(text, candidate) == 0) return true;
  }
  return false;
}

}  // namespace

namespace FieldUtils {

void GetFieldRootObject(IKXQObject* page, IKXQTemplateField* field, IKXQObjectPtr& object) {
  KXComException ctx(u"FieldUtils::GetFieldRootObject", 3);
  IKXQClassViewPtr node;
  GetTemplateFieldNode(page, field, true, node);
  KXDBDatasheetSvcs::GetNodeObject(object, page, node);
}

void GetFieldRootObject(IKXQObject* page, IKXQTemplateField* field, int32_t row,
                        IKXQObjectPtr& object) {
  KXComException ctx(u"FieldUtils::GetFieldRootObject", 3);
  IKXQClassViewPtr node;
  GetTemplateFieldNode(page, field, true, node);
  KXDBDatasheetSvcs::GetNodeObjectAtRow(object, page, row, node);
}

void GetFieldDisplayFormat(IKXQTemplateField* field, IKXQAttribute* fields, int32_t fieldNumber,
                           _bstr_t& typeName, int32_t* alignment, int32_t* verticalAlignment,
                           _bstr_t& format) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetFieldDisplayFormat");
  typeName = _bstr_t();
  format = _bstr_t();
  *alignment = -1;
  *verticalAlignment = -1;
  CheckPointerArgument(ctx, field);
  KX_CHECK(ctx, field->get_TypeName(typeName.GetAddress()));
  if (IsOneOf(typeName, {u"Sketch", u"Radio", u"Check"})) return;
  if (fields != nullptr && fieldNumber >= 1 && fieldNumber <= GetAttributeCount(fields)) {
    _bstr_t stored;
    KXDBDatasheetSvcs::GetAttributeValueStringAt(fields, fieldNumber, stored);
    if (stored.length() > 0) {
      KXFieldData record;
      const HRESULT hr = record.ParseFieldData(kFieldCleared, stored, -1);
      if (FAILED(hr)) {
        ctx.hr = hr;
        ctx.TakeThreadErrorInfo();
        ThrowIfFailed(ctx);
      }
      if (!record.format.IsNull()) format = _bstr_t(record.format.c_str());
      *alignment = record.alignment;
      *verticalAlignment = record.verticalAlignment;
    }
  }
  if (*alignment < 0) {
    LONG value = -1;
    KX_CHECK(ctx, field->get_Alignment(&value));
    *alignment = value;
  }
  if (*verticalAlignment < 0) {
    LONG value = -1;
    KX_CHECK(ctx, field->get_VerticalAlignment(&value));
    *verticalAlignment = value;
  }
}

void GetObjectStatusFlags(IKXQFieldValue* holder, const VARIANT& position, int32_t* flags) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetObjectStatusFlags");
  CheckPointerArgument(ctx, holder);
  VARIANT_BOOL s[5] = {VARIANT_FALSE, VARIANT_FALSE, VARIANT_FALSE, VARIANT_FALSE, VARIANT_TRUE};
  KX_CHECK(ctx, holder->GetStates(position, &s[0], &s[1], &s[2], &s[3], &s[4]));
  const int32_t bits[4] = {kFieldStatus1, kFieldStatus2, kFieldStatus3, kFieldStatus4};
  for (int i = 0; i < 4; ++i) {
    if (s[i] == VARIANT_TRUE) *flags |= bits[i];
  }
  if (s[4] == VARIANT_FALSE) *flags |= kFieldStatusOutOfScope;
}

void GetQualifierScopeFlag(IKXQObject* page, IKXQTemplateField* field, int32_t* flags) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetQualifierScopeFlag");
  int32_t qualifier = -1;
  SAFEARRAY* raw = nullptr;
  GetFieldQualifier(page, field, &qualifier, &raw);
  VariantUtil::SafeArrayVector nodes(raw, true);
  if (nodes.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
  IKXQObjectPtr last;
  for (int32_t i = 0; i < nodes.Count(); ++i) {
    IKXQClassViewPtr node;
    const HRESULT hr = nodes.GetClassViewAt(i, &node);
    if (FAILED(hr)) {
      ctx.hr = hr;
      ctx.TakeThreadErrorInfo();
      ThrowIfFailed(ctx);
    }
    IKXQObjectPtr object;
    KXDBDatasheetSvcs::GetNodeObject(object, page, node);
    if (!object) break;
    last = object;
  }
  if (last && !KXDBDatasheetSvcs::IsObjectScoped(last)) *flags |= kFieldStatusOutOfScope;
}

void UpdateHiddenObjects(IKXQObject* page, IKXQClassView* node, bool flag) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::UpdateHiddenObjects");
  CheckPointerArgument(ctx, node);
  IKXQAttributePtr hidden;
  GetAttributeInterface(page, u"HiddenObjects", hidden);
  CheckPointerArgument(ctx, hidden.GetInterfacePtr());
  LONG index = -1;
  KX_CHECK(ctx, node->get_NodeIndex(&index));
  if (index < 0) return;
  KXDBDatasheetSvcs::SetAttributeIntegerAt(hidden, index + 1, flag ? 0 : -1);
}

void CoerceToView(const VARIANT& value, IKXQViewPtr& view) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::CoerceToView");
  view = nullptr;
  const VARIANT& resolved = ResolveVariant(value);
  const VARTYPE type = V_VT(&resolved);
  if (type == VT_EMPTY || type == VT_NULL || type == VT_ERROR) return;
  IUnknown* unknown = nullptr;
  if (type == VT_UNKNOWN || type == VT_DISPATCH) {
    unknown = resolved.punkVal;
  } else if (type == (VT_UNKNOWN | VT_BYREF) || type == (VT_DISPATCH | VT_BYREF)) {
    unknown = resolved.ppunkVal != nullptr ? *resolved.ppunkVal : nullptr;
  } else {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kUtilsFile), E_FAIL,
                            u"Unable to coerce argument to an KXView");
  }
  if (unknown == nullptr) return;
  if (FAILED(unknown->QueryInterface(IID_IKXQView, reinterpret_cast<void**>(&view))) || !view) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kUtilsFile), E_FAIL,
                            u"Unable to coerce argument to an KXView");
  }
}

void GetValueAsView(IKXQFieldValue* holder, int32_t position, IKXQViewPtr& view) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetValueAsView");
  view = nullptr;
  CheckPointerArgument(ctx, holder);
  _variant_t value;
  KX_CHECK(ctx, holder->GetViewAt(_variant_t(static_cast<LONG>(position)), &value));
  CoerceToView(value, view);
}

void GetFirstFreeListEntry(IKXQFieldValue* holder, IKXQViewPtr& view, IKXQObjectPtr& object) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetFirstFreeListEntry");
  view = nullptr;
  object = nullptr;
  CheckPointerArgument(ctx, holder);
  LONG count = 0;
  KX_CHECK(ctx, holder->get_Count(&count));
  LONG position = 1;
  for (; position <= count; ++position) {
    IKXQViewPtr taken;
    GetValueAsView(holder, position, taken);
    if (!taken) break;
    IKXQObjectPtr member;
    KX_CHECK(ctx, taken->get_Object(&member));
    if (!member) break;
  }
  KX_CHECK(ctx, holder->GetViewForWrite(_variant_t(position), &view));
  if (view) KX_CHECK(ctx, view->get_Object(&object));
}

bool IsContained(IKXQFieldValue* holder) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::IsContained");
  CheckPointerArgument(ctx, holder);
  VARIANT_BOOL contained = VARIANT_FALSE;
  KX_CHECK(ctx, holder->get_IsContained(&contained));
  return contained != VARIANT_FALSE;
}

int32_t GetDataType(IKXQFieldValue* holder) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetDataType");
  CheckPointerArgument(ctx, holder);
  LONG type = 0;
  KX_CHECK(ctx, holder->get_DataType(&type));
  return type;
}

void GetObjectView(IKXQObject* object, IUnknown* definition, IKXQViewPtr& view) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetObjectView");
  view = nullptr;
  CheckPointerArgument(ctx, object);
  IDispatchPtr dispatch;
  if (definition != nullptr) {
    KX_CHECK(ctx, definition->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
  }
  KX_CHECK(ctx, object->GetView(_variant_t(dispatch.GetInterfacePtr()), &view));
}

}  // namespace FieldUtils

namespace KXDBDatasheetSvcs {

bool IsNodeObjectHidden(IKXQObject* page, IKXQClassView* node, bool strict) {
  KXComException ctx(u"KXDBDatasheetSvcs::IsNodeObjectHidden", 3);
  CheckPointerArgument(ctx, node);
  IKXQAttributePtr hidden;
  GetAttributeInterface(page, u"HiddenObjects", hidden);
  if (!hidden) return false;
  LONG index = -1;
  KX_CHECK(ctx, node->get_NodeIndex(&index));
  if (index < 0 || GetAttributeCount(hidden) < index + 1) return false;
  bool has = false;
  const int32_t mark = GetAttributeIntegerAt(hidden, index + 1, &has);
  if (!has) return false;
  return mark == -1 || !strict;
}

}  // namespace KXDBDatasheetSvcs
