#include "fields/qualifiedfield.h"

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxattributeutils.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "model/scopedcurrent.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/qualifiedfield";
constexpr FrameOptions kFrame{.file = kFile};

// Element `i` (0-based) of a qualifier's field-id array of VT_I2, VT_I4 or
// VT_VARIANT elements.
int32_t GetFieldIdAt(KXComException& ctx, SAFEARRAY* array, VARTYPE type, LONG at) {
  if (type == VT_I4) {
    LONG id = 0;
    KX_CHECK(ctx, SafeArrayGetElement(array, &at, &id));
    return id;
  }
  if (type == VT_I2) {
    SHORT id = 0;
    KX_CHECK(ctx, SafeArrayGetElement(array, &at, &id));
    return id;
  }
  _variant_t element;
  KX_CHECK(ctx, SafeArrayGetElement(array, &at, &element));
  KX_CHECK(ctx, VariantChangeType(&element, &element, 0, VT_I4));
  return element.lVal;
}

// True when the template page names qualifier `qualifier`: it lists
// fields for it, or a field of the page is chosen by it.
bool TemplateDefinesQualifier(KXComException& ctx, IKXQTemplatePage* templatePage,
                              int32_t qualifier) {
  SAFEARRAY* raw = nullptr;
  KX_CHECK(ctx, templatePage->GetQualifierFields(qualifier, &raw));
  if (raw != nullptr) {
    LONG lower = 0, upper = -1;
    const bool listed = SafeArrayGetDim(raw) == 1 &&
                        SUCCEEDED(SafeArrayGetLBound(raw, 1, &lower)) &&
                        SUCCEEDED(SafeArrayGetUBound(raw, 1, &upper)) && upper >= lower;
    SafeArrayDestroy(raw);
    if (listed) return true;
  }
  LONG count = 0;
  KX_CHECK(ctx, templatePage->get_FieldCount(&count));
  for (LONG n = 1; n <= count; ++n) {
    IKXQTemplateFieldPtr field;
    KX_CHECK(ctx, templatePage->get_Field(n, &field));
    LONG position = -1;
    if (field && SUCCEEDED(field->get_QualifierPosition(&position)) && position == qualifier) {
      return true;
    }
  }
  return false;
}

}  // namespace

const GrammarRecord* SetQualifierSchema::GetSchema() const {
  static constexpr auto kGrammar = Grammar::Message(
      u"SetQualifier",
      {Grammar::Integer(u"PageId", PageId), Grammar::Integer(u"QualifierId", QualifierId),
       Grammar::Integer(u"Index", Index), Grammar::Integer(u"Value", Value),
       Grammar::String(u"ConfirmedClass", ConfirmedClass)});
  return kGrammar.data();
}

HRESULT SetQualifierMessageParser::SetValue(uint32_t id, const SAXValue& value) {
  switch (id) {
    case PageId: return Store(m_pageId, value);
    case QualifierId: return Store(m_qualifierId, value);
    case Index: return Store(m_index, value);
    case Value: m_value.Store(value); return S_OK;
    case ConfirmedClass: return Store(m_confirmedClass, value);
    default: return E_INVALIDARG;
  }
}

HRESULT SetQualifierMessageParser::SetQualifierValue() {
  return ServeRequest(u"KXDBDatasheetSvcs::SetQualifierValue", kFrame, [&](KXComException& ctx) {
    if (!m_value.given) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"The qualifier's value is missing (\"Value\")");
    }
    if (m_qualifierId < 0) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG, u"Invalid qualifier id %d",
                              static_cast<int>(m_qualifierId));
    }
    m_value.Check(ctx, KX_HERE(kFile),
                  kx_format(u"qualifier %d of page %d", static_cast<int>(m_qualifierId),
                            static_cast<int>(m_pageId))
                      .c_str());
    IKXQObjectPtr page;
    IKXQObjectPtr datasheet;
    GetStoreObject(m_pMain->m_pDatabase, page, m_pageId);
    KXDBDatasheetSvcs::RefuseStatusCopy(page);
    GetOwnerObject(page, datasheet);
    ScopedCurrentDatasheet currentDatasheet(m_pMain->m_pApplication, datasheet);
    ScopedCurrentPage currentPage(m_pMain->m_pApplication, page);
    CheckPointerArgument(ctx, page.GetInterfacePtr());
    IKXQAttributePtr qualifiers;
    GetAttributeInterface(page, u"Qualifiers", qualifiers);
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx,
             KXDBDatasheetSvcs::GetTemplatePage(m_pMain->m_pApplication, page, &templatePage, 1));
    CheckPointerArgument(ctx, qualifiers.GetInterfacePtr());
    CheckPointerArgument(ctx, templatePage.GetInterfacePtr());
    // A qualifier the template does not name may take the next free place
    // of "Qualifiers", no further: a small request must not pad the list
    // with empty values.
    LONG stored = 0;
    KX_CHECK(ctx, qualifiers->get_Count(&stored));
    if (m_qualifierId == INT32_MAX ||
        (m_qualifierId > stored && !TemplateDefinesQualifier(ctx, templatePage, m_qualifierId))) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_BADINDEX,
                              u"Qualifier %d is not a qualifier of page %d's template",
                              static_cast<int>(m_qualifierId), static_cast<int>(m_pageId));
    }
    KX_CHECK(ctx, qualifiers->PutValue(_variant_t(static_cast<LONG>(m_qualifierId + 1)),
                                       _variant_t(), _variant_t(static_cast<LONG>(m_value.value))));

    SAFEARRAY* raw = nullptr;
    KX_CHECK(ctx, templatePage->GetQualifierFields(m_qualifierId, &raw));
    VariantUtil::SafeArrayVector fields;
    VARTYPE type = VT_EMPTY;
    if (raw != nullptr && SafeArrayGetDim(raw) == 1 && SUCCEEDED(SafeArrayGetVartype(raw, &type)) &&
        (type == VT_I2 || type == VT_I4 || type == VT_VARIANT)) {
      KX_CHECK(ctx, fields.Attach(raw, true));
    } else if (raw != nullptr) {
      SafeArrayDestroy(raw);
    }
    for (int32_t i = 0; i < fields.Count(); ++i) {
      const int32_t fieldId = GetFieldIdAt(ctx, fields.Array(), type, fields.LowerBound() + i);
      IKXQTemplateFieldPtr field;
      const int32_t number = FieldUtils::GetTemplateFieldNumber(templatePage, fieldId, field);
      // The fields now show another object: their clients must read them
      // again, so the events go to the current pages' holders.
      KX_CHECK(ctx, m_pMain->LaunchDataFieldEvent(page, number, 1, true));
    }
    KX_CHECK(ctx, m_pMain->LaunchQualifierEvent(page, m_qualifierId, 1));
    return S_OK;
  });
}

HRESULT KXDBDatasheetSvcs::SetQualifier(MainContext& main, const OLECHAR* request) {
  return ServeMessage<SetQualifierMessageParser>(main, u"KXDBDatasheetSvcs::SetQualifier", request);
}
