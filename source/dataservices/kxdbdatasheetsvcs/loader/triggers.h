// The store's triggers on what a client shows, and what they record.
//
// Every datasheet and page handed to a client, every page with overspill
// and every filtered summary sheet carries a named trigger of the store
// bound to this service: "Datasheet", "Field", "Overspill" or "SSPF". A
// trigger holds items under keys; between `BeginItem` and `EndItem` the
// service reads exactly the data behind one displayed thing, and when any
// of it changes the store calls `Main::OnTriggerFired` with the keys that
// fired. The set-up below records all items of a trigger when none fired
// (first set-up) and only the fired ones otherwise.
//
// Keys: "Pages" and "Name" for a datasheet; the zero-based field index for
// an ordinary page; for a continuous-list page the position of a fixed
// field, or "CL<row object id>:<column>" for a row field; the zero-based
// association index for an overspill page; the object id for "SSPF".
//
// Conventions: objects are borrowed; operations return an HRESULT and leave
// the "<KXError" description as the thread's error information (they throw
// nothing). The host's current datasheet and page are changed while items
// are recorded and put back on every way out.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "com/comutil.h"
#include "host/application.h"
#include "kxstoreptrs.h"

class ContinuousPageHelper;
class MainContext;
class KXComException;
class OverspillUtils;
struct ListFieldWalk;
namespace VariantUtil {
class SafeArrayMatrix;
}

// The handler every trigger of the service names.
inline constexpr OLECHAR kTriggerHandler[] = u"KXDBDatasheetSvcs.Main";

namespace KXDBDatasheetServices {

// Whether the object's trigger `name` is this service's to set up: the
// object has none, or one bound to no handler or to this service's ProgID
// (either form). A trigger of another handler is left to it. When the
// store cannot tell, the answer is true.
bool IsOwnTrigger(IKXQObject* object, const OLECHAR* name);
// Binds the object's trigger `name` to this service (options 0, handler)
// and hands it out in *trigger (owned). Items already recorded stay.
HRESULT SetUpTrigger(MainContext& main, IKXQObject* object, const OLECHAR* name,
                     IKXQTrigger** trigger);
// The datasheet's "Datasheet" trigger with its items "Pages" and "Name".
HRESULT InitializeDatasheetTrigger(MainContext& main, IKXQObject* datasheet);
// The page's "Field" trigger with one item per field and, on an ordinary
// page with an overspill association, its "Overspill" trigger. With
// `bindOnly` the object's "Field" trigger is only bound (rows added to a
// continuous list record their own items).
HRESULT InitializePageTrigger(MainContext& main, IKXQObject* page, bool bindOnly = false);
// The page's "Overspill" trigger, when its template page has an overspill
// association.
HRESULT InitializeNodeTrigger(MainContext& main, IKXQObject* page);
// The summary sheet's (or list page's) "SSPF" trigger, bound and emptied;
// its items are recorded by the filter tests.
HRESULT InitializePermanentFilterTrigger(MainContext& main, IKXQObject* summary);

// Item recording of each kind; all items when no key fired, else the fired
// ones. The fired keys are cleared.
HRESULT InitializeDatasheetTriggerData(MainContext& main, IKXQObject* datasheet,
                                       IKXQTrigger* trigger);
// `fired` (may be null): the trigger's fired keys, read by the caller just
// now.
HRESULT InitializeFieldTriggers(MainContext& main, IKXQObject* page, IKXQTrigger* trigger,
                                const std::vector<_bstr_t>* fired = nullptr);
HRESULT InitializeNodeTriggerData(MainContext& main, IKXQObject* page, OverspillUtils& run,
                                  IKXQTrigger* trigger);

}  // namespace KXDBDatasheetServices

// One item of an ordinary page: key = `index` (zero-based) in decimal; the
// field's value with its unit is read inside it. No template field: no item.
HRESULT RecordFieldItem(MainContext& main, IKXQObject* page, IKXQTemplatePage* templatePage,
                        int32_t index, IKXQTrigger* trigger, SAFEARRAY* overspillChain,
                        IKXQAttribute* fields);
// One item of a continuous-list page at "Fields" position `position`, row
// `row` (-1: a fixed field): the value, the page's id and the position's
// "Fields" entry are read inside it. Nothing at that row: no item.
// `walk` (may be null): the field writer's walk to the same position,
// taken instead of walking again when it still holds.
HRESULT RecordListFieldItem(MainContext& main, IKXQObject* page, IKXQTemplateField* field,
                            const OLECHAR* key, int32_t position, int32_t row, IKXQTrigger* trigger,
                            IKXQAttribute* fields, const ListFieldWalk* walk = nullptr);
// The item of one position of a continuous-list page under the position's
// decimal text, with `main`'s analysis of the page (used by composition,
// sorting and the data-field event).
HRESULT RecordContinuousFieldItem(MainContext& main, IKXQObject* page,
                                  IKXQTemplatePage* templatePage, IKXQTrigger* trigger,
                                  int32_t position, const ListFieldWalk* walk = nullptr);
// One overspill item: every value of `name` on the object the page shows
// at `node`, under key `row`.
HRESULT RecordOverspillItem(MainContext& main, IKXQObject* page, int32_t row, IKXQClassView* node,
                            const OLECHAR* name, IKXQTrigger* trigger);
// Column `position` (from 0) of an overspill association list: its data
// view and attribute name; both empty for a column outside the list (or a
// first element that is no data view). Throws KXComException.
void ReadOverspillAssociation(const VariantUtil::SafeArrayMatrix& pairs, int32_t position,
                              IKXQClassViewPtr& view, _bstr_t& name);
// The page's overspill association (2 x N, one association per column), or
// null; S_FALSE and null when the run has no owner.
HRESULT GetPageOverspillAssociation(OverspillUtils& run, IKXQObject* page, SAFEARRAY** list);

// The rows of a continuous page's row objects by object id, for the keys of
// its callbacks: the page's "NodeObjects" are read once, not scanned again
// for every key or callback, and read anew whenever they changed since (a
// store without value stamps reads them for every key). Keeps the page
// without a reference, and the rows' objects as the page's items were last
// recorded: a row key's item watches the row it was recorded for, which may
// show another object now.
class ListRowsById {
 public:
  explicit ListRowsById(IKXQObject* page);
  ListRowsById(const ListRowsById&) = delete;
  ListRowsById& operator=(const ListRowsById&) = delete;
  IKXQObject* Page() const { return m_page; }
  // The row (from 0) of the first row position of the analysed list that
  // shows object `id`; -1 when none does.
  int32_t RowOf(const ContinuousPageHelper& helper, int32_t id);
  // Every row (from 0, ascending) that shows object `id` now, and each row
  // of the list that showed it when the items were recorded.
  std::vector<int32_t> RowsOf(const ContinuousPageHelper& helper, int32_t id);
  // The rows' object ids (row -> id, 0 for none) the items were recorded with.
  void KeepRecorded(const std::vector<int32_t>& ids);

 private:
  void Read(const ContinuousPageHelper& helper);
  IKXQObject* m_page;
  _com_ptr_t<IKXQValueStamps> m_stamps;
  bool m_read = false;
  LONGLONG m_stamp = 0;
  int32_t m_first = 0;
  // Rows by object id, now and as recorded: id -> its first row, and row ->
  // the next row of its object (-1 after the last).
  struct Rows {
    std::unordered_map<int32_t, int32_t> first;
    std::vector<int32_t> next;
    void Index(const std::vector<int32_t>& ids);
  };
  Rows m_now;
  Rows m_recorded;
};

// The 1-based field position a continuous-list key names, -1 for none. A
// row key is looked up in the page's "NodeObjects" (null page: in the
// analysis's cached row-object ids); any other key is its leading decimal
// number, and a number below 1 names no position.
int32_t ContinuousListKeyToPosition(const ContinuousPageHelper& helper, const OLECHAR* key,
                                    IKXQObject* page);
// The same, a row key looked up in `rows` (its page's rows).
int32_t ContinuousListKeyToPosition(const ContinuousPageHelper& helper, const OLECHAR* key,
                                    ListRowsById& rows);
// Every position a continuous-list key stands for on its page: a row key's
// column in each row of `rows` that shows its object or showed it when the
// items were recorded (ListRowsById::RowsOf); any other key its one
// position. Empty for none.
std::vector<int32_t> ContinuousListKeyPositions(const ContinuousPageHelper& helper,
                                                const OLECHAR* key, ListRowsById& rows);

namespace KXDBDatasheetSvcs {

// Whether `object` passes the object filter, tested with `summary` as the
// summary context, the test recorded by the summary's permanent-filter
// trigger (may be null) under the object's id. Throws KXComException.
bool IsObjectInFilter(IKXQApplication* application, const VARIANT& filter, IKXQObject* object,
                      IKXQObject* summary, IKXQTrigger* trigger);
// The same test, its recording's failures raised in the caller's `ctx` (the
// "<KXError" chain names the caller). "KX_CLAIM_ONLY" in any case is tested
// under that one spelling; an item is ended even when the test throws.
bool IsObjectInFilter(KXComException& ctx, IKXQApplication* application, const VARIANT& filter,
                      IKXQObject* object, IKXQObject* summary, IKXQTrigger* trigger);

}  // namespace KXDBDatasheetSvcs

// The fired keys of a trigger as texts, in order. VARIANT elements are
// changed to text; any other element type fails with E_FAIL. Throws
// KXComException.
std::vector<_bstr_t> ReadFiredKeys(IKXQTrigger* trigger);
