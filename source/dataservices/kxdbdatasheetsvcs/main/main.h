// `Main`: the module's one creatable class. The host creates it through the
// class factory, attaches it, runs its start-up registration and then sends
// it requests, database events, trigger callbacks and object-service calls
// through `IKXQDataService`. It also answers the automation interface
// `IKXDBDatasheetSvcsMain`.
//
// Threading: apartment-threaded. All calls come on the host's thread; the
// reference count is not atomic and nothing locks.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "com/dispatch_impl.h"
#include "com/errorinfo.h"
#include "host/events.h"
#include "kxqdataserviceimpl.h"
#include "kxstoreptrs.h"
#include "main/kxdbdatasheetsvcs_i.h"
#include "main/mainfiltersort.h"
#include "messagekit.h"
#include "model/continuouspageadvisor.h"
#include "model/maincontext.h"

class ListRowsById;
struct IKXQProjectUpdate;
struct IDatasheetEvent;
class KXQApplicationEventImpl;
class MainWorkers;
struct PageLoadContext;

class Main final
    : public kx::com::DispatchImpl<Main, IKXDBDatasheetSvcsMain, IProvideClassInfo2,
                                   ISupportErrorInfo, IKXQDataServiceImpl<Main, MainContext>> {
 public:
  // Takes a lock on the module for the object's life.
  Main();
  Main(const Main&) = delete;
  Main& operator=(const Main&) = delete;

  // Creates a Main and gives interface `riid` on it (AddRef'd) in *ppv.
  static HRESULT CreateInstance(REFIID riid, void** ppv);
  // Writes (`doRegister` true) or removes the module's registration script
  // in the registration store; `modulePath` is the library's own path.
  static HRESULT UpdateRegistry(bool doRegister, const char16_t* modulePath);

  // IUnknown. Interfaces answered, in order: IKXDBDatasheetSvcsMain,
  // IDispatch, IProvideClassInfo, IProvideClassInfo2, ISupportErrorInfo,
  // IKXQDataService.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch of both dual interfaces (DispatchImpl): no type
  // information; names and calls of IKXDBDatasheetSvcsMain from a table.
  std::span<const kx::com::DispatchEntry> dispatch_entries() const;

  // IProvideClassInfo2: there is no type information (E_NOTIMPL); no default
  // source interface (E_FAIL for that kind, E_INVALIDARG for any other).
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** ppTI) override;
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD dwGuidKind, GUID* pGUID) override;

  // ISupportErrorInfo: S_OK for IKXDBDatasheetSvcsMain and IKXQDataService.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  // IKXDBDatasheetSvcsMain, the automation methods (mainautomation.cpp;
  // "LoadBEDDData" in beddmaster.cpp).
  HRESULT STDMETHODCALLTYPE VisualAppearances(IDispatch* pAttribute,
                                              IDispatch** ppObjects) override;
  HRESULT STDMETHODCALLTYPE LoadBEDDData(BSTR* bstrTemplateId, IDispatch* pObject,
                                         VARIANT* vPbsFolder) override;

  // IKXQDataService operations that Main serves itself.
  HRESULT StartUp(IKXQRegistrar* registrar) override;
  HRESULT TriggerFired(IKXQTrigger* trigger, IKXQApplication* application) override;
  HRESULT GetObjectServices(LONG kind, VARIANT reserved, IKXQObject* object,
                            IKXQApplication* application, IDispatch** services) override;
  HRESULT RunMethod(LONG methodId, VARIANT reserved1, IKXQObject* object, VARIANT reserved2,
                    IKXQApplication* application, VARIANT* result) override;
  HRESULT OnDatabaseEvent(LONG kind, IKXQObject* object, VARIANT* arguments) override;

  // Start-up registration: ProgID, privileges, database events, object
  // services and methods. Returns the result of the last method declaration.
  HRESULT RegisterServices(IKXQRegistrar* registrar);
  // Routes a database event of local kind 1..9 to its handler; other kinds
  // do nothing. Throws KXComException.
  HRESULT OnEvent(LONG kind, IKXQObject* object, VARIANT* arguments);
  // The trigger callback (triggercallbacks.cpp): records the fired items
  // again and tells the clients what changed. One failing key becomes a
  // warning of `application` and the next key follows.
  HRESULT OnTriggerFired(IKXQTrigger* trigger, IKXQApplication* application);
  // Copies field `field` (its number on the page) of a current page into
  // the datasheet's submitted, checked or issued copy of it, when the field
  // shows the datasheet's own data. Throws KXComException.
  void UpdateStatusCopyField(IKXQObject* page, int32_t field, PageLoadContext& context);
  // Passes an issued field's text on to the pages that show the issued
  // copy. Throws KXComException.
  void UpdateReferencedIssuedFields(IKXQObject* issued, const OLECHAR* text, int32_t field);
  // Set by the check and issue workers; from then on field callbacks also
  // keep the status copies up to date. Never cleared.
  void SetStatusCopyFlag() override { m_statusCopy = true; }

  // Permanent filters (permanentfilters.cpp): the "SSPF" trigger of a
  // summary sheet (`isDatasheet`) or of its list page fired. Each fired
  // object is tested again and added or removed; the clients are told.
  HRESULT ApplyPermanentFilterTrigger(IKXQObject* owner, IKXQTrigger* trigger, bool isDatasheet);
  // A key whose work fails becomes the host's warning, naming the key; the
  // next key follows and the change that fired them stands.
  HRESULT ApplyPermanentFilterChanges(IKXQObject* owner, bool isDatasheet, IKXQTrigger* trigger);
  // The decision for one fired key, carried out; failures are raised.
  void ApplyPermanentFilterKey(KXComException& ctx, IKXQObject* owner, bool isDatasheet,
                               IKXQTrigger* trigger, const OLECHAR* key);
  // 0 nothing to do, 1 the object passes (add it), 2 it does not (remove).
  int32_t EvaluatePermanentFilterKey(IKXQObject* owner, const OLECHAR* key, IKXQObjectPtr& object,
                                     IKXQTrigger* trigger);
  // The template page a new member of the summary goes on; null when none
  // fits.
  HRESULT FindSummaryTemplatePage(IKXQObject* datasheet, IKXQObject* object,
                                  IKXQTemplatePage** templatePage);
  // Whether `page`, page 1 of `tmpl`, takes `object` (of class `cls`): a
  // list page by the classes of its rows, any other by the template's
  // class view.
  bool TakesObject(KXComException& ctx, IKXQTemplate* tmpl, IKXQTemplatePage* page,
                   IKXQObject* object, IKXQClass* cls);

  // Database-event handlers (maindatabaseevents.cpp). Objects are
  // borrowed. A failure comes back as a failed HRESULT with the thread's
  // error information.
  HRESULT HandleCreateEvent(IKXQObject* object);
  HRESULT HandleDeleteEvent(IKXQObject* object);
  HRESULT HandleDeleteCaseEvent(IKXQObject* object, LONG caseNumber);
  HRESULT HandleUpdateProjectEvent(IKXQProjectUpdate* update);
  HRESULT HandleDeleteProjectEvent(IKXQProject* project);
  HRESULT HandleChangeClassEvent(IKXQObject* object, IKXQClass* newClass);
  HRESULT HandleChangeClaimStatusEvent(IKXQObject* object);
  // Composes a summary sheet afresh: its members as pages (a page-per-member
  // sheet) or the rows of each continuous-list page. *changed: a
  // composition ran to its end. `tmpl` is not used.
  HRESULT UpdateSummarySheet(IKXQObject* datasheet, IKXQTemplate* tmpl, bool* changed) override;
  // Whether `object` passes the object filter of `holder` (a summary sheet
  // or its list page; no filter passes), tested with `datasheet` as the
  // summary document. The holder's "SSPF" trigger, when it has one,
  // records the test under the object's id. Throws KXComException.
  bool PassesSummaryFilter(IKXQObject* holder, IKXQObject* object, IKXQObject* datasheet);
  // Takes `object` off `view` (an entry of its "DataViews") when the view is
  // a page of a known template; other views are left alone.
  HRESULT RemoveFromDataView(IKXQObject* view, IKXQObject* object);

  // The data-service map the request operations dispatch through.
  // Its handlers live with their message families and see this
  // object as its MainContext.
  static const DataServiceMapEntryOf<MainContext>* DataServiceMap();

  // The workers and handlers that tests observe (see MainWorkers). Null
  // restores the real ones; a table given stays the caller's and must
  // outlive this object's use of it.
  void UseWorkers(MainWorkers* workers);
  WorkerTable& Workers() override;
  // Runs the worker of `element` of a message being parsed, through the
  // table.
  HRESULT RunWorker(MessageParser& request, uint32_t element) override;

  // Change events (mainevents.cpp). Each launch makes one event for the
  // object (a page's events go to the datasheet that owns it; none is made
  // for a null page or one without a datasheet), merges it into the pending
  // event of the same key or posts it to the datasheet's users at `status`.
  // Objects are borrowed. Never throws: a failure comes back as an HRESULT
  // with the thread's error information.
  HRESULT LaunchDatasheetEvent(IKXQObject* datasheet, int32_t status) override;
  HRESULT LaunchPageEvent(IKXQObject* page, int32_t status) override;
  // `refresh`: trigger callbacks and the qualifier setter only.
  HRESULT LaunchDataFieldEvent(IKXQObject* page, int32_t field, int32_t status,
                               bool refresh) override;
  HRESULT LaunchUnitFieldEvent(IKXQObject* page, int32_t unit, int32_t status) override;
  HRESULT LaunchAnnotationFieldEvent(IKXQObject* page, int32_t annotation, int32_t status) override;
  HRESULT LaunchQualifierEvent(IKXQObject* page, int32_t qualifier, int32_t status) override;
  // Merges `event` into a pending event of its key, or addresses it to the
  // users holding `datasheet` at `status` and posts it when there is one.
  // Throws KXComException.
  void PostEvent(KXQApplicationEventImpl* event, IKXQObject* datasheet, int32_t status) override;
  // True when a pending event of the same key took `event`'s ids: the first
  // of the host application's pending events with that key, whoever posted
  // it and whatever the host read of it (those of other services skipped),
  // found through the host's lookup by key when it offers one, else in its
  // whole pending list. Throws KXComException.
  bool MergeWithPendingEvent(IDatasheetEvent* event);
  // True when the host holds a page event of `page` at `status` still
  // pending: it will show the whole page as it is when delivered. False
  // when that cannot be told.
  bool PageEventPending(IKXQObject* page, int32_t status);

  // "FilterSort.xml" (mainfiltersort.cpp). LoadFilterSortFile reads the file
  // of the templates folder once for this Main (a missing or malformed file
  // leaves what was read before the fault; no error reaches the caller).
  void LoadFilterSortFile() override;
  // Adds a record unless its id is held (letter case not counted); true
  // when added.
  bool AddTemplateFilterSort(const OLECHAR* id, const OLECHAR* filterId, const OLECHAR* sortId);
  // The template's FilterId / SortId; empty when the table has no record.
  _bstr_t GetTemplateFilterId(std::u16string id) const override;
  _bstr_t GetTemplateSortId(std::u16string id) const;
  const FilterSortTable& FilterSorts() const { return m_filterSort; }
  // Sorts a new summary sheet by its template's SortId at the column of the
  // first field met depth first in its first page's top-level data views
  // and their sub-views; nothing without a SortId or such a field.
  HRESULT ApplyTemplateFilterSort(IKXQObject* datasheet) override;

  // The one continuous-list analysis of the module, kept for the template
  // page analysed last.
  ContinuousPageHelper& GetContinuousPageHelper() override { return m_continuousPageHelper; }

 private:
  ~Main();

  ULONG m_refs = 0;
  bool m_statusCopy = false;
  MainWorkers* m_pWorkers;
  ContinuousPageHelper m_continuousPageHelper;
  FilterSortTable m_filterSort;
  bool m_filterSortLoaded = false;

  // A datasheet's user table as PostEvent read it, kept while the stamp of
  // the datasheet's other changes (IKXQValueStamps for a name its class does
  // not define: the user table, objects, schema, templates, a catch-up and a
  // rollback all move it) is as it was. Each entry holds its datasheet, so
  // that no other object takes its address.
  struct KeptUser {
    LONG status = 0;
    _bstr_t name;
  };
  struct KeptUsers {
    IKXQObjectPtr datasheet;
    LONGLONG stamp = 0;
    std::vector<KeptUser> users;  // the rows that name a user, in order
  };
  std::map<IKXQObject*, KeptUsers> m_keptUsers;
  // The key MergeWithPendingEvent last asked the host's lookup for.
  _bstr_t m_lookupKey;
  // Adds the kept users at `status` to `event`; false when none is kept or
  // the kept table may have changed (the entry is dropped).
  bool AddKeptRecipients(KXQApplicationEventImpl* event, IKXQObject* datasheet, int32_t status);
  // Keeps the user table `table` read from `datasheet` when the datasheet
  // answered its stamp `stamp` before the read and every row reads cleanly.
  void KeepUsers(IKXQObject* datasheet, bool stamped, LONGLONG stamp, SAFEARRAY* table);

  // The rows by object id of the continuous pages whose trigger callbacks
  // came last (triggercallbacks.cpp), each entry holding its page: the
  // callback of one row of a long list finds it without reading every row
  // again while the page's "NodeObjects" stay as they were.
  struct KeptRows {
    IKXQObjectPtr page;
    std::shared_ptr<ListRowsById> rows;
  };
  std::map<IKXQObject*, KeptRows> m_keptRows;
  ListRowsById& KeptListRows(IKXQObject* page);

 public:
  void KeepRecordedRows(IKXQObject* page, const std::vector<int32_t>& ids) override;
};

namespace KXDBDatasheetSvcs {

// The names of the classes that summary-sheet templates list, as a
// one-dimensional SAFEARRAY of BSTR in `classes` (cleared first); the
// caller clears it. `templates` is the registrar's template collection
// (borrowed, may be null).
HRESULT SummarySheetClasses(Main& main, IDispatch* templates, VARIANT* classes);
// Reads "FilterSort.xml" at `path` into Main's table.
HRESULT ParseFilterSortFile(Main& main, const OLECHAR* path);

}  // namespace KXDBDatasheetSvcs
