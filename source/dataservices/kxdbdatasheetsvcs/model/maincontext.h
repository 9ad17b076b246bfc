// What the module's layers below `Main` need of it: the host connection,
// the continuous-list analysis, the change-event launches, the status-copy
// flag, the "FilterSort.xml" settings and the worker table that tests
// replace. `Main` implements it; every folder of the module but main/ sees
// `Main` only through this interface, so none of them depends on the COM
// object or the dispatch.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "com/comutil.h"
#include "host/application.h"
#include "host/events.h"
#include "kxqdataserviceimpl.h"
#include "kxstoreptrs.h"
#include "messagekit.h"
#include "model/continuouspageadvisor.h"

class KXQApplicationEventImpl;
class MainContext;
class WorkerTable;
namespace FieldUtils {
struct SettledWalk;
}

// The base of the module's message parsers.
using MessageParser = KXMessageParser<MainContext>;

// The class whose objects' deletions the module subscribes to: the host
// tells it of no other object's deletion.
inline constexpr OLECHAR kDeleteEventClass[] = u"GenericClass";

class MainContext : public HostConnection {
 public:
  // Runs the worker of `element` of a message being parsed, through the
  // worker table.
  virtual HRESULT RunWorker(MessageParser& request, uint32_t element) = 0;
  // The worker table (the real one unless a test gave its own).
  virtual WorkerTable& Workers() = 0;

  // The one continuous-list analysis of the module, kept for the template
  // page analysed last.
  virtual ContinuousPageHelper& GetContinuousPageHelper() = 0;

  // Change events. Each launch makes one event for the object (a page's
  // events go to the datasheet that owns it; none is made for a null page
  // or one without a datasheet), merges it into the pending event of the
  // same key or posts it to the datasheet's users at `status`. Objects are
  // borrowed. Never throws: a failure comes back as an HRESULT with the
  // thread's error information.
  virtual HRESULT LaunchDatasheetEvent(IKXQObject* datasheet, int32_t status) = 0;
  virtual HRESULT LaunchPageEvent(IKXQObject* page, int32_t status) = 0;
  // `refresh`: trigger callbacks and the qualifier setter only.
  virtual HRESULT LaunchDataFieldEvent(IKXQObject* page, int32_t field, int32_t status,
                                       bool refresh) = 0;
  // LaunchDataFieldEvent handing the event `walk`, the walk its launcher
  // made to the field (the event's writer reads the field again and may take
  // it); only this launch takes it.
  HRESULT LaunchDataFieldEventWithWalk(IKXQObject* page, int32_t field, int32_t status,
                                       bool refresh,
                                       std::shared_ptr<const FieldUtils::SettledWalk> walk) {
    m_launchWalk = std::move(walk);
    const HRESULT hr = LaunchDataFieldEvent(page, field, status, refresh);
    m_launchWalk = nullptr;
    return hr;
  }
  // The walk handed to the data-field event being launched
  // (LaunchDataFieldEventWithWalk); empty otherwise.
  std::shared_ptr<const FieldUtils::SettledWalk> m_launchWalk;
  // While a trigger callback records a plain page's fired items: each
  // item's walk by its field position, for the data-field event the
  // callback raises next (null otherwise).
  std::map<int32_t, std::shared_ptr<const FieldUtils::SettledWalk>>* m_itemWalks = nullptr;
  virtual HRESULT LaunchUnitFieldEvent(IKXQObject* page, int32_t unit, int32_t status) = 0;
  virtual HRESULT LaunchAnnotationFieldEvent(IKXQObject* page, int32_t annotation,
                                             int32_t status) = 0;
  virtual HRESULT LaunchQualifierEvent(IKXQObject* page, int32_t qualifier, int32_t status) = 0;
  // Merges `event` into a pending event of its key, or addresses it to the
  // users holding `datasheet` at `status` and posts it when there is one.
  // Throws KXComException.
  virtual void PostEvent(KXQApplicationEventImpl* event, IKXQObject* datasheet, int32_t status) = 0;

  // While one lives, the events that launches make are held here instead
  // of being posted: Post() posts them in launch order (each merged or
  // posted as the launch would have), Drop() forgets them, for a change
  // that did not stand. One that ends with neither posts them, failures
  // ignored. They nest: the innermost holds.
  class HeldEvents {
   public:
    explicit HeldEvents(MainContext& main);
    ~HeldEvents();
    HeldEvents(const HeldEvents&) = delete;
    HeldEvents& operator=(const HeldEvents&) = delete;
    // Throws KXComException as PostEvent does.
    void Post();
    void Drop();
    // Keeps a launched event (its reference taken) until Post or Drop.
    void Hold(KXQApplicationEventImpl* event, _com_ptr_t<IKXQApplicationEvent> reference,
              IKXQObject* datasheet, int32_t status);

   private:
    struct Held {
      _com_ptr_t<IKXQApplicationEvent> reference;
      KXQApplicationEventImpl* event;
      IKXQObjectPtr datasheet;
      int32_t status;
    };
    void Release();
    MainContext& m_main;
    HeldEvents* m_outer;
    bool m_active = true;
    std::vector<Held> m_events;
  };

  // Keeps the object ids of a continuous page's rows (row -> id, 0 for
  // none) as its trigger items were recorded, for the page's callbacks: a
  // fired row key names an object, and the row its item watches may show
  // another one by then.
  virtual void KeepRecordedRows(IKXQObject* page, const std::vector<int32_t>& ids) = 0;

  // Set by the check and issue workers; from then on field callbacks also
  // keep the status copies up to date. Never cleared.
  virtual void SetStatusCopyFlag() = 0;

  // "FilterSort.xml": reads the file of the templates folder once (a
  // missing or malformed file leaves what was read before the fault; no
  // error reaches the caller).
  virtual void LoadFilterSortFile() = 0;
  // The template's FilterId; empty when the table has no record.
  virtual _bstr_t GetTemplateFilterId(std::u16string id) const = 0;
  // Sorts a new summary sheet by its template's SortId (nothing without
  // one).
  virtual HRESULT ApplyTemplateFilterSort(IKXQObject* datasheet) = 0;
  // Composes a summary sheet afresh. *changed: a composition ran to its
  // end. `tmpl` is not used.
  virtual HRESULT UpdateSummarySheet(IKXQObject* datasheet, IKXQTemplate* tmpl, bool* changed) = 0;

  // "LoadBEDDData" of the automation interface: the master BEDD data of a
  // template's class for `pObject`.
  virtual HRESULT STDMETHODCALLTYPE LoadBEDDData(BSTR* bstrTemplateId, IDispatch* pObject,
                                                 VARIANT* vPbsFolder) = 0;

 protected:
  MainContext() = default;
  ~MainContext() = default;

  // The innermost HeldEvents alive, or null.
  HeldEvents* m_heldEvents = nullptr;
};
