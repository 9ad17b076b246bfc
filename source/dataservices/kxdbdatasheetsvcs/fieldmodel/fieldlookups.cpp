// The field model's lookups: a field's case, qualifier, template node and
// number, annotations, root objects, display format, status bits, hidden
// nodes and the views behind values.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "model/maincontext.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldutils";

}  // namespace

namespace {

constexpr OLECHAR kAdvisorFile[] = u"source/dataservices/kxdbdatasheetsvcs/continuouspageadvisor";

// The value at `position` + 1 of the page's list `name` as an integer;
// `has` false when the list or the entry holds none.
int32_t PageListInteger(IKXQObject* page, const OLECHAR* name, int32_t position, bool* has) {
  *has = false;
  IKXQAttributePtr list;
  KXDBDatasheetSvcs::GetPageList(page, name, list);
  if (!list || position < 0) return 0;
  // The entry alone is read, not the number of entries: a field's trigger
  // item then stays quiet when the list grows or shrinks elsewhere. A read
  // past the end finds nothing; only a position the store refuses outright
  // is measured against the count first.
  _variant_t probe;
  if (FAILED(list->GetValue(PositionVariant(position + 1), _variant_t(), probe.GetAddress())) &&
      GetAttributeCount(list) < position + 1) {
    return 0;
  }
  return KXDBDatasheetSvcs::GetAttributeIntegerAt(list, position + 1, has);
}

// The field number of `field` at `row` on a continuous list. With
// `rowsOnly`, a field outside the repeating block addressed with a row is
// not found: it has no row, and fields per row × row would name another
// field's entry.
int32_t ContinuousFieldNumber(const ContinuousPageHelper& helper, IKXQTemplateField* field,
                              int32_t row, bool rowsOnly) {
  KXComException ctx = KXComException::Silent(u"ContinuousPageHelper::GetFieldNumber");
  CheckPointerArgument(ctx, field);
  LONG id = -1;
  KX_CHECK(ctx, field->get_Id(&id));
  const std::vector<int32_t>& ids = helper.FieldNodeIds();
  // Fixed fields come first, the repeating block from FirstRepeatingField().
  const size_t from =
      rowsOnly && row >= 0 ? static_cast<size_t>(std::max(helper.FirstRepeatingField() - 1, 0)) : 0;
  for (size_t i = from; i < ids.size(); ++i) {
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
                          u" Field %d not found in continuous template %ls ", static_cast<int>(id),
                          helper.TemplateKey().c_str());
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
  (void)GetFieldQualifierChain(page, field, qualifier, nullptr, -1, nodes);
}

int32_t GetFieldQualifierChain(IKXQObject* page, IKXQTemplateField* field, int32_t* qualifier,
                               IKXQClassView** chain, int32_t capacity, SAFEARRAY** nodes) {
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
  if (chain != nullptr && capacity >= 0) {
    // Most chains are short: no array to make and take apart again.
    LONG count = 0;
    if (field->GetNodeChain(*qualifier, capacity, chain, &count) == S_OK && count >= 0 &&
        count <= capacity) {
      return count;
    }
  }
  KX_CHECK(ctx, field->GetNodeList(*qualifier, nodes));
  return -1;
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
  const HRESULT hr =
      nodes.Count() > 0 ? nodes.GetClassViewAt(first ? 0 : nodes.Count() - 1, &node) : E_FAIL;
  if (FAILED(hr) || !node) {
    ClearThreadErrorInfo();
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), FAILED(hr) ? hr : E_FAIL,
                            u"Invalid template field definition");
  }
}

std::u16string GetFieldPathFromRoot(KXComException& ctx, IKXQTemplateField* field,
                                    int32_t qualifier, const VariantUtil::SafeArrayVector& nodes) {
  std::u16string path;
  for (int32_t i = 1; i < nodes.Count(); ++i) {
    IKXQClassViewPtr node;
    KX_CHECK(ctx, nodes.GetClassViewAt(i, &node));
    CheckPointerArgument(ctx, node.GetInterfacePtr());
    _bstr_t name;
    KX_CHECK(ctx, node->get_Name(name.GetAddress()));
    path += name.view();
    path += u'.';
  }
  _bstr_t route;
  KX_CHECK(ctx, field->GetRoute(qualifier, route.GetAddress()));
  path += route.view();
  return path;
}

SAFEARRAY* FieldRoot::ReadNodes(IKXQObject* page, IKXQTemplateField* field, int32_t* qualifier) {
  SAFEARRAY* nodes = nullptr;
  GetFieldQualifier(page, field, qualifier, &nodes);
  return nodes;
}

FieldRoot::FieldRoot(IKXQObject* page, IKXQTemplateField* field)
    : raw(ReadNodes(page, field, &qualifier)), nodes(raw, true) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetTemplateFieldNode");
  if (nodes.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
  const HRESULT hr = nodes.Count() > 0 ? nodes.GetClassViewAt(0, &node) : E_FAIL;
  if (FAILED(hr) || !node) {
    ClearThreadErrorInfo();
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), FAILED(hr) ? hr : E_FAIL,
                            u"Invalid template field definition");
  }
  KXDBDatasheetSvcs::GetNodeObject(object, page, node);
}

void GetTemplateField(IKXQTemplatePage* templatePage, const OLECHAR* fieldData, int32_t position,
                      IKXQTemplateFieldPtr& field) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::GetTemplateField");
  field = nullptr;
  CheckPointerArgument(ctx, templatePage);
  int32_t fieldId = -1;
  if (fieldData != nullptr && *fieldData != 0) {
    KXFieldData record;
    KX_CHECK(ctx, record.ParseFieldData(kFieldCleared, _bstr_t(fieldData), -1));
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
  return ContinuousFieldNumber(helper, field, row, false);
}

int32_t GetRowFieldNumber(const ContinuousPageHelper& helper, IKXQTemplateField* field,
                          int32_t row) {
  return ContinuousFieldNumber(helper, field, row, true);
}

bool IsListColumn(const ContinuousPageHelper& helper, IKXQTemplateField* field) {
  KXComException ctx = KXComException::Silent(u"FieldUtils::IsListColumn");
  CheckPointerArgument(ctx, field);
  LONG id = -1;
  KX_CHECK(ctx, field->get_Id(&id));
  const std::vector<int32_t>& ids = helper.FieldNodeIds();
  // Fixed fields come first, the repeating block from FirstRepeatingField().
  const auto first = static_cast<size_t>(std::max(helper.FirstRepeatingField() - 1, 0));
  return first < ids.size() && std::find(ids.begin() + first, ids.end(), id) != ids.end();
}

void CheckListColumnRow(const ContinuousPageHelper& helper, IKXQObject* page,
                        IKXQTemplateField* field, int32_t row) {
  if (row >= 0 || !IsListColumn(helper, field)) return;
  KXComException ctx = KXComException::Silent(u"FieldUtils::CheckListColumnRow");
  LONG id = -1;
  KX_CHECK(ctx, field->get_Id(&id));
  LONG pageId = -1;
  if (page != nullptr) KX_CHECK(ctx, page->get_Id(&pageId));
  ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_BADINDEX,
                          u"Field %d of page %d is a list column: row %d is no row of the list",
                          static_cast<int>(id), static_cast<int>(pageId), static_cast<int>(row));
}

int32_t GetFieldNumber(MainContext& main, IKXQObject* page, int32_t fieldId, int32_t row,
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

bool CheckListContiguity(MainContext& main, IKXQObject* /*page*/, int32_t row) {
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
  AnnotationLookup lookup(page);
  return lookup.Find(annotationId, mustExist, text);
}

int32_t AnnotationLookup::Find(int32_t annotationId, bool mustExist, _bstr_t& text) {
  KXComException ctx(u"FieldUtils::GetAnnotation");
  text = _bstr_t();
  if (m_page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  if (m_count < 0) {
    GetAttributeInterface(m_page, u"Annotations", m_annotations);
    if (!m_annotations) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    m_count = GetAttributeCount(m_annotations);
  }
  if (const auto known = m_found.find(annotationId); known != m_found.end()) {
    text = known->second.text;
    return known->second.position;
  }
  // The list is read on from where an earlier lookup stopped; what lies
  // before was read and indexed (first of each id) already.
  while (m_read < m_count) {
    const int32_t i = ++m_read;
    _bstr_t stored;
    KXDBDatasheetSvcs::GetAttributeValueStringAt(m_annotations, i, stored);
    if (stored.length() == 0) continue;
    KXFieldData record;
    const HRESULT hr = record.SelectField(stored, -1);
    if (FAILED(hr)) --m_read;  // read again (and failing again) by a later lookup
    KX_CHECK(ctx, hr);
    m_found.try_emplace(record.fieldId, Found{i, stored});
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
      KX_CHECK(ctx, record.ParseFieldData(kFieldCleared, stored, -1));
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
    KX_CHECK(ctx, nodes.GetClassViewAt(i, &node));
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
