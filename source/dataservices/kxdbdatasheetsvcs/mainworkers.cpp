#include "mainworkers.h"

#include "kxdbdatasheetpages.h"
#include "kxdbdatasheetutils.h"
#include "validatetemplates.h"

MainWorkers& MainWorkers::Defaults() {
  static MainWorkers defaults;
  return defaults;
}

HRESULT MainWorkers::RunWorker(MessageParser& request, uint32_t element) {
  return request.RunWork(element);
}

HRESULT MainWorkers::HandleCreateEvent(Main& main, IKXQObject* object) {
  return main.HandleCreateEvent(object);
}
HRESULT MainWorkers::HandleDeleteEvent(Main& main, IKXQObject* object) {
  return main.HandleDeleteEvent(object);
}
HRESULT MainWorkers::HandleDeleteCaseEvent(Main& main, IKXQObject* object, LONG caseNumber) {
  return main.HandleDeleteCaseEvent(object, caseNumber);
}
HRESULT MainWorkers::HandleUpdateProjectEvent(Main& main, IKXQProjectUpdate* update) {
  return main.HandleUpdateProjectEvent(update);
}
HRESULT MainWorkers::HandleDeleteProjectEvent(Main& main, IKXQProject* project) {
  return main.HandleDeleteProjectEvent(project);
}
HRESULT MainWorkers::HandleChangeClassEvent(Main& main, IKXQObject* object, IKXQClass* newClass) {
  return main.HandleChangeClassEvent(object, newClass);
}
HRESULT MainWorkers::HandleChangeClaimStatusEvent(Main& main, IKXQObject* object) {
  return main.HandleChangeClaimStatusEvent(object);
}

HRESULT MainWorkers::SummarySheetClasses(Main& main, IDispatch* templates, VARIANT* classes) {
  return KXDBDatasheetSvcs::SummarySheetClasses(main, templates, classes);
}

// Not built yet: template validation and the real-fields listing.
HRESULT MainWorkers::ValidateDatasheetObject(Main& main, IKXQObject* datasheet) {
  return KXDBDatasheetSvcs::ValidateDatasheetObject(main, datasheet);
}
HRESULT MainWorkers::ValidateLabelObject(Main& main, IKXQObject* label, LONG status) {
  return KXDBDatasheetSvcs::ValidateLabelObject(main, label, status);
}
HRESULT MainWorkers::WriteRealFieldsWithUOM(Main&, IKXQObject*, BSTR* xml) {
  if (xml != nullptr) *xml = nullptr;
  return WorkerNotImplementedYet(u"KXDBDatasheetSvcs::WriteRealFieldsWithUOM");
}

HRESULT MainWorkers::CreateOverspillPages(Main& main, IKXQObject* datasheet, int32_t mode) {
  if (mode < 1) return S_OK;
  KXComException ctx = KXComException::Silent();
  bool overspills = false;
  try {
    KXDBDatasheetSvcs::ForEachCurrentPage(datasheet, [&](IKXQObject* page) {
      IKXQTemplatePagePtr templatePage;
      KX_CHECK(ctx, KXDBDatasheetSvcs::GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
      if (!templatePage) return;
      _com_ptr_t<IKXQOverspillAssociation> association;
      KX_CHECK(ctx, templatePage->get_Overspill(&association));
      if (association) overspills = true;
    });
  }
  KX_CATCH(ctx, KX_HERE(u"source/dataservices/kxdbdatasheetsvcs/mainworkers"))
  if (FAILED(ctx.hr)) return ctx.Return();
  return overspills ? WorkerNotImplementedYet(u"OverspillUtils::CreateOverspillPages") : S_OK;
}
