// The field model: values as text by data type, field lookups, display and
// status bits, hidden nodes, and the route walks (plain pages with
// placement, index shift and the route cache; continuous lists from a row
// object; node chains, object vectors and qualifier routes).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "com/wstr.h"
#include "model/continuouspageadvisor.h"
#include "fields/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "fields/kxfielddata.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "main/main.h"
#include "fields/routecache.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldutils";

// The leading decimal number of a text, as "%lf" reads it (blanks, sign,
// digits, fraction, exponent; "." the decimal point whatever the locale).
// False when the text does not begin with one.
bool ReadLeadingDouble(const OLECHAR* text, double* out) {
  if (text == nullptr) return false;
  const OLECHAR* p = text;
  while (*p == u' ' || *p == u'\t' || *p == u'\r' || *p == u'\n') ++p;
  const OLECHAR* start = p;
  if (*p == u'+' || *p == u'-') ++p;
  size_t digits = 0;
  while (*p >= u'0' && *p <= u'9') ++p, ++digits;
  if (*p == u'.') {
    ++p;
    while (*p >= u'0' && *p <= u'9') ++p, ++digits;
  }
  if (digits == 0) return false;
  if (*p == u'e' || *p == u'E') {
    const OLECHAR* q = p + 1;
    if (*q == u'+' || *q == u'-') ++q;
    if (*q >= u'0' && *q <= u'9') {
      while (*q >= u'0' && *q <= u'9') ++q;
      p = q;
    }
  }
  return kx_parse_double(std::u16string_view(start, static_cast<size_t>(p - start)), out);
}

// The format VARIANT of a real: the caller's unit, else the value's own.
_variant_t RealFormat(KXComException& ctx, IKXQFieldValue* holder, const OLECHAR* unit) {
  if (unit != nullptr && *unit != 0) return _variant_t(unit);
  _bstr_t own;
  KX_CHECK(ctx, holder->get_UnitText(_variant_t(), own.GetAddress()));
  return _variant_t(static_cast<const OLECHAR*>(own) != nullptr ? static_cast<const OLECHAR*>(own)
                                                                  : u"");
}

}  // namespace

namespace VariantUtil {

bool FromXMLText(VARIANT* out, const OLECHAR* text, VARTYPE type) {
  KXComException ctx = KXComException::Silent(u"VariantUtil::FromXMLText");
  VariantClear(out);
  V_VT(out) = VT_NULL;
  const bool empty = text == nullptr || *text == 0;
  switch (type) {
    case VT_BSTR:
      V_VT(out) = VT_BSTR;
      V_BSTR(out) = SysAllocString(text != nullptr ? text : u"");
      if (V_BSTR(out) == nullptr) {
        V_VT(out) = VT_NULL;
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_OUTOFMEMORY, nullptr);
      }
      break;
    case VT_I4:
      if (!empty) {
        V_VT(out) = VT_I4;
        V_I4(out) = _wtol(text);
      }
      break;
    case VT_R8:
    case VT_DATE: {
      double number = 0;
      if (!empty && ReadLeadingDouble(text, &number)) {
        V_VT(out) = type;
        if (type == VT_R8) {
          V_R8(out) = number;
        } else {
          V_DATE(out) = number;
        }
      }
      break;
    }
    case VT_BOOL:
      if (!empty) {
        bool flag = false;
        if (FAILED(ParseBoolean(text, &flag))) {
          ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                                  u"'%ls' is not a Boolean value", text);
        }
        V_VT(out) = VT_BOOL;
        V_BOOL(out) = flag ? VARIANT_TRUE : VARIANT_FALSE;
      }
      break;
    default:
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"No defined XML format for given type");
  }
  return V_VT(out) == type;
}

}  // namespace VariantUtil

namespace FieldUtils {

void SetAttributeValueFromText(IKXQFieldValue* holder, const VARIANT& position,
                               const OLECHAR* text, const OLECHAR* unit) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::SetAttributeValueFromText");
  if (holder == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  const IKXQFieldValuePtr held(holder);
  if (text == nullptr || *text == 0) {
    KX_CHECK(ctx, holder->ClearValue(position));
    return;
  }
  _variant_t format;
  _variant_t value;
  bool converted = true;
  switch (FieldUtils::GetDataType(holder)) {
    case KXQ_TYPE_TEXT:
    case KXQ_TYPE_STRING:
      value = _variant_t(text);
      break;
    case KXQ_TYPE_BINARY:
      format = _variant_t(u"Base64");
      value = _variant_t(text);
      break;
    case KXQ_TYPE_REAL:
      format = RealFormat(ctx, holder, unit);
      converted = VariantUtil::FromXMLText(&value, text, VT_R8);
      break;
    case KXQ_TYPE_INTEGER:
      converted = VariantUtil::FromXMLText(&value, text, VT_I4);
      break;
    case KXQ_TYPE_DATE:
      converted = VariantUtil::FromXMLText(&value, text, VT_DATE);
      break;
    case KXQ_TYPE_BOOLEAN:
      converted = VariantUtil::FromXMLText(&value, text, VT_BOOL);
      break;
    default: {
      _bstr_t name;
      (void)holder->get_Name(name.GetAddress());
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"Unknown data type defined for attribute %ls",
                              static_cast<const OLECHAR*>(name) != nullptr
                                  ? static_cast<const OLECHAR*>(name)
                                  : u"");
    }
  }
  const HRESULT hr = holder->PutValue(position, format, value);
  if (SUCCEEDED(hr)) return;
  ctx.hr = hr;
  ctx.TakeThreadErrorInfo();
  if (converted) ThrowIfFailed(ctx);
  // The store refused the empty value of a text that is no number: say so.
  _bstr_t name;
  (void)holder->get_Name(name.GetAddress());
  ThrowIfFailed(ctx, u"'%ls' is not a number for attribute %ls", text,
                static_cast<const OLECHAR*>(name) != nullptr ? static_cast<const OLECHAR*>(name)
                                                              : u"");
}

void GetAttributeValueText(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& text,
                           const OLECHAR* unit) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetAttributeValueText");
  text = _bstr_t();
  if (holder == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  VARIANT_BOOL has = VARIANT_FALSE;
  KX_CHECK(ctx, holder->HasValue(position, &has));
  if (has == VARIANT_FALSE) return;
  _variant_t format;
  const LONG type = FieldUtils::GetDataType(holder);
  if (type == KXQ_TYPE_REAL) {
    format = RealFormat(ctx, holder, unit);
  } else if (type == KXQ_TYPE_BINARY) {
    format = _variant_t(u"Base64");
  }
  _variant_t value;
  KX_CHECK(ctx, holder->GetValue(position, format, &value));
  if (V_VT(&value) == VT_BSTR) {
    text = _bstr_t(V_BSTR(&value));
    return;
  }
  BSTR formatted = nullptr;
  VariantUtil::FormatForXML(value, &formatted);
  text = _bstr_t(formatted, false);
}

}  // namespace FieldUtils

namespace KXDBDatasheetSvcs {

namespace {

bool HasNumberTexts(KXComException& ctx, IKXQFieldValue* holder) {
  if (holder == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  const LONG type = FieldUtils::GetDataType(holder);
  return type == KXQ_TYPE_REAL || type == KXQ_TYPE_INTEGER;
}

}  // namespace

void WriteViewNumberTexts(IKXQFieldValue* holder, const VARIANT& position, const OLECHAR* prefix,
                          const OLECHAR* postfix, const OLECHAR* substitution) {
  KXComException ctx(u"KXDBDatasheetSvcs::WriteViewNumberTexts");
  if (!HasNumberTexts(ctx, holder)) return;
  // A text is written only when it changes: each write is a store change
  // of its own, and most requests send the texts the value already has.
  _bstr_t oldPrefix;
  _bstr_t oldPostfix;
  _bstr_t oldSubstitution;
  KX_CHECK(ctx, holder->GetPrefix(position, oldPrefix.GetAddress()));
  KX_CHECK(ctx, holder->GetPostfix(position, oldPostfix.GetAddress()));
  KX_CHECK(ctx, holder->GetSubstitution(position, oldSubstitution.GetAddress()));
  const auto same = [](const _bstr_t& stored, const OLECHAR* text) {
    return stored.view() == std::u16string_view(text != nullptr ? text : u"");
  };
  if (!same(oldPrefix, prefix)) KX_CHECK(ctx, holder->PutPrefix(position, _bstr_t(prefix)));
  if (!same(oldPostfix, postfix)) KX_CHECK(ctx, holder->PutPostfix(position, _bstr_t(postfix)));
  if (!same(oldSubstitution, substitution)) {
    KX_CHECK(ctx, holder->PutSubstitution(position, _bstr_t(substitution)));
  }
}

void ReadViewNumberTexts(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& prefix,
                         _bstr_t& postfix, _bstr_t& substitution) {
  KXComException ctx(u"KXDBDatasheetSvcs::ReadViewNumberTexts");
  if (!HasNumberTexts(ctx, holder)) return;
  KX_CHECK(ctx, holder->GetPrefix(position, prefix.GetAddress()));
  KX_CHECK(ctx, holder->GetPostfix(position, postfix.GetAddress()));
  KX_CHECK(ctx, holder->GetSubstitution(position, substitution.GetAddress()));
}

}  // namespace KXDBDatasheetSvcs

namespace {

constexpr OLECHAR kAdvisorFile[] = u"source/dataservices/kxdbdatasheetsvcs/continuouspageadvisor";

// The value at `position` + 1 of the page's list `name` as an integer;
// `has` false when the list or the entry holds none.
int32_t PageListInteger(IKXQObject* page, const OLECHAR* name, int32_t position, bool* has) {
  *has = false;
  IKXQAttributePtr list;
  GetAttributeInterface(page, name, list);
  if (!list || position < 0 || GetAttributeCount(list) < position + 1) return 0;
  return KXDBDatasheetSvcs::GetAttributeIntegerAt(list, position + 1, has);
}

}  // namespace

namespace FieldUtils {

int32_t GetFieldCase(IKXQObject* page, IKXQTemplateField* field, int32_t* casePosition,
                     bool* defined) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetFieldCase");
  if (defined != nullptr) *defined = false;
  if (casePosition != nullptr) *casePosition = -1;
  CheckPointerArgument(ctx, field);
  LONG position = -1;
  KX_CHECK(ctx, field->get_CasePosition(&position));
  if (casePosition != nullptr) *casePosition = position;
  if (position < 0) return -1;
  bool has = false;
  const int32_t caseId = PageListInteger(page, u"Cases", position, &has);
  if (defined != nullptr) *defined = has;
  return has ? caseId : -1;
}

void GetFieldQualifier(IKXQObject* page, IKXQTemplateField* field, int32_t* qualifier,
                       SAFEARRAY** nodes) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetFieldQualifier");
  *nodes = nullptr;
  *qualifier = -1;
  CheckPointerArgument(ctx, field);
  LONG position = -1;
  KX_CHECK(ctx, field->get_QualifierPosition(&position));
  if (position >= 0) {
    bool has = false;
    *qualifier = PageListInteger(page, u"Qualifiers", position, &has);
    if (*qualifier < 0) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Qualifier for field is not set");
    }
  }
  KX_CHECK(ctx, field->GetNodeList(*qualifier, nodes));
}

void GetTemplateFieldNode(IKXQObject* page, IKXQTemplateField* field, bool first,
                          IKXQClassViewPtr& node) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetTemplateFieldNode");
  node = nullptr;
  int32_t qualifier = -1;
  SAFEARRAY* raw = nullptr;
  GetFieldQualifier(page, field, &qualifier, &raw);
  VariantUtil::SafeArrayVector nodes(raw, true);
  if (nodes.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
  const HRESULT hr = nodes.Count() > 0
                         ? nodes.GetClassViewAt(first ? 0 : nodes.Count() - 1, &node)
                         : E_FAIL;
  if (FAILED(hr) || !node) {
    ClearThreadErrorInfo();
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), FAILED(hr) ? hr : E_FAIL,
                            u"Invalid template field definition");
  }
}

void GetTemplateField(IKXQTemplatePage* templatePage, const OLECHAR* fieldData, int32_t position,
                      IKXQTemplateFieldPtr& field) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetTemplateField");
  field = nullptr;
  CheckPointerArgument(ctx, templatePage);
  int32_t fieldId = -1;
  if (fieldData != nullptr && *fieldData != 0) {
    KXFieldData record;
    const HRESULT hr = record.ParseFieldData(kFieldCleared, _bstr_t(fieldData), -1);
    if (FAILED(hr)) {
      ctx.hr = hr;
      ctx.TakeThreadErrorInfo();
      ThrowIfFailed(ctx);
    }
    fieldId = record.fieldId;
  }
  if (fieldId >= 0) {
    _variant_t number;
    KX_CHECK(ctx, templatePage->GetFieldById(fieldId, &number, &field));
  } else {
    KX_CHECK(ctx, templatePage->get_Field(position, &field));
  }
}

int32_t GetTemplateFieldNumber(IKXQTemplatePage* templatePage, int32_t fieldId,
                               IKXQTemplateFieldPtr& field) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetTemplateFieldNumber");
  field = nullptr;
  CheckPointerArgument(ctx, templatePage);
  _variant_t number;
  KX_CHECK(ctx, templatePage->GetFieldById(fieldId, &number, &field));
  LONG result = 0;
  const HRESULT hr = VariantToLong(number, &result, false);
  if (FAILED(hr)) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr, nullptr);
  return result;
}

int32_t GetContinuousFieldNumber(const ContinuousPageHelper& helper, IKXQTemplateField* field,
                                 int32_t row) {
  KXComException ctx = KXComException::Silent(u"ContinuousPageHelper::GetFieldNumber");
  CheckPointerArgument(ctx, field);
  LONG id = -1;
  KX_CHECK(ctx, field->get_Id(&id));
  const std::vector<int32_t>& ids = helper.FieldNodeIds();
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] != id) continue;
    const auto place = static_cast<int64_t>(i);
    if (row < 0) return static_cast<int32_t>(place + 1);
    // A row from a request may lie far beyond any list: a number past the
    // integer range names no field.
    const int64_t number = int64_t{helper.FieldsPerRow()} * row + place + 1;
    if (number > INT32_MAX) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kAdvisorFile), DISP_E_BADINDEX,
                              u"Row %d is beyond the rows of continuous template %ls",
                              static_cast<int>(row), helper.TemplateKey().c_str());
    }
    return static_cast<int32_t>(number);
  }
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kAdvisorFile), E_FAIL,
                          u" Field %d not found in continuous template %ls ",
                          static_cast<int>(id), helper.TemplateKey().c_str());
}

int32_t GetFieldNumber(Main& main, IKXQObject* page, int32_t fieldId, int32_t row,
                       IKXQTemplateFieldPtr& field) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetFieldNumber");
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
  const int32_t number = GetTemplateFieldNumber(templatePage, fieldId, field);
  _bstr_t format;
  KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
  if (format.length() == 0) return number;
  ContinuousPageHelper& helper = main.GetContinuousPageHelper();
  helper.InitializeTemplate(main.m_pApplication, templatePage, false);
  return GetContinuousFieldNumber(helper, field, row);
}

bool CheckListContiguity(Main& main, IKXQObject* /*page*/, int32_t row) {
  if (row <= main.GetContinuousPageHelper().RowCount()) return true;
  XMLReply::BeginMessage(main, u"App", -1);
  XMLReply::WriteMessage(main, u"ALERT", -1,
                         _bstr_t(u"List items must be contiguous without blank entries. Please "
                                 u"enter data into first blank row or column."));
  XMLReply::EndMessage(main);
  return false;
}

int32_t GetItemNumberByKey(IKXQFieldValue* holder, const VARIANT& position) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetItemNumberByKey");
  CheckPointerArgument(ctx, holder);
  IKXQValueItemPtr item;
  KX_CHECK(ctx, holder->GetItem(position, &item));
  if (!item) return -1;
  LONG number = -1;
  KX_CHECK(ctx, item->get_Number(&number));
  return number;
}

}  // namespace FieldUtils

namespace {

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

int32_t GetAnnotation(IKXQObject* page, int32_t annotationId, bool mustExist, _bstr_t& text) {
  KXComException ctx(u"FieldUtils::GetAnnotation");
  text = _bstr_t();
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  IKXQAttributePtr annotations;
  GetAttributeInterface(page, u"Annotations", annotations);
  if (!annotations) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  const int32_t count = GetAttributeCount(annotations);
  for (int32_t i = 1; i <= count; ++i) {
    _bstr_t stored;
    KXDBDatasheetSvcs::GetAttributeValueStringAt(annotations, i, stored);
    if (stored.length() == 0) continue;
    KXFieldData record;
    KX_CHECK(ctx, record.SelectField(stored, -1));
    if (record.fieldId == annotationId) {
      text = stored;
      return i;
    }
  }
  if (mustExist) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Failed to find annotation %d",
                            static_cast<int>(annotationId));
  }
  return -1;
}

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

namespace {


// ---- Node names -------------------------------------------------------------

// "Nozzles(2)": the last "(" stands at position 1 or later, before the last ")".
bool IsIndexedName(std::u16string_view name) {
  const size_t open = name.rfind(u'(');
  const size_t close = name.rfind(u')');
  return open != std::u16string_view::npos && open >= 1 && close != std::u16string_view::npos &&
         open < close;
}

// The text before the last "(" (the whole name without one).
std::u16string_view ListPrefix(std::u16string_view name) {
  const size_t open = name.rfind(u'(');
  return open == std::u16string_view::npos ? name : name.substr(0, open);
}

// The text before the first "(", "[" or blank.
std::u16string ClassToken(std::u16string_view name) {
  const size_t stop = name.find_first_of(u"([ ");
  return std::u16string(stop == std::u16string_view::npos ? name : name.substr(0, stop));
}

bool SameNoCase(std::u16string_view a, std::u16string_view b) {
  return kx_wcsicmp(a, b) == 0;
}

// ---- Small store reads ------------------------------------------------------

void Raise(KXComException& ctx, HRESULT hr) {
  ctx.hr = hr;
  ctx.TakeThreadErrorInfo();
  ThrowIfFailed(ctx);
}

SAFEARRAY* ReadNodes(IKXQObject* page, IKXQTemplateField* field, int32_t* qualifier) {
  SAFEARRAY* raw = nullptr;
  FieldUtils::GetFieldQualifier(page, field, qualifier, &raw);
  return raw;
}

// The node list of the field for its qualifier value, root first.
struct NodeList {
  NodeList(IKXQObject* page, IKXQTemplateField* field)
      : raw(ReadNodes(page, field, &qualifier)), nodes(raw, true) {
    if (nodes.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
  }
  int32_t qualifier = -1;
  SAFEARRAY* raw;
  VariantUtil::SafeArrayVector nodes;
};

void NodeAt(KXComException& ctx, const NodeList& list, int32_t index, IKXQClassViewPtr& node,
            const OLECHAR* failure = nullptr) {
  node = nullptr;
  const HRESULT hr = list.nodes.GetClassViewAt(index, &node);
  if (SUCCEEDED(hr) && node) return;
  if (failure == nullptr) Raise(ctx, FAILED(hr) ? hr : E_POINTER);
  ClearThreadErrorInfo();
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), FAILED(hr) ? hr : E_FAIL, u"%ls", failure);
}

std::u16string NodeName(KXComException& ctx, IKXQClassView* node) {
  _bstr_t name;
  KX_CHECK(ctx, node->get_Name(name.GetAddress()));
  return std::u16string(name.view());
}

IKXQViewDefinitionPtr NodeDefinition(KXComException& ctx, IKXQClassView* node) {
  IKXQViewDefinitionPtr definition;
  KX_CHECK(ctx, node->get_Definition(&definition));
  return definition;
}

IKXQObjectPtr ViewObject(KXComException& ctx, IKXQView* view) {
  IKXQObjectPtr object;
  KX_CHECK(ctx, view->get_Object(&object));
  return object;
}

IKXQObjectPtr OwnerOf(KXComException& ctx, IKXQObject* object) {
  IKXQObjectPtr owner;
  KX_CHECK(ctx, object->GetOwner(&owner, 0));
  return owner;
}

LONG NodeIndexOf(KXComException& ctx, IKXQClassView* node) {
  LONG index = -1;
  KX_CHECK(ctx, node->get_NodeIndex(&index));
  return index;
}

IKXQClassViewPtr ParentOf(KXComException& ctx, IKXQClassView* node) {
  IKXQClassViewPtr parent;
  KX_CHECK(ctx, node->get_Parent(&parent));
  return parent;
}

// The step value as a list position: strict for integers held by
// reference, else converted to an integer; 0 when the step gave none.
int32_t StepPosition(KXComException& ctx, const VARIANT& value) {
  if (!IsVariantSet(value)) return 0;
  LONG position = 0;
  if ((V_VT(&value) & VT_BYREF) != 0) {
    const HRESULT hr = VariantToLong(value, &position, false);
    if (FAILED(hr)) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr, nullptr);
    return position;
  }
  _variant_t converted;
  KX_CHECK(ctx, VariantChangeType(&converted, &value, 0, VT_I4));
  return V_I4(&converted);
}

// The view of the holder's value at the step position: the read form, or in
// write mode the form that creates a missing object.
void StepView(KXComException& ctx, IKXQFieldValue* holder, const VARIANT& stepValue, bool write,
              IKXQViewPtr& view) {
  const int32_t position = StepPosition(ctx, stepValue);
  if (write) {
    view = nullptr;
    KX_CHECK(ctx, holder->GetViewForWrite(_variant_t(static_cast<LONG>(position)), &view));
  } else {
    FieldUtils::GetValueAsView(holder, position, view);
  }
}

// The value of "NodeIndices" at the node's index + 1 (0 when none).
int32_t NodeIndexEntry(IKXQAttribute* indices, LONG nodeIndex, bool* has) {
  *has = false;
  if (nodeIndex < 0 || GetAttributeCount(indices) < nodeIndex + 1) return 0;
  return KXDBDatasheetSvcs::GetAttributeIntegerAt(indices, nodeIndex + 1, has);
}

// ---- The walk ---------------------------------------------------------------

// What a check asks the walk to do next.
enum class Next { kGoOn, kEnd, kRestart };

struct Walk {
  Walk(KXComException& context, IKXQObject* walkPage, IKXQTemplateField* walkField, int32_t walkCase,
       bool writeMode, SAFEARRAY* shiftTable, bool again)
      : page(walkPage), field(walkField), caseId(walkCase), write(writeMode), shift(shiftTable),
        restarted(again), ctx(context) {}

  IKXQObject* page;
  IKXQTemplateField* field;
  int32_t caseId;
  bool write;
  SAFEARRAY* shift;
  bool restarted;  // a walk restarts at most once after a duplicate
  KXComException& ctx;
  IKXQAttributePtr objects;
  IKXQAttributePtr indices;
  IKXQObjectPtr root;
  RouteCache::PlacedSet placed;

  // The page's placed-object set, from the cache or built and cached.
  void LoadPlacedSet() {
    RouteCache& cache = RouteCache::Instance();
    cache.Lookup(page, placed);
    if (placed.GetCount() > 0) return;
    const int32_t count = GetAttributeCount(objects);
    for (int32_t p = 1; p <= count; ++p) {
      IKXQObjectPtr object;
      GetAttributeAsObject(objects, p, object);
      if (!object) continue;
      int32_t at = 0;
      if (!placed.Find(object.GetInterfacePtr(), &at)) {
        placed.InsertAt(at);
        placed.SetAt(at, object.GetInterfacePtr());
      }
    }
    cache.Insert(page, placed);
  }

  void Place(IKXQClassView* node, IKXQObject* object) {
    KXDBDatasheetSvcs::GetPageNodeObjects(page, node, object, true);
    // The page's objects changed: the next walk builds its set again.
    RouteCache::Instance().Erase(page);
  }

  // An object already placed at an indexed node that the route no longer
  // leads to is taken off the page.
  Next StaleCheck(IKXQView* view, IKXQClassView* node, const std::u16string& name,
                  IKXQObject* placedObject) {
    const IKXQClassViewPtr parent = ParentOf(ctx, node);
    if (!parent || OwnerOf(ctx, placedObject)) return Next::kGoOn;
    const _bstr_t step = FieldUtils::ShiftRouteIndices(shift, name.c_str());
    _variant_t stepValue;
    IKXQFieldValuePtr holder;
    FieldUtils::GetRouteStep(view, step, caseId, write, &stepValue, &holder);
    if (holder) {
      LONG count = 0;
      KX_CHECK(ctx, holder->get_Count(&count));
      for (LONG k = 1; k <= count; ++k) {
        IKXQViewPtr member;
        FieldUtils::GetValueAsView(holder, k, member);
        if (member && ViewObject(ctx, member).GetInterfacePtr() == placedObject) return Next::kGoOn;
      }
    }
    bool hasParent = false;
    const int32_t parentAt = NodeIndexEntry(indices, NodeIndexOf(ctx, parent), &hasParent);
    IKXQObjectPtr parentObject;
    if (hasParent && parentAt >= 1 && parentAt <= GetAttributeCount(objects)) {
      GetAttributeAsObject(objects, parentAt, parentObject);
    }
    if (!parentObject) return Next::kGoOn;
    const LONG nodeIndex = NodeIndexOf(ctx, node);
    const int32_t count = GetAttributeCount(objects);
    bool hasOwn = false;
    int32_t position = NodeIndexEntry(indices, nodeIndex, &hasOwn);
    if (!hasOwn || position < 1 || position > count) {
      position = 0;
      for (int32_t p = 1; p <= count && position == 0; ++p) {
        IKXQObjectPtr value;
        GetAttributeAsObject(objects, p, value);
        if (value.GetInterfacePtr() == placedObject) position = p;
      }
    }
    if (position > 0) KXDBDatasheetSvcs::SetAttributeObjectAt(objects, position, nullptr);
    if (nodeIndex >= 0 && GetAttributeCount(indices) >= nodeIndex + 1) {
      KXDBDatasheetSvcs::ClearAttributeValueAt(indices, nodeIndex + 1);
    }
    RouteCache::Instance().Erase(page);
    return Next::kEnd;
  }

  // A list member found by route that a sibling node of the same list
  // already shows: read mode ends; write mode appends a fresh member.
  Next DuplicateCheck(IKXQClassView* node, const std::u16string& name, IKXQObject* candidate) {
    const IKXQClassViewPtr parent = ParentOf(ctx, node);
    if (!parent) return Next::kGoOn;
    const IKXQObjectPtr owner = OwnerOf(ctx, candidate);
    if (!owner) return Next::kGoOn;
    IKXQAttributePtr containing;
    KX_CHECK(ctx, candidate->get_ContainingAttribute(&containing));
    _bstr_t containingName;
    if (containing) KX_CHECK(ctx, containing->get_Name(containingName.GetAddress()));

    // Node indices at which the page shows the candidate.
    std::vector<int32_t> shownAt;
    const int32_t objectCount = GetAttributeCount(objects);
    const int32_t indexCount = GetAttributeCount(indices);
    for (int32_t p = 1; p <= objectCount; ++p) {
      IKXQObjectPtr value;
      GetAttributeAsObject(objects, p, value);
      if (value.GetInterfacePtr() != candidate) continue;
      for (int32_t j = 1; j <= indexCount; ++j) {
        bool has = false;
        if (KXDBDatasheetSvcs::GetAttributeIntegerAt(indices, j, &has) == p && has) {
          if (j - 1 > 0) shownAt.push_back(j - 1);
          break;
        }
      }
    }
    if (shownAt.empty()) return Next::kGoOn;

    SAFEARRAY* raw = nullptr;
    KX_CHECK(ctx, parent->get_Children(&raw));
    VariantUtil::SafeArrayVector children(raw, true);
    if (children.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
    const std::u16string_view prefix = ListPrefix(name);
    bool duplicate = false;
    for (int32_t i = 0; i < children.Count() && !duplicate; ++i) {
      IKXQClassViewPtr child;
      if (FAILED(children.GetClassViewAt(i, &child)) || !child) {
        ClearThreadErrorInfo();
        continue;
      }
      const LONG childIndex = NodeIndexOf(ctx, child);
      if (std::find(shownAt.begin(), shownAt.end(), childIndex) == shownAt.end()) continue;
      duplicate = SameNoCase(ListPrefix(NodeName(ctx, child)), prefix);
    }
    if (!duplicate) return Next::kGoOn;
    if (!write || restarted || containingName.length() == 0) return Next::kEnd;

    IKXQClassPtr cls;
    KX_CHECK(ctx, candidate->get_Class(&cls));
    if (!cls) return Next::kEnd;
    IKXQObjectPtr fresh;
    KX_CHECK(ctx, cls->CreateInstance(&fresh));
    if (!fresh) return Next::kEnd;
    IKXQAttributePtr list;
    GetAttributeInterface(owner, containingName, list);
    if (!list) return Next::kEnd;
    KX_CHECK(ctx, list->AddValue(_variant_t(static_cast<IDispatch*>(fresh.GetInterfacePtr())),
                                 VARIANT_TRUE, _variant_t()));
    Place(node, fresh);
    return Next::kRestart;
  }

  HRESULT Run(VARIANT* value, IKXQFieldValue** result) {
    const NodeList list(page, field);
    if (list.nodes.Count() == 0) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Invalid template field definition");
    }
    IKXQClassViewPtr rootNode;
    NodeAt(ctx, list, 0, rootNode, u"Invalid template field definition");
    KXDBDatasheetSvcs::GetNodeObject(root, page, rootNode);
    if (!root) return S_OK;
    IKXQViewPtr view;
    FieldUtils::GetObjectView(root, NodeDefinition(ctx, rootNode), view);

    GetAttributeInterface(page, u"NodeObjects", objects);
    GetAttributeInterface(page, u"NodeIndices", indices);
    CheckPointerArgument(ctx, objects.GetInterfacePtr());
    CheckPointerArgument(ctx, indices.GetInterfacePtr());
    LoadPlacedSet();
    const bool isPage = KXDBDatasheetSvcs::IsObjectOfClass(page, u"Page");

    for (int32_t i = 1; i < list.nodes.Count(); ++i) {
      if (!view) return S_OK;
      IKXQClassViewPtr node;
      NodeAt(ctx, list, i, node);
      const std::u16string name = NodeName(ctx, node);
      const bool indexed = IsIndexedName(name);
      IKXQObjectPtr present;
      KXDBDatasheetSvcs::GetNodeObject(present, page, node);

      if (present) {
        if (indexed && present != root &&
            StaleCheck(view, node, name, present) == Next::kEnd) {
          return S_OK;
        }
        IKXQViewDefinitionPtr definition;
        KX_CHECK(ctx, view->get_Definition(&definition));
        IKXQViewDefinitionPtr member;
        if (definition) {
          KX_CHECK(ctx, definition->get_Member(_bstr_t(ClassToken(name).c_str()), &member));
        }
        view = nullptr;
        if (member) FieldUtils::GetObjectView(present, member, view);
        continue;
      }

      if (!write && KXDBDatasheetSvcs::IsNodeObjectHidden(page, node, false)) return S_OK;
      const _bstr_t step = FieldUtils::ShiftRouteIndices(shift, name.c_str());
      _variant_t stepValue;
      IKXQFieldValuePtr holder;
      FieldUtils::GetRouteStep(view, step, caseId, write, &stepValue, &holder);
      view = nullptr;
      if (!holder) continue;
      StepView(ctx, holder, stepValue, write, view);
      if (!view) continue;
      IKXQObjectPtr candidate = ViewObject(ctx, view);
      if (!candidate) continue;
      if (indexed && candidate != root) {
        const Next next = DuplicateCheck(node, name, candidate);
        if (next == Next::kEnd) return S_OK;
        if (next == Next::kRestart) {
          Walk again(ctx, page, field, caseId, write, shift, true);
          return again.Run(value, result);
        }
      }
      int32_t at = 0;
      if (write && isPage && FieldUtils::IsContained(holder) &&
          FieldUtils::GetDataType(holder) == KXQ_TYPE_OBJECT &&
          placed.Find(candidate.GetInterfacePtr(), &at)) {
        FieldUtils::GetFirstFreeListEntry(holder, view, candidate);
      }
      if (candidate) Place(node, candidate);
    }
    if (!view) return S_OK;
    _bstr_t route;
    KX_CHECK(ctx, field->GetRoute(list.qualifier, route.GetAddress()));
    return FieldUtils::GetRouteStep(view, route, caseId, write, value, result);
  }
};

}  // namespace

namespace FieldUtils {

HRESULT GetRouteStep(IKXQView* view, const OLECHAR* route, int32_t caseId, bool write,
                     VARIANT* value, IKXQFieldValue** result) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetRouteStep");
  CheckPointerArgument(ctx, result);
  *result = nullptr;
  CheckPointerArgument(ctx, view);
  const _variant_t caseValue(static_cast<LONG>(caseId));
  _variant_t stepValue;
  IKXQFieldValuePtr holder;
  const _bstr_t text(route);
  if (write) {
    KX_CHECK(ctx, view->WriteRoute(text, caseValue, &stepValue, &holder));
  } else if (FAILED(view->ReadRoute(text, caseValue, &stepValue, &holder))) {
    ClearThreadErrorInfo();  // a missing link is an answer in read mode
    return S_OK;
  }
  if (!holder) return S_OK;
  if (value != nullptr && SUCCEEDED(VariantClear(value))) {
    KX_CHECK(ctx, VariantCopy(value, &stepValue));
  }
  *result = holder.Detach();
  return S_OK;
}

_bstr_t ShiftRouteIndices(SAFEARRAY* shift, const OLECHAR* text) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::ShiftRouteIndices");
  const _bstr_t unchanged(text);
  if (shift == nullptr || text == nullptr) return unchanged;
  VariantUtil::SafeArrayMatrix table;
  if (FAILED(table.Attach(shift, false))) {
    ClearThreadErrorInfo();
    return unchanged;
  }
  const std::u16string source(text);
  for (int32_t row = 0; row < table.Count2(); ++row) {
    _variant_t name;
    _variant_t offset;
    LONG nameAt[2] = {table.LowerBound1(), table.LowerBound2() + row};
    LONG offsetAt[2] = {table.LowerBound1() + 1, table.LowerBound2() + row};
    if (table.Count1() < 1 || FAILED(SafeArrayGetElement(shift, nameAt, &name))) continue;
    if (table.Count1() >= 2) (void)SafeArrayGetElement(shift, offsetAt, &offset);
    const VARIANT& rowName = ResolveVariant(name);
    const OLECHAR* key = nullptr;
    if (V_VT(&rowName) == VT_BSTR) key = V_BSTR(&rowName);
    if (V_VT(&rowName) == (VT_BSTR | VT_BYREF) && rowName.pbstrVal != nullptr) {
      key = *rowName.pbstrVal;
    }
    LONG delta = 0;
    if (FAILED(VariantToLong(offset, &delta, false))) delta = 0;
    if (key != nullptr && *key != 0) {
      const size_t keyLength = kx_wcslen(key);
      bool found = false;
      for (size_t at = 0; at + keyLength <= source.size() && !found; ++at) {
        found = _wcsnicmp(source.c_str() + at, key, keyLength) == 0;
      }
      if (!found) continue;
    }
    std::u16string shifted;
    for (size_t at = 0; at < source.size(); ++at) {
      shifted.push_back(source[at]);
      if (source[at] != u'(') continue;
      const LONG number = _wtol(source.c_str() + at + 1);
      while (at + 1 < source.size() && source[at + 1] >= u'0' && source[at + 1] <= u'9') ++at;
      // Positions past the integer range saturate, as the reading above does.
      const int64_t moved = std::clamp<int64_t>(int64_t{number} + delta, INT32_MIN, INT32_MAX);
      shifted += kx_ltow(static_cast<LONG>(moved));
    }
    ClearThreadErrorInfo();
    return _bstr_t(shifted.c_str());
  }
  ClearThreadErrorInfo();
  return unchanged;
}

HRESULT ResolveFieldRoute(IKXQObject* page, IKXQTemplateField* field, int32_t caseId, bool write,
                          SAFEARRAY* shift, VARIANT* value, IKXQFieldValue** result) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::ResolveFieldRoute");
  RouteCache::Instance().StartSweeper();
  CheckPointerArgument(ctx, result);
  *result = nullptr;
  CheckPointerArgument(ctx, page);
  CheckPointerArgument(ctx, field);
  Walk walk(ctx, page, field, caseId, write, shift, false);
  return walk.Run(value, result);
}

HRESULT ResolveFieldObject(IKXQObject* page, IKXQTemplateField* field, SAFEARRAY* shift,
                           VARIANT* value, IKXQFieldValue** result) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::ResolveFieldObject");
  try {
    CheckPointerArgument(ctx, result);
    *result = nullptr;
    bool defined = false;
    const int32_t caseId = GetFieldCase(page, field, nullptr, &defined);
    if (defined) ctx.hr = ResolveFieldRoute(page, field, caseId, false, shift, value, result);
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

HRESULT ParseContinuousListRoute(Main& main, IKXQObject* page, IKXQObject* rowObject,
                                 IKXQTemplateField* field, int32_t caseId, bool write,
                                 VARIANT* value, IKXQFieldValue** result) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::ParseContinuousListRoute");
  CheckPointerArgument(ctx, result);
  *result = nullptr;
  IKXQApplication* application = main.m_pApplication;
  auto fail = [&](const OLECHAR* warning) {
    if (application != nullptr) (void)application->LogWarning(_bstr_t(warning));
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Invalid template field definition");
  };
  const NodeList list(page, field);
  if (list.nodes.Count() == 0) fail(u"Parse Continuous List Route Error: Unable to retrieve nodes for field");
  IKXQClassViewPtr rootNode;
  if (FAILED(list.nodes.GetClassViewAt(0, &rootNode)) || !rootNode) {
    ClearThreadErrorInfo();
    fail(u"Parse Continuous List Route Error: Unable to retrieve root node");
  }
  const IKXQViewDefinitionPtr definition = NodeDefinition(ctx, rootNode);
  if (!definition) fail(u"Parse Continuous List Route Error: No class view for template root node");
  CheckPointerArgument(ctx, rowObject);
  IKXQViewPtr view;
  GetObjectView(rowObject, definition, view);
  IKXQObjectPtr current(rowObject);
  for (int32_t i = 1; i < list.nodes.Count(); ++i) {
    if (!view) return S_OK;
    IKXQClassViewPtr node;
    NodeAt(ctx, list, i, node);
    const std::u16string name = NodeName(ctx, node);
    if (!current) continue;
    _variant_t stepValue;
    IKXQFieldValuePtr holder;
    GetRouteStep(view, name.c_str(), caseId, write, &stepValue, &holder);
    view = nullptr;
    if (!holder) continue;
    StepView(ctx, holder, stepValue, write, view);
    if (view) current = ViewObject(ctx, view);
  }
  if (!view) return S_OK;
  _bstr_t route;
  KX_CHECK(ctx, field->GetRoute(list.qualifier, route.GetAddress()));
  return GetRouteStep(view, route, caseId, write, value, result);
}

void GetNodeChain(IKXQObject* page, IKXQClassView* start, ComPtrArray<IKXQClassView>& chain,
                  IKXQViewPtr& rootView) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetNodeChain");
  rootView = nullptr;
  CheckPointerArgument(ctx, start);
  IKXQClassViewPtr node(start);
  const int32_t first = chain.GetCount();
  while (node) {
    // A node that names itself or an ancestor as its parent ends the climb.
    for (int32_t k = first; k < chain.GetCount(); ++k) {
      if (chain.GetAt(k) == node.GetInterfacePtr()) node = nullptr;
    }
    if (!node) break;
    chain.Add(node);
    node = ParentOf(ctx, node);
  }
  IKXQClassView* root = chain.GetAt(chain.GetCount() - 1);
  IKXQObjectPtr object;
  KXDBDatasheetSvcs::GetNodeObject(object, page, root);
  if (!object) return;
  GetObjectView(object, NodeDefinition(ctx, root), rootView);
}

bool GetObjectVector(IKXQObject* page, IKXQClassView* node, ComPtrArray<IKXQObject>& objects,
                     IKXQFieldValuePtr& holder) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetObjectVector");
  holder = nullptr;
  ComPtrArray<IKXQClassView> chain;
  IKXQViewPtr rootView;
  GetNodeChain(page, node, chain, rootView);
  if (chain.GetCount() < 2 || !rootView) return false;
  std::u16string path;
  for (int32_t k = chain.GetCount() - 2; k >= 0; --k) {
    path += NodeName(ctx, chain.GetAt(k));
    if (k > 0) path += u".";
  }
  _variant_t stepValue;
  GetRouteStep(rootView, path.c_str(), -1, false, &stepValue, &holder);
  if (!holder) return false;
  const bool contained = IsContained(holder);
  if (contained && GetDataType(holder) == KXQ_TYPE_OBJECT) {
    IKXQValueItemPtr item;
    KX_CHECK(ctx, holder->GetItem(stepValue, &item));
    if (item) {
      IKXQObjectPtr owner;
      _bstr_t name;
      KX_CHECK(ctx, item->get_Object(&owner));
      KX_CHECK(ctx, item->get_Name(name.GetAddress()));
      IKXQAttributePtr list;
      if (owner) GetAttributeInterface(owner, name, list);
      const int32_t count = list ? GetAttributeCount(list) : 0;
      for (int32_t p = 1; p <= count; ++p) {
        IKXQObjectPtr member;
        GetAttributeAsObject(list, p, member);
        objects.Add(member);
      }
    }
  }
  return contained;
}

void ResolveQualifierRoute(IKXQObjectPtr& selected, IKXQObject* page, IKXQTemplateField* field,
                           SAFEARRAY* shift) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::ResolveQualifierRoute");
  selected = nullptr;
  const NodeList list(page, field);
  if (list.nodes.Count() == 0) return;
  IKXQViewPtr view;
  std::u16string path;
  for (int32_t i = 0; i < list.nodes.Count(); ++i) {
    IKXQClassViewPtr node;
    NodeAt(ctx, list, i, node);
    if (i == 0) {
      KXDBDatasheetSvcs::GetNodeObject(selected, page, node);
      if (selected) GetObjectView(selected, NodeDefinition(ctx, node), view);
      continue;
    }
    path += ShiftRouteIndices(shift, NodeName(ctx, node).c_str()).view();
    path += u".";
  }
  if (!view || path.empty()) return;
  _bstr_t route;
  KX_CHECK(ctx, field->GetRoute(list.qualifier, route.GetAddress()));
  path += route.view();
  selected = nullptr;
  _variant_t stepValue;
  IKXQFieldValuePtr holder;
  if (FAILED(view->ReadRoute(_bstr_t(path.c_str()), _variant_t(), &stepValue, &holder)) || !holder) {
    ClearThreadErrorInfo();
    return;
  }
  IKXQValueItemPtr item;
  if (SUCCEEDED(holder->GetItem(stepValue, &item)) && item) {
    KX_CHECK(ctx, item->get_Object(&selected));
  }
  ClearThreadErrorInfo();
}

}  // namespace FieldUtils

HRESULT ResolveContinuousListField(Main& main, IKXQObject* page, IKXQTemplateField* field,
                                   int32_t row, VARIANT* value, IKXQFieldValue** result) {
  KXComException ctx = KXComException::Silent(u"ResolveContinuousListField");
  CheckPointerArgument(ctx, result);
  *result = nullptr;
  bool defined = false;
  const int32_t caseId = FieldUtils::GetFieldCase(page, field, nullptr, &defined);
  if (!defined) return S_FALSE;
  IKXQTemplatePagePtr templatePage;
  KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
  const ContinuousPageHelper& helper = main.GetContinuousPageHelper();
  IKXQAttributePtr objects;
  GetAttributeInterface(page, u"NodeObjects", objects);
  CheckPointerArgument(ctx, objects.GetInterfacePtr());
  int32_t position = 0;
  if (row >= 0) {
    position = helper.RowPosition(row);
  } else {
    LONG id = -1;
    KX_CHECK(ctx, field->get_Id(&id));
    int32_t nodeIndex = -1;
    const std::vector<int32_t>& ids = helper.FieldNodeIds();
    for (size_t i = 0; id >= 0 && i < ids.size() && nodeIndex < 0; ++i) {
      if (ids[i] == id && i < helper.FieldRootNodes().size()) nodeIndex = helper.FieldRootNodes()[i];
    }
    IKXQAttributePtr indices;
    GetAttributeInterface(page, u"NodeIndices", indices);
    bool has = false;
    // A field the analysis does not know has no node: the same failure as
    // a node without entry (never position 0 of a 1-based list).
    if (nodeIndex >= 0 && indices) position = NodeIndexEntry(indices, nodeIndex, &has);
    if (!has || position <= 0) {
      constexpr OLECHAR kWarning[] = u"ResolveContinuousListField, failed to find node index";
      if (main.m_pApplication != nullptr) (void)main.m_pApplication->LogWarning(_bstr_t(kWarning));
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"%ls", kWarning);
    }
  }
  if (position < 1 || position > GetAttributeCount(objects)) return S_FALSE;
  IKXQObjectPtr rowObject;
  GetAttributeAsObject(objects, position, rowObject);
  if (!rowObject) return S_FALSE;
  FieldUtils::ParseContinuousListRoute(main, page, rowObject, field, caseId, false, value, result);
  return S_OK;
}
