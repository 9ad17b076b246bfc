// The records of the document listings: one `KXDatasheetInfo` per datasheet
// version or datasheet that could be created, one `KXDiagramInfo` per
// diagram version or diagram creation entry, each kept in a list that
// belongs to one request and is written into its reply as "Datasheet" and
// "Diagram" elements.
//
// Order. Datasheet records: Status, then Title in natural order
// (`CompareNatural`), then DocumentId. A version record whose key is
// already listed is dropped (a datasheet reached twice is listed once); a
// creation entry with a listed key is kept only when added with
// `alwaysAdd`, and then stands before the equal ones. Diagram records:
// Status, then Name without regard to case; equal keys are all kept, the
// later added first.
//
// The lists take records in any order and sort them once when they are
// read (Find, GetAt, Write): n log n for a listing of n records.
//
// Every routine raises `KXComException`; objects are borrowed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "com/comutil.h"
#include "host/application.h"
#include "host/response.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "messagekit.h"

class MainContext;

struct KXDatasheetInfo {
  int32_t Status = -1;  // 0 creation entry, 1 current, 2 submitted, 3 checked, 4 issued
  _bstr_t Name;
  _bstr_t Title;
  int32_t ObjectId = -1;  // creation entries: the object the datasheet would be made for
  _bstr_t TemplateId;     // creation entries: the template to make it from
  int32_t DocumentId = -1;
  _bstr_t Case;
  _bstr_t Revision;
  bool Scoped = false;
  int32_t Type = 1;  // 1 datasheet, 2 summary sheet, 3 summary sheet of the active project
  _bstr_t DatasheetCategory{u"General"};

  // Writes the "Datasheet" element into the element open in `response`; a
  // creation entry out of the user's scope writes nothing. `attributes`, a
  // list of the response's made before, is cleared and used for the
  // element; without it a new list is made.
  void WriteXML(IKXQResponse* response, IKXQXMLAttributes* attributes = nullptr) const;
};

struct KXDiagramInfo {
  int32_t Status = -1;  // 0 creation entry, 1-4 versions, -1 shared-diagram list
  _bstr_t Name;
  _bstr_t DiagramClass{u"PFD"};
  _bstr_t Case;
  _bstr_t Revision;
  int32_t DocumentId = -1;
  bool Scoped = false;

  void WriteXML(IKXQResponse* response) const;
};

class KXDatasheetInfoList {
 public:
  KXDatasheetInfoList() = default;
  ~KXDatasheetInfoList() { RemoveAll(); }
  KXDatasheetInfoList(const KXDatasheetInfoList&) = delete;
  KXDatasheetInfoList& operator=(const KXDatasheetInfoList&) = delete;

  // Written as "CurrentPage" on "Documents": the Status of the first
  // version record added (creation entries leave it 0).
  int32_t CurrentPage = 0;

  // One version record of an existing datasheet (`document` may be null:
  // DocumentId 0).
  void AddDocument(int32_t status, IKXQObject* document, const OLECHAR* name, const OLECHAR* title,
                   const OLECHAR* caseName, const OLECHAR* revision, int32_t type, bool scoped);
  // Room for about `records` more version records, made at once rather than
  // grown record by record in a long listing.
  void Reserve(size_t records);
  // Every version of a datasheet (current always; submitted, checked and
  // issued when their page list holds a page). A summary sheet that the
  // active project cannot see adds nothing.
  void AddDatasheet(IKXQApplication* application, IKXQObject* datasheet);
  // A creation entry; `object` (may be null) is the object it is offered
  // for: its id and scope are recorded. Returns the record as made (valid
  // until the list is next read).
  const KXDatasheetInfo& AddTemplateEntry(const OLECHAR* name, const OLECHAR* title,
                                          IKXQObject* object, const OLECHAR* templateId,
                                          bool summary, const OLECHAR* category, bool alwaysAdd);
  // A copy of a record made before (a creation entry offered again).
  void AddRecord(const KXDatasheetInfo& record, bool alwaysAdd);

  // Binary search by the key of `key`: whether an equal record is listed,
  // and the index of the equal record or of the first greater one.
  bool Find(const KXDatasheetInfo& key, int32_t* index) const;
  int32_t GetCount() const;
  const KXDatasheetInfo& GetAt(int32_t index) const;
  // Every record's element in order, as each record's WriteXML writes it,
  // all with the one attribute list given (may be null: a list each).
  void WriteRecords(IKXQResponse* response, IKXQXMLAttributes* attributes) const;
  // Frees every record: the list is as new ("CurrentPage" 0 again).
  void RemoveAll();

 private:
  // A record's sort key, made once when the record is added: sorting
  // compares keys, not texts, and does not reach into the records. The
  // title stands as its natural-order key, kept in the list's key pool.
  // Its first units are packed into `head` (zeros past its end), so that
  // most comparisons are decided without reaching into the pool.
  struct Key {
    int32_t status;
    int32_t documentId;
    uint32_t titleAt;
    uint32_t titleLength;
    uint64_t head[2];
  };
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Entry {
    Key key;
    uint32_t order;  // order of adding
    bool alwaysAdd;
    std::unique_ptr<KXDatasheetInfo> info;  // null while the record waits
    uint32_t pending = kNone;               // index in m_pending while it waits
    uint32_t made = 0;                      // order of making the record
  };
  // A version record not made yet: its texts (name, title, case, revision)
  // stand one after another in m_texts, each laid out as a BSTR (length
  // prefix, zero after) so that writing lends them rather than copies. A
  // version record is made only when it is asked for (GetAt); WriteRecords
  // writes it from its texts. A long listing then keeps no record of its
  // own among what reading the store left behind, nor frees one afterwards.
  // The versions of one datasheet share its texts.
  struct Pending {
    uint32_t textAt;
    uint32_t lengths[4];
    uint8_t nulls;  // bit i: text i was null
    bool scoped;
    int32_t type;
  };
  // `CompareDatasheetInfo` on keys; `bPool` holds the title key of `b`.
  int CompareKeys(const Key& a, const Key& b, const std::u16string& bPool) const;
  static void PackHead(std::u16string_view title, uint64_t (&head)[2]);
  int CompareKeys(const Key& a, const Key& b) const { return CompareKeys(a, b, m_titles); }
  void Add(std::unique_ptr<KXDatasheetInfo> info, bool alwaysAdd);
  // The entry of a record with its key (title key appended), in adding
  // order; its record or pending texts are the caller's to give.
  Entry& AddEntry(int32_t status, int32_t documentId, const OLECHAR* title, bool alwaysAdd);
  void Sort() const;
  void MakeRecord(Entry& entry) const;
  static constexpr size_t kBstrPrefix = 2;  // units of a BSTR's length prefix
  // The pending record's texts in the pool, null for a null text.
  void PendingTexts(const Pending& pending, BSTR (&texts)[4]) const;
  void MakeRecord(const Pending& pending, const Key& key, KXDatasheetInfo& info) const;

  mutable std::vector<Entry> m_entries;
  std::u16string m_titles;  // the title keys, one after another
  std::vector<Pending> m_pending;
  std::u16string m_texts;
  mutable bool m_sorted = true;
  uint32_t m_added = 0;
  mutable uint32_t m_made = 0;
};

class KXDiagramInfoList {
 public:
  KXDiagramInfoList() = default;
  KXDiagramInfoList(const KXDiagramInfoList&) = delete;
  KXDiagramInfoList& operator=(const KXDiagramInfoList&) = delete;

  int32_t CurrentPage = 0;

  // One record; with a diagram its class (or drawing template), id and
  // scope. `scopeStatus` is the version whose drawing decides the scope
  // (the record's Status unless the caller names another).
  void AddDocument(int32_t status, IKXQObject* diagram, const OLECHAR* name,
                   const OLECHAR* caseName, const OLECHAR* revision, int32_t scopeStatus);
  void AddDocument(int32_t status, IKXQObject* diagram, const OLECHAR* name,
                   const OLECHAR* caseName, const OLECHAR* revision) {
    AddDocument(status, diagram, name, caseName, revision, status);
  }
  // Every version of a diagram: current always; submitted, checked and
  // issued when it has that drawing.
  void AddDiagram(IKXQApplication* application, IKXQDatabase* database, IKXQObject* diagram);

  int32_t GetCount() const;
  const KXDiagramInfo& GetAt(int32_t index) const;
  // Frees every record: the list is as new ("CurrentPage" 0 again).
  void RemoveAll();

 private:
  struct Entry {
    std::unique_ptr<KXDiagramInfo> info;
    uint32_t order;
  };
  void Sort() const;

  mutable std::vector<Entry> m_entries;
  mutable bool m_sorted = true;
  uint32_t m_added = 0;
};

namespace KXDBDatasheetSvcs {

// -1, 0 or 1 as `a` sorts before, with or after `b` in a datasheet list.
int CompareDatasheetInfo(const KXDatasheetInfo& a, const KXDatasheetInfo& b);
// The same for diagram lists.
int CompareDiagramInfo(const KXDiagramInfo& a, const KXDiagramInfo& b);

// ---- what the listings share ------------------------------------------------

// The "Documents" reply of a datasheet listing, with "CurrentPage"; an
// empty list writes no reply at all.
void WriteDatasheetList(MainContext& main, const KXDatasheetInfoList& list);
// The reply of a diagram listing: "Documents" with "CurrentPage", or
// "SharedDiagrams" without; written also when the list is empty.
void WriteDiagramList(MainContext& main, const KXDiagramInfoList& list, bool shared);
// Every instance of the schema class `className` in the store's order; none
// when the schema lacks the class.
std::vector<IKXQObjectPtr> ClassInstances(MainContext& main, const OLECHAR* className);
// The same one at a time: the collection of the instances (null when the
// schema lacks the class) with their count, and instance `index` (1-based).
// A listing of many thousands then touches each object once, while it
// reads it, instead of holding all of them first.
_com_ptr_t<IKXQObjectCollection> ClassInstanceCollection(MainContext& main,
                                                         const OLECHAR* className, LONG* count);
IKXQObjectPtr ClassInstanceAt(IKXQObjectCollection* instances, LONG index);
// Whether the object has the attribute and a value at `index` (VT_EMPTY:
// any value), the value-present test of page lists and drawings.
bool HasValueAt(IKXQObject* object, const OLECHAR* name, const VARIANT& index);
// The same for an object known to be live (one of a class's instances):
// the store answers no attribute for a name the class lacks, so the class is
// not asked first.
bool LiveObjectHasValueAt(IKXQObject* object, const OLECHAR* name, const VARIANT& index);
// The same for `count` attributes of one live object at once (has[i] for
// names[i]), in one store call where the store answers so.
void LiveObjectHasValuesAt(IKXQObject* object, const _bstr_t* names, size_t count,
                           const VARIANT& index, bool* has);
// A creation entry's title: "OBJECT: TEMPLATE", or the object's name alone
// for a template without name.
_bstr_t CreationTitle(const _bstr_t& objectName, const _bstr_t& templateName);
// A template's category, "General" when it has none.
_bstr_t TemplateCategory(IKXQTemplate* tmpl);

// The frame of a listing's worker: a failure becomes its HRESULT with the
// "<KXError" chain, caught at the listing's source `file` and the caller's
// line there.
template <class Work>
HRESULT RunListing(const OLECHAR* file, Work&& work, int32_t line = __builtin_LINE()) {
  const auto run = [&](KXComException&) {
    work();
    return S_OK;
  };
  return ServeRequest(nullptr, FrameOptions{.file = file}, run, line);
}

}  // namespace KXDBDatasheetSvcs
