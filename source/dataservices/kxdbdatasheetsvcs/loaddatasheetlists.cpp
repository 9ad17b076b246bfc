// The unit, revision, annotation and qualifier writers of a page, and the
// helpers the loader's writers share.
#include "com/wstr.h"
#include "fieldutils.h"
#include "host/response.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxdbdatasheetutils.h"
#include "kxfielddata.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "loaddatasheet.h"
#include "loaddatasheetwriters.h"
#include "main.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/loaddatasheet";


// The page's list attribute `name`; a null page or a page without it:
// E_POINTER.
int32_t GetPageList(KXComException& ctx, IKXQObject* page, const OLECHAR* name,
                    IKXQAttributePtr& list) {
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  GetAttributeInterface(page, name, list);
  if (!list) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  return GetAttributeCount(list);
}

}  // namespace

namespace loaddatasheet {

int32_t ReadQualifierValue(KXComException& ctx, IKXQAttribute* list, int32_t index) {
  _variant_t value;
  KX_CHECK(ctx, list->GetValue(_variant_t(static_cast<int>(index), VT_I4), _variant_t(), &value));
  if (!IsVariantSet(value)) return 0;
  LONG number = 0;
  if (FAILED(VariantToLong(value, &number, true))) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_TYPEMISMATCH,
                            u"Cannot coerce attribute to an integer");
  }
  return number;
}

IKXQApplication* MainApplication(Main& main) { return main.m_pApplication; }

void ReportItemFailure(IKXQApplication* application, HRESULT hr) {
  _bstr_t text;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
    BSTR description = nullptr;
    (void)info->GetDescription(&description);
    info->Release();
    _bstr_t held(description, false);
    if (held.length() > 0) text.Attach(GetErrorDescription(held));
  }
  if (text.length() == 0) text.Attach(GetHResultMessage(hr));
  if (application != nullptr) (void)application->LogWarning(text);
  ClearThreadErrorInfo();
}

void SendElement(KXComException& ctx, Main& main, const _bstr_t& text) {
  if (text.length() == 0) return;
  if (main.m_pResponse == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Cannot access the KXQResponse object to write to it");
  }
  KX_CHECK(ctx, main.m_pResponse->SendText(text));
}

HRESULT WriteStoredAnnotation(IKXQObject* page, IKXQObject* issued, IKXQApplication* application,
                              int32_t status, BSTR text, BSTR* out) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::WritePageAnnotations");
  try {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    _bstr_t issuedText;
    if (issued != nullptr && SysStringLen(text) > 0) {
      KXFieldData record;
      KX_CHECK(ctx, record.ParseFieldData(kFieldAnnotation, text, -1));
      FieldUtils::GetAnnotation(issued, record.fieldId, false, issuedText);
    }
    KX_CHECK(ctx, WriteAnnotationField(page, application, status, text, issuedText, out));
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

_com_ptr_t<ikxXMLStringWriter> MakeWriter(KXComException& ctx) {
  _com_ptr_t<ikxXMLStringWriter> writer;
  KX_CHECK(ctx, KXXMLStringWriter::CreateInstance(IID_ikxXMLStringWriter,
                                                  reinterpret_cast<void**>(&writer)));
  writer->SetOption(false);
  return writer;
}

}  // namespace loaddatasheet

// ---------------------------------------------------------------------------
// Units.

HRESULT WritePageUnits(PageLoadContext& context, IKXQObject* page,
                       IKXQTemplatePage* templatePage) {
  KXComException ctx(u"KXDBDatasheetSvcs::WritePageUnits");
  try {
    CheckPointerArgument(ctx, context.m_pMain);
    IKXQAttributePtr units;
    const int32_t count = GetPageList(ctx, page, u"Units", units);
    loaddatasheet::WriteEachEntry(ctx, *context.m_pMain, count, [&](int32_t i, BSTR* element) {
      _bstr_t text;
      KXDBDatasheetSvcs::GetAttributeValueStringAt(units, i, text);
      return WriteShowUnit(page, templatePage, i - 1, text, element);
    });
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

HRESULT WriteShowUnit(IKXQObject* page, IKXQTemplatePage* templatePage, int32_t unit,
                      BSTR unitText, BSTR* out) {
  KXComException ctx(u"KXDBDatasheetSvcs::WriteShowUnit");
  try {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    CheckPointerArgument(ctx, templatePage);
    const int32_t pageId = ObjectIdOf(page);
    LONG alignment = 0;
    LONG verticalAlignment = 0;
    KX_CHECK(ctx, templatePage->GetUnitAlignment(unit, &alignment, &verticalAlignment));
    _com_ptr_t<IKXQTemplateUnit> definition;
    KX_CHECK(ctx, templatePage->get_Unit(unit, &definition));
    CheckPointerArgument(ctx, definition.GetInterfacePtr());
    _bstr_t value;
    const HRESULT shown = SysStringLen(unitText) > 0
                              ? definition->GetDisplayText(unitText, value.GetAddress())
                              : definition->GetDefaultText(0, value.GetAddress());
    // The unit's text is the store's; without one the element still stands.
    if (FAILED(shown)) ClearThreadErrorInfo();

    _com_ptr_t<ikxXMLStringWriter> writer = loaddatasheet::MakeWriter(ctx);
    KX_CHECK(ctx, writer->StartElement(u"ShowUnit"));
    KX_CHECK(ctx, writer->WriteAttribute(u"PageId", LONG{pageId}));
    KX_CHECK(ctx, writer->WriteAttribute(u"UnitId", LONG{unit}));
    KX_CHECK(ctx, writer->WriteAttribute(u"Alignment", alignment));
    KX_CHECK(ctx, writer->WriteAttribute(u"VerticalAlignment", verticalAlignment));
    KX_CHECK(ctx, writer->WriteAttribute(u"Value", static_cast<const OLECHAR*>(value)));
    KX_CHECK(ctx, writer->EndElement(u"ShowUnit"));
    KX_CHECK(ctx, writer->GetString(out));
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

// ---------------------------------------------------------------------------
// Revisions.

HRESULT WritePageRevisions(PageLoadContext& context, IKXQObject* page,
                           IKXQTemplatePage* templatePage) {
  KXComException ctx(u"KXDBDatasheetSvcs::WritePageRevisions");
  try {
    CheckPointerArgument(ctx, context.m_pMain);
    IKXQAttributePtr revisions;
    const int32_t count = GetPageList(ctx, page, u"Revisions", revisions);
    loaddatasheet::WriteEachEntry(ctx, *context.m_pMain, count, [&](int32_t i, BSTR* element) {
      _bstr_t text;
      KXDBDatasheetSvcs::GetAttributeValueStringAt(revisions, i, text);
      return WriteShowRevision(context, page, templatePage, i - 1, text, element);
    });
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

HRESULT WriteShowRevision(PageLoadContext& context, IKXQObject* page,
                          IKXQTemplatePage* templatePage, int32_t revision, BSTR revisionText,
                          BSTR* out) {
  KXComException ctx(u"KXDBDatasheetSvcs::WriteShowRevision");
  try {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    CheckPointerArgument(ctx, templatePage);
    const int32_t pageId = ObjectIdOf(page);
    int32_t row = -1;
    int32_t revisionId = revision;
    if (context.m_continuousPage) {
      CheckPointerArgument(ctx, context.m_pMain);
      KX_CHECK(ctx, context.m_pMain->GetContinuousPageHelper().MapRevisionPosition(
                        revision, &revisionId, &row));
    }
    LONG alignment = 0;
    LONG verticalAlignment = 0;
    KX_CHECK(ctx, templatePage->GetRevisionAlignment(revisionId, &alignment, &verticalAlignment));

    _com_ptr_t<ikxXMLStringWriter> writer = loaddatasheet::MakeWriter(ctx);
    KX_CHECK(ctx, writer->StartElement(u"ShowRevision"));
    KX_CHECK(ctx, writer->WriteAttribute(u"PageId", LONG{pageId}));
    KX_CHECK(ctx, writer->WriteAttribute(u"RevisionId", LONG{revisionId}));
    KX_CHECK(ctx, writer->WriteAttribute(u"Alignment", alignment));
    KX_CHECK(ctx, writer->WriteAttribute(u"VerticalAlignment", verticalAlignment));
    if (SysStringLen(revisionText) > 0) {
      KX_CHECK(ctx, writer->WriteAttribute(u"Value", static_cast<const OLECHAR*>(revisionText)));
    }
    if (context.m_continuousPage && row >= 0) {
      KX_CHECK(ctx, writer->WriteAttribute(u"Index", LONG{row}));
    }
    KX_CHECK(ctx, writer->EndElement(u"ShowRevision"));
    KX_CHECK(ctx, writer->GetString(out));
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

// ---------------------------------------------------------------------------
// Annotations.

HRESULT WritePageAnnotations(PageLoadContext& context, IKXQObject* page, int32_t status) {
  KXComException ctx(u"KXDBDatasheetSvcs::WritePageAnnotations");
  try {
    Main* main = context.m_pMain;
    CheckPointerArgument(ctx, main);
    IKXQObjectPtr issued;
    if (status != 4) KX_CHECK(ctx, KXDBDatasheetSvcs::GetIssuedPage(page, status, &issued));
    IKXQAttributePtr annotations;
    const int32_t count = GetPageList(ctx, page, u"Annotations", annotations);
    loaddatasheet::WriteEachEntry(ctx, *main, count, [&](int32_t i, BSTR* element) {
      _bstr_t text;
      KXDBDatasheetSvcs::GetAttributeValueStringAt(annotations, i, text);
      return loaddatasheet::WriteStoredAnnotation(page, issued, main->m_pApplication, status, text,
                                                  element);
    });
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

HRESULT WriteAnnotationField(IKXQObject* page, IKXQApplication* application, int32_t status,
                             BSTR text, BSTR otherText, BSTR* out) {
  KXComException ctx(u"KXDBDatasheetSvcs::WriteAnnotationField");
  try {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    const int32_t pageId = ObjectIdOf(page);
    if (SysStringLen(text) == 0) return S_OK;
    KXFieldData record;
    HRESULT hr = record.ParseFieldData(kFieldAnnotation, text, -1);
    KXFieldData other;
    if (SUCCEEDED(hr)) hr = other.SelectField(otherText, -1);
    if (FAILED(hr)) {
      ctx.hr = hr;
      ctx.TakeThreadErrorInfo();
      ThrowIfFailed(ctx);
    }
    if (status != 4 && record.IsFieldChanged(other, application, true)) record.state = 0x100;
    KX_CHECK(ctx, record.WriteFieldData(out, kFieldDataShow, pageId));
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

// ---------------------------------------------------------------------------
// Qualifiers.

HRESULT WritePageQualifiers(PageLoadContext& context, IKXQObject* page, int32_t status) {
  KXComException ctx(u"KXDBDatasheetSvcs::WritePageQualifiers");
  try {
    CheckPointerArgument(ctx, context.m_pMain);
    IKXQAttributePtr qualifiers;
    const int32_t count = GetPageList(ctx, page, u"Qualifiers", qualifiers);
    loaddatasheet::WriteEachEntry(ctx, *context.m_pMain, count, [&](int32_t i, BSTR* element) {
      // An entry that is no integer ends the list: it is raised, not warned.
      const int32_t value = loaddatasheet::ReadQualifierValue(ctx, qualifiers, i);
      return WriteShowQualifier(page, status, i - 1, value, element);
    });
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}

HRESULT WriteShowQualifier(IKXQObject* page, int32_t, int32_t qualifier, int32_t value,
                           BSTR* out) {
  KXComException ctx(u"KXDBDatasheetSvcs::WriteShowQualifier");
  try {
    CheckPointerArgument(ctx, out);
    *out = nullptr;
    _com_ptr_t<ikxXMLStringWriter> writer = loaddatasheet::MakeWriter(ctx);
    KX_CHECK(ctx, writer->StartElement(u"ShowQualifier"));
    KX_CHECK(ctx, writer->WriteAttribute(u"PageId", LONG{ObjectIdOf(page)}));
    KX_CHECK(ctx, writer->WriteAttribute(u"QualifierId", LONG{qualifier}));
    KX_CHECK(ctx, writer->WriteAttribute(u"Value", LONG{value}));
    KX_CHECK(ctx, writer->EndElement(u"ShowQualifier"));
    KX_CHECK(ctx, writer->GetString(out));
    return S_OK;
  }
  KX_CATCH(ctx, KX_HERE(kFile))
  return ctx.Return();
}
