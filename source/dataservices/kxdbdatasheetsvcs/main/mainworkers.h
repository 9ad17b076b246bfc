// The real worker table, which every Main starts with: each operation as
// the module does it (`WorkerTable` says what each one is). A test derives
// from it and overrides what it records.
#pragma once

#include <cstdint>

#include "model/workertable.h"

class MainWorkers : public WorkerTable {
 public:
  // The table every Main starts with.
  static MainWorkers& Defaults();

  HRESULT RunWorker(MessageParser& request, uint32_t element) override;
  // True for Defaults() alone, not for a table derived from this one.
  bool IsModulesOwn() const override;
  HRESULT HandleCreateEvent(Main& main, IKXQObject* object) override;
  HRESULT HandleDeleteEvent(Main& main, IKXQObject* object) override;
  HRESULT HandleDeleteCaseEvent(Main& main, IKXQObject* object, LONG caseNumber) override;
  HRESULT HandleUpdateProjectEvent(Main& main, IKXQProjectUpdate* update) override;
  HRESULT HandleDeleteProjectEvent(Main& main, IKXQProject* project) override;
  HRESULT HandleChangeClassEvent(Main& main, IKXQObject* object, IKXQClass* newClass) override;
  HRESULT HandleChangeClaimStatusEvent(Main& main, IKXQObject* object) override;
  HRESULT SummarySheetClasses(Main& main, IDispatch* templates, VARIANT* classes) override;
  HRESULT ValidateDatasheetObject(Main& main, IKXQObject* datasheet) override;
  HRESULT ValidateLabelObject(Main& main, IKXQObject* label, LONG status) override;
  HRESULT WriteRealFieldsWithUOM(Main& main, IKXQObject* datasheet, BSTR* xml) override;
  HRESULT GetContinuousListKey(ContinuousPageHelper& helper, BSTR* key, int32_t position,
                               IKXQObject* page) override;
  HRESULT GetOverspillAssociation(OverspillUtils& run, IKXQObject* page, bool required,
                                  VariantUtil::SafeArrayMatrix& list,
                                  IKXQTemplatePage** target) override;
  HRESULT OverspillAttribute(OverspillUtils& run, IKXQObject* page, IKXQClassView* view, BSTR name,
                             IKXQTemplatePage* target) override;
  HRESULT RegisterNewPages(OverspillUtils& run) override;
  HRESULT AddListObject(MainContext& main, IKXQObject* object, IKXQObject* page,
                        IKXQTemplatePage* templatePage, bool continuous, int32_t row, bool force,
                        bool events = true) override;
  HRESULT AddSummarySheetPage(MainContext& main, IKXQObject* member, IKXQObject* datasheet,
                              IKXQTemplatePage* templatePage, bool quiet) override;
  HRESULT RemoveObjectFromPage(MainContext& main, IKXQObject* page, IKXQObject* object) override;
  HRESULT ComposeDatasheet(MainContext& main, const VARIANT& filter, IKXQObject* datasheet,
                           IKXQObject* page, bool continuous, bool ignoreClaims, int32_t* count,
                           IKXQTrigger* trigger) override;
  HRESULT GetTopLevelDataViews(IKXQTemplatePage* templatePage, PtrArray<IUnknown>& views) override;
  HRESULT SortDatasheet(MainContext& main, IKXQObject* datasheet, IKXQObject* page,
                        const OLECHAR* code, int32_t column, int32_t* count) override;
  HRESULT WriteFields(PageLoadContext& context, IKXQObject* page, IKXQTemplatePage* templatePage,
                      int32_t position, IKXQAttribute* fields, BSTR* text) override;
  HRESULT CreateOverspillPages(MainContext& main, IKXQObject* datasheet, LONG mode) override;
};
