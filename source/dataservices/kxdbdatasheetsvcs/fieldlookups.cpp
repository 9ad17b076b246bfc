// Field lookups: a field's case and qualifier choice, its template field and
// node, its number in the page's "Fields", the continuous-list contiguity
// rule and the item number read after a write.
#include "continuouspageadvisor.h"
#include "fieldutils.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxdbdatasheetutils.h"
#include "kxfielddata.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "main.h"
#include "xmlreply.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldutils";
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
    const auto place = static_cast<int32_t>(i);
    return row < 0 ? place + 1 : helper.FieldsPerRow() * row + place + 1;
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
