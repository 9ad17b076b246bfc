#include "model/kxinfoclasses.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "model/maincontext.h"
#include "xmlreply.h"

using KXDBDatasheetSvcs::ClassHasAttribute;
using KXDBDatasheetSvcs::GetAttributeString;
using KXDBDatasheetSvcs::GetClassText;
using KXDBDatasheetSvcs::GetObjectClass;
using KXDBDatasheetSvcs::ValueReadsOf;

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxinfoclasses";

const OLECHAR* const kPageSets[] = {u"SubmittedPages", u"CheckedPages", u"IssuedPages"};
const OLECHAR* const kSchematics[] = {u"SubmittedSchematic", u"CheckedSchematic",
                                      u"IssuedSchematic"};

LONG ObjectId(IKXQObject* object) {
  LONG id = 0;
  if (object) {
    KXComException ctx = KXComException::Silent();
    KX_CHECK(ctx, object->get_Id(&id));
  }
  return id;
}

// The attribute's text; empty when the object's class has no such
// attribute.
_bstr_t TextIfDefined(IKXQObject* object, const OLECHAR* name) {
  _bstr_t text;
  if (ClassHasAttribute(object, name)) GetAttributeString(object, text, name, -1);
  return text;
}

// The names of the records' elements and attributes and the empty text,
// made once rather than for each attribute of each record.
struct RecordNames {
  const _bstr_t empty{u""};
  const _bstr_t datasheet{u"Datasheet"};
  const _bstr_t diagram{u"Diagram"};
  const _bstr_t status{u"Status"};
  const _bstr_t name{u"Name"};
  const _bstr_t title{u"Title"};
  const _bstr_t objectId{u"ObjectId"};
  const _bstr_t templateId{u"TemplateId"};
  const _bstr_t documentId{u"DocumentId"};
  const _bstr_t caseName{u"Case"};
  const _bstr_t revision{u"Revision"};
  const _bstr_t scoped{u"Scoped"};
  const _bstr_t type{u"Type"};
  const _bstr_t category{u"DatasheetCategory"};
  const _bstr_t diagramClass{u"DiagramClass"};
  const _bstr_t general{u"General"};
  // Read of every listed datasheet.
  const _bstr_t documentName{u"DocumentName"};
  const _bstr_t lastRevision{u"LastRevisionLevel"};
  const _bstr_t pageSets[3]{_bstr_t(kPageSets[0]), _bstr_t(kPageSets[1]), _bstr_t(kPageSets[2])};
};

const RecordNames& Names() {
  static const RecordNames names;
  return names;
}

// The response's attribute list for one record's element.
class RecordAttributes {
 public:
  explicit RecordAttributes(IKXQResponse* response, IKXQXMLAttributes* reused = nullptr)
      : m_response(response) {
    if (m_response == nullptr) {
      ThrowKXComExceptionHrAt(m_ctx, KX_HERE(kFile), E_FAIL,
                              u"Cannot access the KXQResponse object to write to it");
    }
    if (reused != nullptr) {
      m_attributes = reused;
      KX_CHECK(m_ctx, m_attributes->Clear());
      return;
    }
    KX_CHECK(m_ctx, m_response->NewAttributes(&m_attributes));
  }
  // The list copies name and value.
  void Add(const _bstr_t& name, const _variant_t& value) {
    KX_CHECK(m_ctx, m_attributes->Add(name, value));
  }
  // Numbers and flags as plain VARIANTs: nothing to free afterwards.
  void AddLong(const _bstr_t& name, int32_t value) {
    VARIANT number{};
    number.vt = VT_I4;
    number.lVal = value;
    KX_CHECK(m_ctx, m_attributes->Add(name, number));
  }
  void AddBool(const _bstr_t& name, bool value) {
    VARIANT flag{};
    flag.vt = VT_BOOL;
    flag.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    KX_CHECK(m_ctx, m_attributes->Add(name, flag));
  }
  void AddString(const _bstr_t& name, BSTR value) {
    // The text is lent to the list, not copied first; a null text is
    // written as the empty string.
    VARIANT text{};
    text.vt = VT_BSTR;
    text.bstrVal = SysStringLen(value) > 0 ? value : static_cast<BSTR>(Names().empty);
    KX_CHECK(m_ctx, m_attributes->Add(name, text));
  }
  // The response's no-argument step, then the whole element.
  void Write(const _bstr_t& element) {
    (void)m_response->Flush();
    KX_CHECK(m_ctx, m_response->WriteElement(element, m_attributes, nullptr));
  }

 private:
  KXComException m_ctx = KXComException::Silent();
  IKXQResponse* m_response;
  _com_ptr_t<IKXQXMLAttributes> m_attributes;
};

// A datasheet's "DocumentName" (`named`: its class has it) and
// "LastRevisionLevel" (empty where its class lacks it), read as
// GetAttributeString reads each, in one store call; false when the store
// does not answer so or the call failed (nothing is set then).
bool ReadNameAndRevision(IKXQObject* datasheet, bool& named, _bstr_t& name, _bstr_t& revision) {
  const _com_ptr_t<IKXQValueReads> reads = ValueReadsOf(datasheet);
  if (!reads) return false;
  const RecordNames& n = Names();
  BSTR names[] = {n.documentName, n.lastRevision};
  VARIANT_BOOL defined[std::size(names)];
  VARIANT values[std::size(names)];
  VARIANT whole;
  VariantInit(&whole);
  if (FAILED(reads->ReadValues(static_cast<LONG>(std::size(names)), names, whole, defined, values)))
    return false;
  _variant_t nameValue(values[0], false);
  _variant_t revisionValue(values[1], false);
  named = defined[0] != VARIANT_FALSE;
  KXDBDatasheetSvcs::ValueReadText(nameValue, name);
  KXDBDatasheetSvcs::ValueReadText(revisionValue, revision);
  return true;
}

}  // namespace

namespace KXDBDatasheetSvcs {

int CompareDatasheetInfo(const KXDatasheetInfo& a, const KXDatasheetInfo& b) {
  if (a.Status != b.Status) return a.Status < b.Status ? -1 : 1;
  if (const int byTitle = CompareNatural(a.Title, b.Title); byTitle != 0)
    return byTitle < 0 ? -1 : 1;
  if (a.DocumentId != b.DocumentId) return a.DocumentId < b.DocumentId ? -1 : 1;
  return 0;
}

int CompareDiagramInfo(const KXDiagramInfo& a, const KXDiagramInfo& b) {
  if (a.Status != b.Status) return a.Status < b.Status ? -1 : 1;
  const int byName = kx_wcsicmp(a.Name.view(), b.Name.view());
  return byName < 0 ? -1 : byName > 0 ? 1 : 0;
}

bool LiveObjectHasValueAt(IKXQObject* object, const OLECHAR* name, const VARIANT& index) {
  IKXQAttributePtr attribute;
  GetAttributeInterfaceAt(object, name, attribute, -1);
  if (!attribute) return false;
  KXComException ctx = KXComException::Silent();
  VARIANT_BOOL has = VARIANT_FALSE;
  KX_CHECK(ctx, attribute->HasValue(index, &has));
  return has != VARIANT_FALSE;
}

void LiveObjectHasValuesAt(IKXQObject* object, const _bstr_t* names, size_t count,
                           const VARIANT& index, bool* has) {
  constexpr size_t kMost = 8;
  VARIANT_BOOL answers[kMost];
  BSTR texts[kMost];
  for (size_t i = 0; i < count && i < kMost; ++i) texts[i] = names[i];
  const _com_ptr_t<IKXQValueReads> reads = count <= kMost ? ValueReadsOf(object) : nullptr;
  if (reads && SUCCEEDED(reads->HasValues(static_cast<LONG>(count), texts, index, answers))) {
    for (size_t i = 0; i < count; ++i) has[i] = answers[i] != VARIANT_FALSE;
    return;
  }
  // A store without the batch, or a failure: asked one by one, failing as
  // each single question fails.
  for (size_t i = 0; i < count; ++i) has[i] = LiveObjectHasValueAt(object, names[i], index);
}

bool HasValueAt(IKXQObject* object, const OLECHAR* name, const VARIANT& index) {
  return ClassHasAttribute(object, name) && LiveObjectHasValueAt(object, name, index);
}

_bstr_t CreationTitle(const _bstr_t& objectName, const _bstr_t& templateName) {
  if (templateName.length() == 0) return objectName;
  return _bstr_t(std::u16string(objectName.view()) + u": " + std::u16string(templateName.view()));
}

_bstr_t TemplateCategory(IKXQTemplate* tmpl) {
  KXComException ctx = KXComException::Silent();
  _bstr_t category;
  KX_CHECK(ctx, tmpl->get_Category(category.GetAddress()));
  return category.length() > 0 ? category : _bstr_t(u"General");
}

_com_ptr_t<IKXQObjectCollection> ClassInstanceCollection(MainContext& main,
                                                         const OLECHAR* className, LONG* count) {
  KXComException ctx = KXComException::Silent();
  *count = 0;
  if (main.m_pSchema == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Do not have access to object store");
  }
  IKXQClassPtr cls;
  KX_CHECK(ctx, main.m_pSchema->get_Class(_bstr_t(className), &cls));
  _com_ptr_t<IKXQObjectCollection> instances;
  if (!cls) return instances;
  KX_CHECK(ctx, cls->get_Instances(&instances));
  if (instances) KX_CHECK(ctx, instances->get_Count(count));
  return instances;
}

IKXQObjectPtr ClassInstanceAt(IKXQObjectCollection* instances, LONG index) {
  KXComException ctx = KXComException::Silent();
  IKXQObjectPtr item;
  KX_CHECK(ctx, instances->get_Item(index, &item));
  if (!item) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  return item;
}

std::vector<IKXQObjectPtr> ClassInstances(MainContext& main, const OLECHAR* className) {
  LONG count = 0;
  const _com_ptr_t<IKXQObjectCollection> instances =
      ClassInstanceCollection(main, className, &count);
  std::vector<IKXQObjectPtr> objects;
  objects.reserve(static_cast<size_t>(count));
  for (LONG i = 1; i <= count; ++i) objects.push_back(ClassInstanceAt(instances, i));
  return objects;
}

void WriteDatasheetList(MainContext& main, const KXDatasheetInfoList& list) {
  if (list.GetCount() == 0) return;
  XMLReply::BeginMessage(main, u"App", -1);
  XMLReply::AddLongAttribute(main, u"CurrentPage", list.CurrentPage);
  XMLReply::StartElement(main, u"Documents");
  // One attribute list serves every record: made once, cleared for each.
  _com_ptr_t<IKXQXMLAttributes> attributes;
  if (main.m_pResponse != nullptr) {
    KXComException ctx = KXComException::Silent();
    KX_CHECK(ctx, main.m_pResponse->NewAttributes(&attributes));
  }
  list.WriteRecords(main.m_pResponse, attributes);
  XMLReply::EndElement(main, u"Documents");
  XMLReply::EndMessage(main);
}

void WriteDiagramList(MainContext& main, const KXDiagramInfoList& list, bool shared) {
  XMLReply::BeginMessage(main, u"App", -1);
  const OLECHAR* element = shared ? u"SharedDiagrams" : u"Documents";
  if (!shared) XMLReply::AddLongAttribute(main, u"CurrentPage", list.CurrentPage);
  XMLReply::StartElement(main, element);
  for (int32_t i = 0; i < list.GetCount(); ++i) list.GetAt(i).WriteXML(main.m_pResponse);
  XMLReply::EndElement(main, element);
  XMLReply::EndMessage(main);
}

}  // namespace KXDBDatasheetSvcs

// ---- records ----------------------------------------------------------------

namespace {

// What a "Datasheet" element is written from: a record's values, its texts
// lent (from the record or from a list's text pool).
struct DatasheetElement {
  int32_t status;
  BSTR name;
  BSTR title;
  int32_t objectId;
  BSTR templateId;
  int32_t documentId;
  BSTR caseName;
  BSTR revision;
  bool scoped;
  int32_t type;
  BSTR category;
};

void WriteDatasheetElement(IKXQResponse* response, IKXQXMLAttributes* reused,
                           const DatasheetElement& e) {
  if (e.status == 0 && !e.scoped) return;
  const RecordNames& n = Names();
  RecordAttributes attributes(response, reused);
  attributes.AddLong(n.status, e.status);
  attributes.AddString(n.name, e.name);
  attributes.AddString(n.title, e.title);
  if (e.status == 0) {
    attributes.AddLong(n.objectId, e.objectId);
    attributes.AddString(n.templateId, e.templateId);
  }
  if (e.documentId != -1) attributes.AddLong(n.documentId, e.documentId);
  if (SysStringLen(e.caseName) > 0) attributes.AddString(n.caseName, e.caseName);
  if (SysStringLen(e.revision) > 0) attributes.AddString(n.revision, e.revision);
  attributes.AddBool(n.scoped, e.scoped);
  attributes.AddLong(n.type, e.type);
  attributes.AddString(n.category, e.category);
  attributes.Write(n.datasheet);
}

}  // namespace

void KXDatasheetInfo::WriteXML(IKXQResponse* response, IKXQXMLAttributes* reused) const {
  WriteDatasheetElement(response, reused,
                        {Status, Name, Title, ObjectId, TemplateId, DocumentId, Case, Revision,
                         Scoped, Type, DatasheetCategory});
}

void KXDiagramInfo::WriteXML(IKXQResponse* response) const {
  const RecordNames& n = Names();
  RecordAttributes attributes(response);
  attributes.AddString(n.name, Name);
  attributes.AddString(n.diagramClass, DiagramClass);
  if (Status != -1) attributes.Add(n.status, _variant_t(static_cast<int>(Status)));
  if (DocumentId != -1) attributes.Add(n.documentId, _variant_t(static_cast<int>(DocumentId)));
  if (Case.length() > 0) attributes.AddString(n.caseName, Case);
  if (Revision.length() > 0) attributes.AddString(n.revision, Revision);
  if (Scoped) attributes.Add(n.scoped, _variant_t(true));
  attributes.Add(n.type, _variant_t(0));
  attributes.Write(n.diagram);
}

// ---- datasheet list -----------------------------------------------------------

void KXDatasheetInfoList::Add(std::unique_ptr<KXDatasheetInfo> info, bool alwaysAdd) {
  Entry& entry = AddEntry(info->Status, info->DocumentId, info->Title, alwaysAdd);
  entry.info = std::move(info);
  entry.made = m_made++;
}

KXDatasheetInfoList::Entry& KXDatasheetInfoList::AddEntry(int32_t status, int32_t documentId,
                                                          const OLECHAR* title, bool alwaysAdd) {
  const size_t at = m_titles.size();
  KXDBDatasheetSvcs::AppendNaturalKey(title, m_titles);
  Key key{status,
          documentId,
          static_cast<uint32_t>(at),
          static_cast<uint32_t>(m_titles.size() - at),
          {}};
  PackHead(std::u16string_view(m_titles).substr(at), key.head);
  m_sorted = false;
  return m_entries.emplace_back(Entry{key, m_added++, alwaysAdd, nullptr});
}

void KXDatasheetInfoList::Reserve(size_t records) {
  // Texts and title keys of a typical record: a few dozen characters.
  constexpr size_t kTextsPerRecord = 64;
  constexpr size_t kTitleKeyPerRecord = 32;
  m_entries.reserve(m_entries.size() + records);
  m_pending.reserve(m_pending.size() + records);
  m_texts.reserve(m_texts.size() + records * kTextsPerRecord);
  m_titles.reserve(m_titles.size() + records * kTitleKeyPerRecord);
}

void KXDatasheetInfoList::MakeRecord(const Pending& pending, const Key& key,
                                     KXDatasheetInfo& info) const {
  info.DocumentId = key.documentId;
  info.Status = key.status;
  _bstr_t* const texts[] = {&info.Name, &info.Title, &info.Case, &info.Revision};
  BSTR lent[std::size(texts)];
  PendingTexts(pending, lent);
  for (size_t i = 0; i < std::size(texts); ++i) {
    if (lent[i] != nullptr) *texts[i] = _bstr_t(std::u16string_view(lent[i], pending.lengths[i]));
  }
  info.Scoped = pending.scoped;
  info.Type = pending.type;
}

void KXDatasheetInfoList::PendingTexts(const Pending& pending, BSTR (&texts)[4]) const {
  // Each text stands as a BSTR does: its length in bytes in the two units
  // before it, a zero unit after it.
  size_t at = pending.textAt;
  for (size_t i = 0; i < std::size(texts); ++i) {
    texts[i] = nullptr;
    if ((pending.nulls & (1u << i)) != 0) continue;
    texts[i] = const_cast<BSTR>(m_texts.data() + at + kBstrPrefix);
    at += kBstrPrefix + pending.lengths[i] + 1;
  }
}

void KXDatasheetInfoList::MakeRecord(Entry& entry) const {
  auto info = std::make_unique<KXDatasheetInfo>();
  MakeRecord(m_pending[entry.pending], entry.key, *info);
  entry.info = std::move(info);
  entry.pending = kNone;
  entry.made = m_made++;
}

void KXDatasheetInfoList::WriteRecords(IKXQResponse* response,
                                       IKXQXMLAttributes* attributes) const {
  Sort();
  // The records' texts stand in the order the records were added, not in
  // the order written: those of the records a few places ahead are asked
  // for early, so that a long listing does not wait on memory for each.
  constexpr size_t kAhead = 8;
  const size_t count = m_entries.size();
  for (size_t i = 0; i < count; ++i) {
    if (i + 2 * kAhead < count && m_entries[i + 2 * kAhead].pending != kNone)
      __builtin_prefetch(&m_pending[m_entries[i + 2 * kAhead].pending]);
    if (i + kAhead < count && m_entries[i + kAhead].pending != kNone)
      __builtin_prefetch(m_texts.data() + m_pending[m_entries[i + kAhead].pending].textAt);
    const Entry& entry = m_entries[i];
    if (entry.info) {
      entry.info->WriteXML(response, attributes);
      continue;
    }
    // Written from the pool, its texts lent: no record is made.
    const Pending& pending = m_pending[entry.pending];
    BSTR texts[4];
    PendingTexts(pending, texts);
    WriteDatasheetElement(response, attributes,
                          {entry.key.status, texts[0], texts[1], -1, nullptr, entry.key.documentId,
                           texts[2], texts[3], pending.scoped, pending.type, Names().general});
  }
}

namespace {

// -1, 0 or 1 as std::u16string_view::compare orders the texts (by code
// unit, then length). Title keys share long beginnings ("p-0" and a digit
// count): equal runs are passed over four units at a time.
int CompareTitleKeys(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    uint64_t x = 0;
    uint64_t y = 0;
    std::memcpy(&x, a.data() + i, sizeof x);
    std::memcpy(&y, b.data() + i, sizeof y);
    if (x != y) break;
  }
  for (; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

}  // namespace

void KXDatasheetInfoList::PackHead(std::u16string_view title, uint64_t (&head)[2]) {
  // Unit i in word i / 4, the first the highest: the words compare as the
  // units do, and a shorter text's zeros stand before any unit of a longer.
  for (size_t i = 0; i < 8 && i < title.size(); ++i) {
    head[i / 4] |= static_cast<uint64_t>(title[i]) << (16 * (3 - i % 4));
  }
}

int KXDatasheetInfoList::CompareKeys(const Key& a, const Key& b,
                                     const std::u16string& bPool) const {
  if (a.status != b.status) return a.status < b.status ? -1 : 1;
  if (a.head[0] != b.head[0]) return a.head[0] < b.head[0] ? -1 : 1;
  if (a.head[1] != b.head[1]) return a.head[1] < b.head[1] ? -1 : 1;
  const std::u16string_view aTitle(m_titles.data() + a.titleAt, a.titleLength);
  const std::u16string_view bTitle(bPool.data() + b.titleAt, b.titleLength);
  if (const int byTitle = CompareTitleKeys(aTitle, bTitle); byTitle != 0) return byTitle;
  if (a.documentId != b.documentId) return a.documentId < b.documentId ? -1 : 1;
  return 0;
}

// Sorting once gives what inserting each record at its place would: of a
// run of equal keys the first added stays, a later one only when it is a
// creation entry added with `alwaysAdd`, standing in front of those added
// before it.
//
// What is sorted is a small record per entry, not the entries: the status
// and twelve units of the title key, packed, with the entry's index. Records
// whose twelve units are equal are sorted again among themselves by the
// next twelve, and so on: a long listing's titles share their beginnings
// ("p-", a digit count and the first digits), and deciding what the first
// units leave open on the whole keys, scattered over the entries and the
// pool, would cost a cache miss per comparison, ever more of them as the
// groups of a longer listing grow. Each record's units are fetched once
// per round instead. Records whose keys end before the units reached are
// decided on the whole keys.
void KXDatasheetInfoList::Sort() const {
  if (m_sorted) return;
  struct Order {
    uint64_t head[3];
    int32_t status;
    uint32_t index;
  };
  constexpr size_t kUnits = 12;
  const size_t count = m_entries.size();
  std::vector<Order> orders(count);
  // The units [from, from + kUnits) of the entry's title key, zeros past its
  // end: the words compare as the units do, and a key that ends compares
  // before any longer one it begins.
  const auto fill = [&](Order& order, size_t from) {
    const Key& key = m_entries[order.index].key;
    order.head[0] = order.head[1] = order.head[2] = 0;
    if (from >= key.titleLength) return;
    const std::u16string_view title(m_titles.data() + key.titleAt + from,
                                    std::min<size_t>(key.titleLength - from, kUnits));
    for (size_t u = 0; u < title.size(); ++u) {
      order.head[u / 4] |= static_cast<uint64_t>(title[u]) << (16 * (3 - u % 4));
    }
  };
  for (size_t i = 0; i < count; ++i) {
    orders[i].index = static_cast<uint32_t>(i);
    orders[i].status = m_entries[i].key.status;
    fill(orders[i], 0);
  }
  // 0 when the heads are equal: the next units, or the whole keys, decide.
  const auto compareHeads = [](const Order& a, const Order& b) {
    if (a.status != b.status) return a.status < b.status ? -1 : 1;
    for (size_t w = 0; w < 3; ++w) {
      if (a.head[w] != b.head[w]) return a.head[w] < b.head[w] ? -1 : 1;
    }
    return 0;
  };
  const auto byHeads = [&](const Order& a, const Order& b) { return compareHeads(a, b) < 0; };
  const auto byKeys = [&](const Order& a, const Order& b) {
    const Entry& x = m_entries[a.index];
    const Entry& y = m_entries[b.index];
    const int order = CompareKeys(x.key, y.key);
    return order != 0 ? order < 0 : x.order > y.order;
  };
  std::sort(orders.begin(), orders.end(), byHeads);
  // Groups of equal heads still to decide, with the units their heads hold.
  struct Group {
    size_t first, end, from;
  };
  std::vector<Group> open;
  const auto groups = [&](size_t first, size_t end, size_t from) {
    for (size_t a = first; a < end;) {
      size_t b = a + 1;
      while (b < end && compareHeads(orders[a], orders[b]) == 0) ++b;
      if (b - a > 1) open.push_back({a, b, from});
      a = b;
    }
  };
  groups(0, count, 0);
  while (!open.empty()) {
    const Group group = open.back();
    open.pop_back();
    const size_t next = group.from + kUnits;
    bool longer = false;
    for (size_t i = group.first; i < group.end && !longer; ++i) {
      longer = m_entries[orders[i].index].key.titleLength > next;
    }
    const auto first = orders.begin() + static_cast<std::ptrdiff_t>(group.first);
    const auto end = orders.begin() + static_cast<std::ptrdiff_t>(group.end);
    if (!longer) {
      std::sort(first, end, byKeys);
      continue;
    }
    for (auto at = first; at != end; ++at) fill(*at, next);
    std::sort(first, end, byHeads);
    groups(group.first, group.end, next);
  }
  // The entries are moved into sorted order in place, cycle by cycle: a long
  // listing makes no second array of them. A placed entry's index is made
  // its own.
  for (size_t i = 0; i < count; ++i) {
    if (orders[i].index == i) continue;
    Entry held = std::move(m_entries[i]);
    size_t at = i;
    for (;;) {
      const size_t from = orders[at].index;
      orders[at].index = static_cast<uint32_t>(at);
      if (from == i) {
        m_entries[at] = std::move(held);
        break;
      }
      m_entries[at] = std::move(m_entries[from]);
      at = from;
    }
  }
  // The kept entries are moved down in place.
  size_t kept = 0;
  for (size_t first = 0; first < count;) {
    size_t end = first + 1;
    while (end < count && compareHeads(orders[first], orders[end]) == 0 &&
           CompareKeys(m_entries[first].key, m_entries[end].key) == 0) {
      ++end;
    }
    // The run is newest first; its last entry was added first. A creation
    // entry added with `alwaysAdd` is kept however often it comes (an
    // object named again in one request is offered again).
    for (size_t i = first; i < end; ++i) {
      Entry& entry = m_entries[i];
      if (i + 1 == end || (entry.alwaysAdd && entry.key.status == 0)) {
        if (kept != i) m_entries[kept] = std::move(entry);
        ++kept;
      }
    }
    first = end;
  }
  m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(kept), m_entries.end());
  m_sorted = true;
}

void KXDatasheetInfoList::AddDocument(int32_t status, IKXQObject* document, const OLECHAR* name,
                                      const OLECHAR* title, const OLECHAR* caseName,
                                      const OLECHAR* revision, int32_t type, bool scoped) {
  const int32_t documentId = ObjectId(document);
  Pending pending{};
  pending.textAt = static_cast<uint32_t>(m_texts.size());
  const OLECHAR* const texts[] = {name, title, caseName, revision};
  // The pool grows once for the four texts, each copied into its place.
  size_t total = 0;
  for (size_t i = 0; i < std::size(texts); ++i) {
    if (texts[i] == nullptr) {
      pending.nulls = static_cast<uint8_t>(pending.nulls | (1u << i));
      continue;
    }
    const size_t length = std::char_traits<OLECHAR>::length(texts[i]);
    pending.lengths[i] = static_cast<uint32_t>(length);
    total += kBstrPrefix + length + 1;
  }
  size_t at = m_texts.size();
  m_texts.resize(at + total);
  OLECHAR* const pool = m_texts.data();
  for (size_t i = 0; i < std::size(texts); ++i) {
    if (texts[i] == nullptr) continue;
    const size_t length = pending.lengths[i];
    const auto bytes = static_cast<uint32_t>(length * sizeof(OLECHAR));
    static_assert(kBstrPrefix * sizeof(OLECHAR) == sizeof bytes);
    std::memcpy(pool + at, &bytes, sizeof bytes);
    at += kBstrPrefix;
    std::memcpy(pool + at, texts[i], length * sizeof(OLECHAR));
    at += length;
    pool[at++] = u'\0';
  }
  pending.scoped = scoped;
  pending.type = type;
  if (CurrentPage == 0 && status >= 1) CurrentPage = status;
  AddEntry(status, documentId, title, false).pending = static_cast<uint32_t>(m_pending.size());
  m_pending.push_back(pending);
}

void KXDatasheetInfoList::AddDatasheet(IKXQApplication* application, IKXQObject* datasheet) {
  KXComException ctx = KXComException::Silent();
  // The questions below ask after the same templates; each is looked up once.
  const KXDBDatasheetSvcs::TemplateLookupScope lookups;
  bool local = false;
  bool visible = false;
  const bool summary =
      KXDBDatasheetSvcs::CheckSummarySheetProject(application, datasheet, &local, &visible);
  if (summary && !visible) return;
  // The name is read once: the title is made from it too. Where the store
  // answers several attributes in one call, the revision is read with it.
  bool named = false;
  _bstr_t name;
  _bstr_t revision;
  const bool together = ReadNameAndRevision(datasheet, named, name, revision);
  if (!together) {
    named = ClassHasAttribute(datasheet, u"DocumentName");
    if (named) GetAttributeString(datasheet, name, u"DocumentName", -1);
  }
  _bstr_t title;
  KX_CHECK(ctx,
           KXDBDatasheetSvcs::GetDatasheetName(application, datasheet, title.GetAddress(), false, 1,
                                               named ? &name : nullptr),
           KX_HERE(kFile));
  _bstr_t caseHeld;
  const OLECHAR* const caseName =
      KXDBDatasheetSvcs::GetCaseNameLent(application, datasheet, 1, caseHeld);
  if (!together) revision = TextIfDefined(datasheet, u"LastRevisionLevel");
  const int32_t type = !summary ? 1 : local ? 3 : 2;
  const bool scoped = KXDBDatasheetSvcs::IsDatasheetScoped(application, datasheet, type);
  AddDocument(1, datasheet, name, title, caseName, revision, type, scoped);
  // The other versions differ from the current one in their status alone:
  // they share its texts and title key.
  const size_t current = m_entries.size() - 1;
  const _variant_t first(1);
  bool versions[std::size(kPageSets)];
  KXDBDatasheetSvcs::LiveObjectHasValuesAt(datasheet, Names().pageSets, std::size(kPageSets), first,
                                           versions);
  for (int32_t status = 2; status <= 4; ++status) {
    if (versions[status - 2]) {
      const Entry& made = m_entries[current];
      Key key = made.key;
      key.status = status;
      const Pending pending = m_pending[made.pending];
      m_entries.push_back(
          Entry{key, m_added++, false, nullptr, static_cast<uint32_t>(m_pending.size())});
      m_pending.push_back(pending);
      m_sorted = false;
    }
  }
}

const KXDatasheetInfo& KXDatasheetInfoList::AddTemplateEntry(
    const OLECHAR* name, const OLECHAR* title, IKXQObject* object, const OLECHAR* templateId,
    bool summary, const OLECHAR* category, bool alwaysAdd) {
  auto info = std::make_unique<KXDatasheetInfo>();
  info->Status = 0;
  info->Name = name;
  info->Title = title;
  info->TemplateId = templateId;
  info->Scoped = true;
  info->Type = summary ? 2 : 1;
  info->DatasheetCategory = category;
  if (object != nullptr) {
    info->ObjectId = ObjectId(object);
    info->Scoped = KXDBDatasheetSvcs::IsObjectScoped(object);
  }
  // An entry without `alwaysAdd` whose key is listed already is dropped
  // when the list is sorted: looking it up now would sort the list for
  // every entry added.
  const KXDatasheetInfo& made = *info;
  Add(std::move(info), alwaysAdd);
  return made;
}

void KXDatasheetInfoList::AddRecord(const KXDatasheetInfo& record, bool alwaysAdd) {
  Add(std::make_unique<KXDatasheetInfo>(record), alwaysAdd);
}

bool KXDatasheetInfoList::Find(const KXDatasheetInfo& key, int32_t* index) const {
  Sort();
  std::u16string title;
  KXDBDatasheetSvcs::AppendNaturalKey(key.Title, title);
  Key wanted{key.Status, key.DocumentId, 0, static_cast<uint32_t>(title.size()), {}};
  PackHead(title, wanted.head);
  const auto at = std::lower_bound(m_entries.begin(), m_entries.end(), wanted,
                                   [&](const Entry& entry, const Key& probe) {
                                     return CompareKeys(entry.key, probe, title) < 0;
                                   });
  const bool found = at != m_entries.end() && CompareKeys(at->key, wanted, title) == 0;
  if (index != nullptr) *index = static_cast<int32_t>(at - m_entries.begin());
  return found;
}

int32_t KXDatasheetInfoList::GetCount() const {
  Sort();
  return static_cast<int32_t>(m_entries.size());
}

const KXDatasheetInfo& KXDatasheetInfoList::GetAt(int32_t index) const {
  Sort();
  Entry& entry = m_entries.at(static_cast<size_t>(index));
  if (!entry.info) MakeRecord(entry);
  return *entry.info;
}

void KXDatasheetInfoList::RemoveAll() {
  // The records go in the order they were made (a version record when it
  // was first asked for), not in sorted order: memory given back as it was
  // taken spares a long listing most of its cache misses.
  std::vector<std::unique_ptr<KXDatasheetInfo>> made(m_made);
  for (Entry& entry : m_entries) {
    if (entry.info) made[entry.made] = std::move(entry.info);
  }
  m_entries.clear();
  made.clear();
  m_titles.clear();
  m_pending.clear();
  m_texts.clear();
  m_sorted = true;
  m_added = 0;
  m_made = 0;
  CurrentPage = 0;
}

// ---- diagram list -------------------------------------------------------------

void KXDiagramInfoList::Sort() const {
  if (m_sorted) return;
  std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
    const int order = KXDBDatasheetSvcs::CompareDiagramInfo(*a.info, *b.info);
    return order != 0 ? order < 0 : a.order > b.order;
  });
  m_sorted = true;
}

void KXDiagramInfoList::AddDocument(int32_t status, IKXQObject* diagram, const OLECHAR* name,
                                    const OLECHAR* caseName, const OLECHAR* revision,
                                    int32_t scopeStatus) {
  auto info = std::make_unique<KXDiagramInfo>();
  if (diagram != nullptr) {
    IKXQClassPtr cls;
    GetObjectClass(diagram, cls);
    _bstr_t className;
    if (cls) GetClassText(cls, className);
    // The class "Diagram" itself is shown as the default kind.
    if (className.length() > 0 && className.view() != std::u16string_view(u"Diagram")) {
      info->DiagramClass = className;
    }
    const _bstr_t drawingTemplate = TextIfDefined(diagram, u"DrawingTemplate");
    if (drawingTemplate.length() > 0) info->DiagramClass = drawingTemplate;
  }
  info->Status = status;
  info->Name = name;
  info->Case = caseName;
  info->Revision = revision;
  info->Scoped = true;
  if (diagram != nullptr) {
    info->DocumentId = ObjectId(diagram);
    info->Scoped = KXDBDatasheetSvcs::DiagramObjectsInScope(diagram, scopeStatus);
  }
  if (CurrentPage == 0 && status >= 1) CurrentPage = status;
  m_entries.push_back({std::move(info), m_added++});
  m_sorted = false;
}

void KXDiagramInfoList::AddDiagram(IKXQApplication* application, IKXQDatabase* database,
                                   IKXQObject* diagram) {
  KXComException ctx = KXComException::Silent();
  _bstr_t name;
  KX_CHECK(ctx,
           KXDBDatasheetSvcs::GetDiagramName(application, diagram, name.GetAddress(), false, 1),
           KX_HERE(kFile));
  _bstr_t caseName;
  if (ClassHasAttribute(diagram, u"DefaultCase")) {
    IKXQAttributePtr defaultCase;
    GetAttributeInterfaceAt(diagram, u"DefaultCase", defaultCase, -1);
    bool hasCase = false;
    const int32_t caseId = defaultCase ? GetAttributeAsInteger(defaultCase, &hasCase) : 0;
    if (hasCase) {
      if (database == nullptr) {
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Do not have access to object store");
      }
      KX_CHECK(ctx, database->get_CaseName(caseId, caseName.GetAddress()));
    }
  }
  const _bstr_t revision = TextIfDefined(diagram, u"LastRevisionLevel");
  AddDocument(1, diagram, name, caseName, revision);
  const _variant_t anyValue;
  for (int32_t status = 2; status <= 4; ++status) {
    if (KXDBDatasheetSvcs::HasValueAt(diagram, kSchematics[status - 2], anyValue)) {
      AddDocument(status, diagram, name, caseName, revision);
    }
  }
}

int32_t KXDiagramInfoList::GetCount() const {
  Sort();
  return static_cast<int32_t>(m_entries.size());
}

const KXDiagramInfo& KXDiagramInfoList::GetAt(int32_t index) const {
  Sort();
  return *m_entries.at(static_cast<size_t>(index)).info;
}

void KXDiagramInfoList::RemoveAll() {
  m_entries.clear();
  m_sorted = true;
  m_added = 0;
  CurrentPage = 0;
}
