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

struct IKXQProjectUpdate;
struct IDatasheetEvent;
class KXQApplicationEventImpl;
class Main;
class MainWorkers;
struct PageLoadContext;
// The base of the module's message parsers.
using MessageParser = KXMessageParser<Main>;

class Main final : public kx::com::DispatchImpl<Main, IKXDBDatasheetSvcsMain, IProvideClassInfo2,
                                                ISupportErrorInfo, IKXQDataServiceImpl<Main>> {
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
  void SetStatusCopyFlag() { m_statusCopy = true; }
  bool StatusCopyFlag() const { return m_statusCopy; }

  // Permanent filters (permanentfilters.cpp): the "SSPF" trigger of a
  // summary sheet (`isDatasheet`) or of its list page fired. Each fired
  // object is tested again and added or removed; the clients are told.
  HRESULT ApplyPermanentFilterTrigger(IKXQObject* owner, IKXQTrigger* trigger, bool isDatasheet);
  HRESULT ApplyPermanentFilterChanges(IKXQObject* owner, bool isDatasheet, IKXQTrigger* trigger);
  // 0 nothing to do, 1 the object passes (add it), 2 it does not (remove).
  int32_t EvaluatePermanentFilterKey(IKXQObject* owner, const OLECHAR* key, IKXQObjectPtr& object,
                                     IKXQTrigger* trigger);
  // The template page a new member of the summary goes on; null when none
  // fits.
  HRESULT FindSummaryTemplatePage(IKXQObject* datasheet, IKXQObject* object,
                                  IKXQTemplatePage** templatePage);

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
  HRESULT UpdateSummarySheet(IKXQObject* datasheet, IKXQTemplate* tmpl, bool* changed);
  // Whether `object` passes the object filter of `holder` (a summary sheet
  // or its list page; no filter passes), tested with `datasheet` as the
  // summary document. The holder's "SSPF" trigger, when it has one,
  // records the test under the object's id. Throws KXComException.
  bool PassesSummaryFilter(IKXQObject* holder, IKXQObject* object, IKXQObject* datasheet);
  // Takes `object` off `view` (an entry of its "DataViews") when the view is
  // a page of a known template; other views are left alone.
  HRESULT RemoveFromDataView(IKXQObject* view, IKXQObject* object);

  // The message handlers, by family, each named by its entry of the
  // data-service map (messagemap.cpp). Each takes the request text
  // (borrowed BSTR; null is empty), traces its name, and returns an HRESULT
  // with the thread's error information set on failure.
  // Annotations (annotations.cpp).
  HRESULT CreateAnnotation(const OLECHAR* request);
  HRESULT SetAnnotation(const OLECHAR* request);
  HRESULT MoveAnnotation(const OLECHAR* request);
  // Summary sheets and lists (filters, sort, packobjects,
  // datasheetoverspill).
  HRESULT ListDatasheetFilters(const OLECHAR* request);
  HRESULT ApplyDatasheetFilter(const OLECHAR* request);
  HRESULT MakeSummaryProjectWide(const OLECHAR* request);
  HRESULT ListDatasheetSorts(const OLECHAR* request);
  HRESULT ApplyDatasheetSort(const OLECHAR* request);
  HRESULT PackObjects(const OLECHAR* request);
  HRESULT DatasheetOverspill(const OLECHAR* request);
  // The document catalogue: the listings (listdatasheetsby*, listdiagrams*),
  // the configuration queries (getconfigurations), renaming, closing,
  // recasing and the datasheet's objects (renamedocuments, closedocuments,
  // datasheetcases).
  HRESULT ListDatasheetsByObject(const OLECHAR* request);
  HRESULT ListDatasheetsByTemplate(const OLECHAR* request);
  HRESULT ListDatasheetsByStatus(const OLECHAR* request);
  HRESULT ListDatasheetsByField(const OLECHAR* request);
  HRESULT ListDiagrams(const OLECHAR* request);
  HRESULT ListDiagramsByObject(const OLECHAR* request);
  HRESULT ListSharedDiagrams(const OLECHAR* request);
  HRESULT GetConfigurations(const OLECHAR* request);
  HRESULT GetObjectFilters(const OLECHAR* request);
  HRESULT RenameDocuments(const OLECHAR* request);
  HRESULT CloseDocuments(const OLECHAR* request);
  HRESULT RecaseDocuments(const OLECHAR* request);
  HRESULT ListDatasheetObjects(const OLECHAR* request);
  // The document workflow (revisedocuments, withdrawdocuments).
  HRESULT SubmitDocuments(const OLECHAR* request);
  HRESULT CheckDocuments(const OLECHAR* request);
  HRESULT IssueDocuments(const OLECHAR* request);
  HRESULT WithdrawDocuments(const OLECHAR* request);
  // Holds, help, field options and display units (holds.cpp, help.cpp,
  // fieldoptions.cpp, datasheetdimensions.cpp, dimensions.cpp).
  HRESULT ListHolds(const OLECHAR* request);
  HRESULT CreateHold(const OLECHAR* request);
  HRESULT CloseHold(const OLECHAR* request);
  HRESULT GetOptions(const OLECHAR* request);
  HRESULT GetDocumentHelp(const OLECHAR* request);
  HRESULT GetFieldHelp(const OLECHAR* request);
  HRESULT ListDatasheetDimensionSets(const OLECHAR* request);
  HRESULT ListDatasheetDimensions(const OLECHAR* request);
  HRESULT ListDatasheetDimensionUnits(const OLECHAR* request);
  HRESULT ChangeDatasheetDimensionSet(const OLECHAR* request);
  HRESULT ChangeDatasheetDimensionUnit(const OLECHAR* request);
  HRESULT ListDimensionSets(const OLECHAR* request);
  HRESULT ListDimensions(const OLECHAR* request);
  HRESULT ListDimensionUnits(const OLECHAR* request);
  HRESULT ChangeDimensionSet(const OLECHAR* request);
  HRESULT ChangeDimensionUnit(const OLECHAR* request);
  // Template, source and bitmap files (files.cpp).
  HRESULT GetTemplateFile(const OLECHAR* request);
  HRESULT GetTemplateFromDB(const OLECHAR* request);
  HRESULT GetSourceFromDB(const OLECHAR* request);
  HRESULT SetQMFDBTemplate(const OLECHAR* request);
  HRESULT GetBitmapFile(const OLECHAR* request);
  HRESULT GetSourceFile(const OLECHAR* request);
  // Template listings (listtemplates.cpp).
  HRESULT ListTemplates(const OLECHAR* request);
  HRESULT ListCachedTemplates(const OLECHAR* request);
  // The page messages (pages.cpp).
  HRESULT InsertPages(const OLECHAR* request);
  HRESULT DeletePage(const OLECHAR* request);
  HRESULT RenamePage(const OLECHAR* request);
  HRESULT MovePage(const OLECHAR* request);
  HRESULT SetPageCase(const OLECHAR* request);
  HRESULT PageLayout(const OLECHAR* request);
  HRESULT ListTemplatePages(const OLECHAR* request);
  HRESULT ListTemplatePagesByObject(const OLECHAR* request);
  // Open page, page objects and page comparison (openpage.cpp).
  HRESULT OpenPage(const OLECHAR* request);
  // Document catalogue: opening, comparing, creating, template validation.
  HRESULT ProcessDocuments(const OLECHAR* request);
  HRESULT CompareDocuments(const OLECHAR* request);
  HRESULT CreateDocuments(const OLECHAR* request);
  HRESULT ValidateTemplates(const OLECHAR* request);
  HRESULT UpdateTemplates(const OLECHAR* request);
  HRESULT ListPageObjects(const OLECHAR* request);
  HRESULT ComparePages(const OLECHAR* request);
  // Field values (stringfield.cpp, realfield.cpp, ... unitfield.cpp).
  HRESULT SetStringField(const OLECHAR* request);
  HRESULT SetRealField(const OLECHAR* request);
  HRESULT SetIntegerField(const OLECHAR* request);
  HRESULT SetDateField(const OLECHAR* request);
  HRESULT SetBoolField(const OLECHAR* request);
  HRESULT SetCheckField(const OLECHAR* request);
  HRESULT SetRadioField(const OLECHAR* request);
  HRESULT SetSketchField(const OLECHAR* request);
  HRESULT SetQualifier(const OLECHAR* request);
  HRESULT SetUnit(const OLECHAR* request);
  HRESULT GetUnits(const OLECHAR* request);
  // Field properties and presentation (fieldproperties.cpp, fieldstatus.cpp,
  // fieldformat.cpp, fieldobjects.cpp, methods.cpp, fieldcases.cpp).
  HRESULT GetFieldProperties(const OLECHAR* request);
  HRESULT SetFieldProperties(const OLECHAR* request);
  HRESULT GetFieldStatus(const OLECHAR* request);
  HRESULT SetFieldStatus(const OLECHAR* request);
  HRESULT GetFieldFormat(const OLECHAR* request);
  HRESULT SetFieldFormat(const OLECHAR* request);
  HRESULT ShowFieldObjects(const OLECHAR* request);
  HRESULT HideFieldObjects(const OLECHAR* request);
  HRESULT DeleteFieldObjects(const OLECHAR* request);
  HRESULT AddFieldObjects(const OLECHAR* request);
  HRESULT RemoveFieldObjects(const OLECHAR* request);
  HRESULT ShowPrimaryObjects(const OLECHAR* request);
  HRESULT GetFieldObject(const OLECHAR* request);
  HRESULT ShowFieldCase(const OLECHAR* request);
  HRESULT HideFieldCase(const OLECHAR* request);
  HRESULT CopyFieldCase(const OLECHAR* request);
  // Report information (infoforreport.cpp).
  HRESULT GetInfoForReport(const OLECHAR* request);

  // The data-service map the request operations dispatch through.
  static const DataServiceMapEntryOf<Main>* DataServiceMap();

  // The workers and handlers that tests observe (see MainWorkers). Null
  // restores the real ones; a table given stays the caller's and must
  // outlive this object's use of it.
  void UseWorkers(MainWorkers* workers);
  MainWorkers& Workers() { return *m_pWorkers; }
  // Runs the worker of `element` of a message being parsed, through the
  // table.
  HRESULT RunWorker(MessageParser& request, uint32_t element);

  // Change events (mainevents.cpp). Each launch makes one event for the
  // object (a page's events go to the datasheet that owns it; none is made
  // for a null page or one without a datasheet), merges it into the pending
  // event of the same key or posts it to the datasheet's users at `status`.
  // Objects are borrowed. Never throws: a failure comes back as an HRESULT
  // with the thread's error information.
  HRESULT LaunchDatasheetEvent(IKXQObject* datasheet, int32_t status);
  HRESULT LaunchPageEvent(IKXQObject* page, int32_t status);
  // `refresh`: trigger callbacks and the qualifier setter only.
  HRESULT LaunchDataFieldEvent(IKXQObject* page, int32_t field, int32_t status, bool refresh);
  HRESULT LaunchUnitFieldEvent(IKXQObject* page, int32_t unit, int32_t status);
  HRESULT LaunchAnnotationFieldEvent(IKXQObject* page, int32_t annotation, int32_t status);
  HRESULT LaunchQualifierEvent(IKXQObject* page, int32_t qualifier, int32_t status);
  // Merges `event` into a pending event of its key, or addresses it to the
  // users holding `datasheet` at `status` and posts it when there is one.
  // Throws KXComException.
  void PostEvent(KXQApplicationEventImpl* event, IKXQObject* datasheet, int32_t status);
  // True when a pending event of the same key took `event`'s ids. Pending
  // events of other services are skipped. Throws KXComException.
  bool MergeWithPendingEvent(IDatasheetEvent* event);

  // While one lives, the events that launches make are held here instead
  // of being posted: Post() posts them in launch order (each merged or
  // posted as the launch would have), Drop() forgets them, for a change
  // that did not stand. One that ends with neither posts them, failures
  // ignored. They nest: the innermost holds.
  class HeldEvents {
   public:
    explicit HeldEvents(Main& main);
    ~HeldEvents();
    HeldEvents(const HeldEvents&) = delete;
    HeldEvents& operator=(const HeldEvents&) = delete;
    // Throws KXComException as PostEvent does.
    void Post();
    void Drop();

   private:
    friend class Main;
    struct Held {
      _com_ptr_t<IKXQApplicationEvent> reference;
      KXQApplicationEventImpl* event;
      IKXQObjectPtr datasheet;
      int32_t status;
    };
    void Release();
    Main& m_main;
    HeldEvents* m_outer;
    bool m_active = true;
    std::vector<Held> m_events;
  };

  // "FilterSort.xml" (mainfiltersort.cpp). LoadFilterSortFile reads the file
  // of the templates folder once for this Main (a missing or malformed file
  // leaves what was read before the fault; no error reaches the caller).
  void LoadFilterSortFile();
  // Adds a record unless its id is held (letter case not counted); true
  // when added.
  bool AddTemplateFilterSort(const OLECHAR* id, const OLECHAR* filterId, const OLECHAR* sortId);
  // The template's FilterId / SortId; empty when the table has no record.
  _bstr_t GetTemplateFilterId(std::u16string id) const;
  _bstr_t GetTemplateSortId(std::u16string id) const;
  const FilterSortTable& FilterSorts() const { return m_filterSort; }
  // Sorts a new summary sheet by its template's SortId at the column of the
  // first field met depth first in its first page's top-level data views
  // and their sub-views; nothing without a SortId or such a field.
  HRESULT ApplyTemplateFilterSort(IKXQObject* datasheet);

  // The one continuous-list analysis of the module, kept for the template
  // page analysed last.
  ContinuousPageHelper& GetContinuousPageHelper() { return m_continuousPageHelper; }

 private:
  ~Main();

  ULONG m_refs = 0;
  bool m_statusCopy = false;
  MainWorkers* m_pWorkers;
  ContinuousPageHelper m_continuousPageHelper;
  FilterSortTable m_filterSort;
  bool m_filterSortLoaded = false;
  HeldEvents* m_heldEvents = nullptr;
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
