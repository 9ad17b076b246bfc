// The field model: how a page's fields reach the values behind them.
//
// A field is named by its page, its template field and, on a continuous
// list, its row. Its value lives in an attribute of some object of the
// store, reached by a route: the template field gives a chain of template
// nodes (root first) and a final route text; the object at the root node is
// placed on the page ("NodeObjects", "NodeIndices"), every further node
// names one step (a member, optionally with a list position in
// parentheses), and the route text names the value holder on the last
// object. Read mode ends quietly without a value holder where a link is
// missing; write mode creates missing links.
//
// Values cross the service boundary as text only: `SetAttributeValueFromText`
// and `GetAttributeValueText` turn texts into typed values of the store by
// the holder's data type and back.
//
// Conventions: objects are borrowed; out holders are cleared first and
// receive owned references; out BSTRs are new strings the caller frees.
// Routines throw `KXComException` unless they say they return failures.
// Everything runs on the host's apartment thread, except the route cache's
// sweeper (routecache.h).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "com/comutil.h"
#include "kxstoreptrs.h"
#include "variantutil.h"

class ContinuousPageHelper;
class KXComException;
class MainContext;

// Bits of a field's status word that the field model sets.
enum FieldStatusFlags : int32_t {
  kFieldStatus1 = 0x1,
  kFieldStatus2 = 0x2,
  kFieldStatus3 = 0x4,
  kFieldStatus4 = 0x8,
  kFieldStatusChanged = 0x100,
  kFieldStatusOutOfScope = 0x800,
  kFieldStatusShowsOther = 0x1000,
};

namespace FieldUtils {

// ---- Values as text ---------------------------------------------------------

// Stores `text` at `position` (VT_EMPTY for a single value, else a VT_I4
// list position) by the holder's data type: 1 and 4 text, 2 real in `unit`
// (null: the value's own unit) as "%lf" reads it, 5 integer (leading
// digits, "12abc" is 12), 6 date (the serial day number, read as a real),
// 7 Boolean ("1", "0", "true", "false", "yes", "no", "on", "off" in any
// case), 8 binary as Base64 text (numbertext.h says how numbers are read).
// An empty or null text clears the value whatever its type. Another type:
// E_FAIL "Unknown data type defined for attribute %ls". A text the type
// refuses (a number type's text without a number or with one out of range,
// an unknown Boolean word) stores nothing and raises the refusal.
void SetAttributeValueFromText(IKXQFieldValue* holder, const VARIANT& position, const OLECHAR* text,
                               const OLECHAR* unit);
// The value at `position` as text (reals in `unit`, else their own unit;
// Booleans "1"/"0"); null when the position holds no value.
void GetAttributeValueText(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& text,
                           const OLECHAR* unit);
// The same with the unit held as a BSTR (empty: none), handed to the store
// without a copy.
void SetAttributeValueFromText(IKXQFieldValue* holder, const VARIANT& position, const OLECHAR* text,
                               const _bstr_t& unit);
void GetAttributeValueText(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& text,
                           const _bstr_t& unit);
// The value as GetAttributeValueText gives it in its own unit, but a real
// with the digits it takes to be read back as the same number (17 where
// the usual 16 would round it): for a copy from one value to another.
void GetAttributeValueExactText(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& text);

// ---- Field lookups ----------------------------------------------------------

// The field's case id from the page's "Cases" at its case position + 1;
// -1 (with *defined false) when the field has no case position.
// `casePosition` and `defined` may be null.
int32_t GetFieldCase(IKXQObject* page, IKXQTemplateField* field, int32_t* casePosition,
                     bool* defined);
// The field's qualifier value (from "Qualifiers" at its qualifier position
// + 1; -1 without qualifier) and its node list for that value (root first),
// a SAFEARRAY the caller destroys (may stay null). A negative stored value:
// E_FAIL "Qualifier for field is not set".
void GetFieldQualifier(IKXQObject* page, IKXQTemplateField* field, int32_t* qualifier,
                       SAFEARRAY** nodes);
// The same with the node list given into `chain` (up to `capacity` nodes,
// each a reference the caller releases) where the field can: returns the
// count given there, or -1 and the list in *nodes as above.
int32_t GetFieldQualifierChain(IKXQObject* page, IKXQTemplateField* field, int32_t* qualifier,
                               IKXQClassView** chain, int32_t capacity, SAFEARRAY** nodes);
// The first (root) or last node of the field's node list. Failures:
// "Invalid template field definition".
void GetTemplateFieldNode(IKXQObject* page, IKXQTemplateField* field, bool first,
                          IKXQClassViewPtr& node);
// The path of the field's attribute from the object at its root node: the
// names of `nodes`, its node list for `qualifier` (root first), after the
// root, each followed by ".", then its route text: "A(2).B.C".
std::u16string GetFieldPathFromRoot(KXComException& ctx, IKXQTemplateField* field,
                                    int32_t qualifier, const VariantUtil::SafeArrayVector& nodes);
// The start of a field's walk: its node list for its qualifier value (root
// first), the root node (as GetTemplateFieldNode finds it, and failing as
// it fails) and the object at the root node (GetNodeObject; null when none).
struct FieldRoot {
  FieldRoot(IKXQObject* page, IKXQTemplateField* field);
  FieldRoot(const FieldRoot&) = delete;
  FieldRoot& operator=(const FieldRoot&) = delete;
  int32_t qualifier = -1;
  SAFEARRAY* raw = nullptr;
  VariantUtil::SafeArrayVector nodes;
  IKXQClassViewPtr node;
  IKXQObjectPtr object;

 private:
  static SAFEARRAY* ReadNodes(IKXQObject* page, IKXQTemplateField* field, int32_t* qualifier);
};
// The template field of a "Fields" entry: by the id its text records, else
// by the 1-based position.
void GetTemplateField(IKXQTemplatePage* templatePage, const OLECHAR* fieldData, int32_t position,
                      IKXQTemplateFieldPtr& field);
// The template's number of the field with id `fieldId`; integral number
// VARIANTs only (DISP_E_TYPEMISMATCH otherwise).
int32_t GetTemplateFieldNumber(IKXQTemplatePage* templatePage, int32_t fieldId,
                               IKXQTemplateFieldPtr& field);
// The field's number in the page's "Fields": the template's number, or on a
// continuous list the number for row `row` (-1: the field's own).
int32_t GetFieldNumber(MainContext& main, IKXQObject* page, int32_t fieldId, int32_t row,
                       IKXQTemplateFieldPtr& field);
// The field number on a continuous list analysed by `helper`: fields per
// row × row + the field's place + 1 (row < 0: place + 1). A field the
// analysis does not hold: E_FAIL " Field %d not found in continuous
// template %s ".
int32_t GetContinuousFieldNumber(const class ContinuousPageHelper& helper, IKXQTemplateField* field,
                                 int32_t row);
// The same for a field addressed by row, as a value write addresses it: a
// field outside the repeating block with `row` 0 or more is not found
// either (the same failure).
int32_t GetRowFieldNumber(const class ContinuousPageHelper& helper, IKXQTemplateField* field,
                          int32_t row);
// Whether `field` is a list column of the list `helper` analysed: a field
// of its repeating block, with one entry per row.
bool IsListColumn(const class ContinuousPageHelper& helper, IKXQTemplateField* field);
// The other half of that rule, for a request that writes through the
// field: a list column of `page` (a field of the repeating block) addressed
// without a row (`row` below 0) fails with DISP_E_BADINDEX "Field %d of page
// %d is a list column: row %d is no row of the list". Its node would name
// the list's first object, row 0, which the request did not ask for. A
// fixed field, or a row from 0, passes.
void CheckListColumnRow(const class ContinuousPageHelper& helper, IKXQObject* page,
                        IKXQTemplateField* field, int32_t row);
// False, after writing the "List items must be contiguous ..." alert into
// the reply, when `row` lies beyond the first blank row of the list
// analysed by `main`'s helper.
bool CheckListContiguity(MainContext& main, IKXQObject* page, int32_t row);
// The number of the attribute that holds the value at `position` (its
// "AttribId"), -1 when the holder names none.
int32_t GetItemNumberByKey(IKXQFieldValue* holder, const VARIANT& position);

// ---- Display, status and hidden objects -------------------------------------

// The 1-based position in the page's "Annotations" of the first annotation
// whose stored "FieldId" is `annotationId`, with its stored text in `text`.
// None: `text` null and -1, or, with `mustExist`, E_FAIL "Failed to find
// annotation %d". A null page or a page without "Annotations": E_POINTER.
int32_t GetAnnotation(IKXQObject* page, int32_t annotationId, bool mustExist, _bstr_t& text);

// GetAnnotation for many ids of one page: each stored annotation is read
// and parsed at most once, however many ids are looked up (an event that
// shows every annotation of a request). It reads the list as far as the
// ids asked for need, so it finds, and fails, as GetAnnotation does. The
// page's annotations must not change while it is used.
class AnnotationLookup {
 public:
  explicit AnnotationLookup(IKXQObject* page) : m_page(page) {}
  int32_t Find(int32_t annotationId, bool mustExist, _bstr_t& text);

 private:
  struct Found {
    int32_t position;
    _bstr_t text;
  };
  IKXQObject* m_page;
  IKXQAttributePtr m_annotations;
  int32_t m_count = -1;  // -1: the list not read yet
  int32_t m_read = 0;    // positions read so far
  std::map<int32_t, Found> m_found;
};

// The object at the field's root node (shifted by `row` on a continuous
// list); null when none.
void GetFieldRootObject(IKXQObject* page, IKXQTemplateField* field, IKXQObjectPtr& object);
void GetFieldRootObject(IKXQObject* page, IKXQTemplateField* field, int32_t row,
                        IKXQObjectPtr& object);
// The field's type name and, except for "Sketch", "Radio" and "Check", its
// alignments and format from its "Fields" record at `fieldNumber`, unset
// alignments taken from the template field.
void GetFieldDisplayFormat(IKXQTemplateField* field, IKXQAttribute* fields, int32_t fieldNumber,
                           _bstr_t& typeName, int32_t* alignment, int32_t* verticalAlignment,
                           _bstr_t& format);
// ORs the holder's status bits at `position` into *flags (0x1..0x8 for its
// first four states, 0x800 when its fifth is false).
void GetObjectStatusFlags(IKXQFieldValue* holder, const VARIANT& position, int32_t* flags);
// ORs 0x800 into *flags when the object the field's qualifier chooses is
// out of scope.
void GetQualifierScopeFlag(IKXQObject* page, IKXQTemplateField* field, int32_t* flags);
// Marks the node's object on the page shown to strict readers only (`flag`
// set: 0) or hidden (-1).
void UpdateHiddenObjects(IKXQObject* page, IKXQClassView* node, bool flag);

// Route-walk helpers.
// A VARIANT as a view: no value gives null; interfaces are queried;
// anything else E_FAIL "Unable to coerce argument to an KXView".
void CoerceToView(const VARIANT& value, IKXQViewPtr& view);
// The holder's object value at 1-based `position` as a view (read form).
void GetValueAsView(IKXQFieldValue* holder, int32_t position, IKXQViewPtr& view);
// The first position of the holder without an object (count + 1 when all
// hold one), as a view created for writing, with its object.
void GetFirstFreeListEntry(IKXQFieldValue* holder, IKXQViewPtr& view, IKXQObjectPtr& object);
bool IsContained(IKXQFieldValue* holder);
int32_t GetDataType(IKXQFieldValue* holder);
// The object seen through `definition` (may be null).
void GetObjectView(IKXQObject* object, IUnknown* definition, IKXQViewPtr& view);

// ---- Routes -----------------------------------------------------------------

// Walks the field's route from the page's root node object. Returns S_OK
// with a null *result when the walk ends early. Objects found by route are
// placed on the page. Write mode creates missing links, and replaces a list
// member already shown on the page by a fresh one. `shift` (may be null)
// is the page's index-shift table. Throws KXComException.
HRESULT ResolveFieldRoute(IKXQObject* page, IKXQTemplateField* field, int32_t caseId, bool write,
                          SAFEARRAY* shift, VARIANT* value, IKXQFieldValue** result);
// The same write walk from `root`, the field's FieldRoot on the page made
// since the page last changed (the walk need not look it up again).
HRESULT ResolveFieldRoute(IKXQObject* page, IKXQTemplateField* field, int32_t caseId,
                          const FieldRoot& root, SAFEARRAY* shift, VARIANT* value,
                          IKXQFieldValue** result);
class FieldValueRead;
// The read-mode walk for the field's case; a field without case gives no
// holder. Returns failures (thread error information set), throws nothing.
// `valueRead` (may be null): the caller reads the holder's value next (see
// FieldValueRead).
HRESULT ResolveFieldObject(IKXQObject* page, IKXQTemplateField* field, SAFEARRAY* shift,
                           VARIANT* value, IKXQFieldValue** result,
                           FieldValueRead* valueRead = nullptr);

// A field's read walk and the read of its value that follows it, within a
// page load that keeps walks (routecache.h). The page's writer reads each
// value right after walking to it: made `keeping`, ResolveFieldObject
// leaves the walk's collection of reads open, and KeepWithValue, called
// once the value was read, keeps the walk with the value's reads. The
// trigger set-up taking that walk (made not `keeping`) has the value's
// reads replayed with the walk's, and need not read the value again
// (ValueReplayed). Only the value of a field without unit is kept so: the
// writer and the trigger item read it alike (the same holder, position and
// format). A walk kept with its value is taken only by a caller that reads
// the value next. Destroyed before KeepWithValue, it keeps nothing.
class FieldValueRead {
 public:
  explicit FieldValueRead(bool keeping) : m_keeping(keeping) {}
  FieldValueRead(const FieldValueRead&) = delete;
  FieldValueRead& operator=(const FieldValueRead&) = delete;
  ~FieldValueRead();

  void KeepWithValue();
  bool ValueReplayed() const { return m_replayed; }

 private:
  friend HRESULT ResolveFieldObject(IKXQObject*, IKXQTemplateField*, SAFEARRAY*, VARIANT*,
                                    IKXQFieldValue**, FieldValueRead*);
  bool m_keeping;
  bool m_replayed = false;
  // The walk's open collection, handed over by ResolveFieldObject.
  IKXQObject* m_page = nullptr;
  IUnknown* m_field = nullptr;
  _com_ptr_t<IKXQReadLog> m_log;
  std::u16string m_shift;
  LONG m_changes = 0;
  IKXQFieldValuePtr m_holder;
  _variant_t m_position;
};

// A write walk of a field of a plain page that found the value holder
// without changing anything: a read walk of the same field on the same page
// with the same index-shift table finds the same holder and position while
// none of the values read by the field's case lookup, by the lookup of the
// walk's start and by the walk changed (their stamps). A value setter hands
// it to the data-field event it raises, whose writer reads the field again,
// in the same request or, when the host holds events, a later one.
struct SettledWalk {
  LONG pageId = 0;
  IKXQTemplateFieldPtr field;
  std::u16string shift;
  IKXQFieldValuePtr holder;
  _variant_t position;
  _com_ptr_t<IKXQReadSet> startReads;  // the case and the walk's start
  _com_ptr_t<IKXQReadSet> walkReads;
  LONGLONG startStamp = 0;
  LONGLONG walkStamp = 0;
};

// Collects the reads of a field's case lookup and walk start (FieldRoot),
// and of its write walk on `page` (IKXQReadLog), and makes a SettledWalk of
// them when nothing changed in between; or of a whole read walk (a trigger
// item's), which a data-field event raised by the same callback takes. Does nothing for a page
// without read log. An open collection is ended when it is destroyed (the assertion threw).
class SettledWalkRecorder {
 public:
  explicit SettledWalkRecorder(IKXQObject* page);
  SettledWalkRecorder(const SettledWalkRecorder&) = delete;
  SettledWalkRecorder& operator=(const SettledWalkRecorder&) = delete;
  ~SettledWalkRecorder();

  void BeginStart() { Begin(); }
  void EndStart() { End(m_startReads, m_startStamp); }
  void BeginWalk() { Begin(); }
  // Ends the walk's collection; null unless the walk found a holder and the
  // store's data did not change since this recorder was made.
  std::shared_ptr<const SettledWalk> Finish(IKXQTemplateField* field, SAFEARRAY* shift,
                                            const VARIANT& position, IKXQFieldValue* holder);
  // A read walk (ResolveFieldObject) collected whole from BeginWalk on: the
  // same, its one collection serving as both.
  std::shared_ptr<const SettledWalk> FinishRead(IKXQTemplateField* field, SAFEARRAY* shift,
                                                const VARIANT& position, IKXQFieldValue* holder);

 private:
  // Finish and FinishRead: `whole`, the walk's collection is its start's too.
  std::shared_ptr<const SettledWalk> Settle(IKXQTemplateField* field, SAFEARRAY* shift,
                                            const VARIANT& position, IKXQFieldValue* holder,
                                            bool whole);
  void Begin();
  void End(_com_ptr_t<IKXQReadSet>& reads, LONGLONG& stamp);
  IKXQObject* m_page;
  _com_ptr_t<IKXQReadLog> m_log;  // null: nothing is recorded
  LONG m_changes = 0;
  bool m_open = false;
  _com_ptr_t<IKXQReadSet> m_startReads;
  LONGLONG m_startStamp = 0;
};

// Whether `walk` answers the read walk of `field` on `page` with index-shift
// table `shift` (ResolveFieldObject): then its holder and position are
// given, and its reads are replayed into the trigger items open now as the
// walk would have recorded them. Never while a page load keeps walks (the
// route cache answers those).
bool TakeSettledWalk(const SettledWalk& walk, IKXQObject* page, IKXQTemplateField* field,
                     SAFEARRAY* shift, _variant_t& position, IKXQFieldValuePtr& holder);

// One route step from a view. A failing read step gives no holder; a
// failing write step is raised.
HRESULT GetRouteStep(IKXQView* view, const OLECHAR* route, int32_t caseId, bool write,
                     VARIANT* value, IKXQFieldValue** result);
// `text` with every list position "(n)" shifted by the offset of the first
// row of `shift` whose name occurs in the text (without regard to case; a
// row without a name matches any text). Unchanged when nothing applies.
_bstr_t ShiftRouteIndices(SAFEARRAY* shift, const OLECHAR* text);

// The walk of a continuous-list field from a given row object: no
// placement, no shift, no cache.
HRESULT ParseContinuousListRoute(MainContext& main, IKXQObject* page, IKXQObject* rowObject,
                                 IKXQTemplateField* field, int32_t caseId, bool write,
                                 VARIANT* value, IKXQFieldValue** result);

// Appends `start` and its ancestors (root last) to `chain`; `rootView` is
// the view of the object at the root node, null when none is placed.
void GetNodeChain(IKXQObject* page, IKXQClassView* start, ComPtrArray<IKXQClassView>& chain,
                  IKXQViewPtr& rootView);
// Whether the node's objects are members of a list held by an owner; when
// they are (and the list holds objects) `objects` receives the whole list.
bool GetObjectVector(IKXQObject* page, IKXQClassView* node, ComPtrArray<IKXQObject>& objects,
                     IKXQFieldValuePtr& holder);
// The object that a qualified field's qualifier value selects; null when
// nothing is selected. `shift`: the page's overspill chain, so that list
// positions continue those of the pages in front of it (null: none).
void ResolveQualifierRoute(IKXQObjectPtr& selected, IKXQObject* page, IKXQTemplateField* field,
                           SAFEARRAY* shift = nullptr);

}  // namespace FieldUtils

// The value holder of a continuous-list field at `row` (negative: a fixed
// field). S_FALSE without holder when the field has no case or the row no
// object; S_OK otherwise (the holder may be null). Throws KXComException.
HRESULT ResolveContinuousListField(MainContext& main, IKXQObject* page, IKXQTemplateField* field,
                                   int32_t row, VARIANT* value, IKXQFieldValue** result);

// A continuous-list field's walk (ResolveContinuousListField) as the field
// writer made it, for the trigger item of the same "Fields" position that
// the data-field event records next: the store's change count unmoved, a
// second walk would find the same, and the item takes this one instead.
struct ListFieldWalk {
  bool made = false;
  int32_t position = 0;
  int32_t row = -1;
  HRESULT result = S_OK;  // S_OK, or S_FALSE: nothing at that row
  _variant_t value;
  IKXQFieldValuePtr holder;
  _com_ptr_t<IKXQReadLog> log;
  LONG changes = 0;

  // Keeps the walk's answer with the change count now; keeps nothing
  // where the store gives no count.
  void Keep(IKXQObject* page, int32_t at, int32_t atRow, HRESULT answer, const VARIANT& found,
            IKXQFieldValue* foundHolder);
  // The kept answer for `at` and `atRow` while nothing changed; false when
  // there is none and the caller walks.
  bool Take(int32_t at, int32_t atRow, HRESULT* answer, VARIANT* found,
            IKXQFieldValue** foundHolder) const;
};

namespace KXDBDatasheetSvcs {

// Whether the node's object is hidden on the page: its "HiddenObjects"
// entry is -1, or (without `strict`) holds any value.
bool IsNodeObjectHidden(IKXQObject* page, IKXQClassView* node, bool strict);
// The prefix, postfix and substitution texts of a real or integer value;
// nothing for other data types. Null texts empty them.
void WriteViewNumberTexts(IKXQFieldValue* holder, const VARIANT& position, const OLECHAR* prefix,
                          const OLECHAR* postfix, const OLECHAR* substitution);
void ReadViewNumberTexts(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& prefix,
                         _bstr_t& postfix, _bstr_t& substitution);
// As ReadViewNumberTexts, but when all three are empty they stay null.
void ReadPresentViewNumberTexts(IKXQFieldValue* holder, const VARIANT& position, _bstr_t& prefix,
                                _bstr_t& postfix, _bstr_t& substitution);

}  // namespace KXDBDatasheetSvcs

namespace VariantUtil {

// A VARIANT of `type` made from text: VT_I4 by its leading digits and VT_R8
// and VT_DATE as "%lf" reads them, "." the decimal point (a text without a
// number, or with one out of range: VT_NULL; numbertext.h), VT_BOOL by the
// Boolean words (others E_FAIL), VT_BSTR a copy. An empty text gives
// VT_NULL for all but VT_BSTR. Other types: E_FAIL "No defined XML format
// for given type". Returns whether *out has `type`.
bool FromXMLText(VARIANT* out, const OLECHAR* text, VARTYPE type);

}  // namespace VariantUtil
