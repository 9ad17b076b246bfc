#include "main/mainworkers.h"

#include "documents/validatetemplates.h"
#include "fieldmodel/fieldutils.h"
#include "kxcomexception.h"
#include "loader/kxdbdatasheetsummary.h"
#include "loader/loaddatasheet.h"
#include "main/getrealfieldswithuom.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/overspillutils.h"
#include "summary/composition.h"

MainWorkers& MainWorkers::Defaults() {
  static MainWorkers defaults;
  return defaults;
}

bool MainWorkers::IsModulesOwn() const { return this == &Defaults(); }

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

HRESULT MainWorkers::ValidateDatasheetObject(Main& main, IKXQObject* datasheet) {
  return KXDBDatasheetSvcs::ValidateDatasheetObject(main, datasheet);
}
HRESULT MainWorkers::ValidateLabelObject(Main& main, IKXQObject* label, LONG status) {
  return KXDBDatasheetSvcs::ValidateLabelObject(main, label, status);
}
HRESULT MainWorkers::WriteRealFieldsWithUOM(Main& main, IKXQObject* datasheet, BSTR* xml) {
  return KXDBDatasheetSvcs::WriteRealFieldsWithUOM(main, datasheet, xml);
}

// ---- Services the triggers use ---------------------------------------------

namespace {

constexpr OLECHAR kWorkersFile[] = u"source/dataservices/kxdbdatasheetsvcs/mainworkers";
constexpr FrameOptions kWorkerFrame{
    .file = kWorkersFile, .passReturnedFailure = true, .silent = true};
constexpr FrameOptions kSilentWorkersFrame{.file = kWorkersFile, .silent = true};

}  // namespace

HRESULT MainWorkers::GetContinuousListKey(ContinuousPageHelper& helper, BSTR* key, int32_t position,
                                          IKXQObject* page) {
  return Composition::GetContinuousListKey(helper, key, position, page);
}

HRESULT MainWorkers::GetOverspillAssociation(OverspillUtils& run, IKXQObject* page, bool required,
                                             VariantUtil::SafeArrayMatrix& list,
                                             IKXQTemplatePage** target) {
  return ServeRequest(
      u"OverspillUtils::GetOverspillAssociation", kWorkerFrame,
      [&](KXComException&) { return run.GetOverspillAssociation(page, required, list, target); });
}

HRESULT MainWorkers::OverspillAttribute(OverspillUtils& run, IKXQObject* page, IKXQClassView* view,
                                        BSTR name, IKXQTemplatePage* target) {
  const auto work = [&](KXComException&) {
    run.OverspillAttribute(page, view, name, target);
    return S_OK;
  };
  return ServeRequest(u"OverspillUtils::OverspillAttribute", kSilentWorkersFrame, work);
}
HRESULT MainWorkers::RegisterNewPages(OverspillUtils& run) {
  return ServeRequest(u"OverspillUtils::RegisterNewPages", kWorkerFrame,
                      [&](KXComException&) { return run.RegisterNewPages(); });
}
HRESULT MainWorkers::AddSummarySheetPage(MainContext& main, IKXQObject* member,
                                         IKXQObject* datasheet, IKXQTemplatePage* templatePage,
                                         bool quiet) {
  return KXDBDatasheetSvcs::AddSummarySheetPage(main, member, datasheet, templatePage, quiet);
}
HRESULT MainWorkers::AddListObject(MainContext& main, IKXQObject* object, IKXQObject* page,
                                   IKXQTemplatePage* templatePage, bool continuous, int32_t row,
                                   bool force, bool events) {
  return KXDBDatasheetSvcs::AddListObject(main, object, page, templatePage, continuous, row, force,
                                          events);
}
HRESULT MainWorkers::RemoveObjectFromPage(MainContext& main, IKXQObject* page, IKXQObject* object) {
  return KXDBDatasheetSvcs::RemoveObjectFromPage(main, page, object);
}
HRESULT MainWorkers::ComposeDatasheet(MainContext& main, const VARIANT& filter,
                                      IKXQObject* datasheet, IKXQObject* page, bool continuous,
                                      bool ignoreClaims, int32_t* count, IKXQTrigger* trigger) {
  return Composition::ComposeDatasheet(main, filter, datasheet, page, continuous, ignoreClaims,
                                       count, trigger);
}
HRESULT MainWorkers::GetTopLevelDataViews(IKXQTemplatePage* templatePage,
                                          PtrArray<IUnknown>& views) {
  return Composition::GetTopLevelDataViews(templatePage, views);
}
HRESULT MainWorkers::SortDatasheet(MainContext& main, IKXQObject* datasheet, IKXQObject* page,
                                   const OLECHAR* code, int32_t column, int32_t* count) {
  return Composition::SortDatasheet(main, datasheet, page, code, column, count);
}

HRESULT MainWorkers::WriteFields(PageLoadContext& context, IKXQObject* page,
                                 IKXQTemplatePage* templatePage, int32_t position,
                                 IKXQAttribute* fields, BSTR* text) {
  return ::WriteFields(context, page, templatePage, position, fields, text);
}

HRESULT MainWorkers::CreateOverspillPages(MainContext& main, IKXQObject* datasheet, LONG mode) {
  return ServeRequest(u"OverspillUtils::CreateOverspillPages", kWorkerFrame, [&](KXComException&) {
    OverspillUtils run(&main);
    run.m_datasheet = datasheet;
    run.m_mode = mode;
    return run.CreateOverspillPages();
  });
}
