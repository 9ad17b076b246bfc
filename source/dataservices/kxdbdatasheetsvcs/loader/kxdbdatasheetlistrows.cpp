// Many rows put into a continuous list in one go: the same lists and
// change order as AddListObject one row after the other, but each list of
// the page rewritten once. One row at a time, every row moves every later
// value of "NodeObjects", "Fields" and "Revisions" and parses every later
// field record again: n rows into a long list cost n times the list.
#include <algorithm>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "loader/kxdbdatasheetsummary.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/listrowwrites.h"
#include "model/maincontext.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetsummary";
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

// A list as values are inserted into it one at a time, each value known by
// a number: the value at a position and an insertion at a position,
// O(log n) each (an implicit treap; the same shape on every run).
class Sequence {
 public:
  int32_t Size() const { return Size(m_root); }
  // The value at 1-based `position` (1 <= position <= Size()).
  int32_t At(int32_t position) const {
    int32_t node = m_root;
    for (;;) {
      const int32_t before = Size(m_nodes[node].left);
      if (position <= before) {
        node = m_nodes[node].left;
      } else if (position == before + 1) {
        return m_nodes[node].value;
      } else {
        position -= before + 1;
        node = m_nodes[node].right;
      }
    }
  }
  // Puts `value` at 1-based `position` (1 <= position <= Size() + 1).
  void Insert(int32_t position, int32_t value) {
    m_seed ^= m_seed << 13;
    m_seed ^= m_seed >> 17;
    m_seed ^= m_seed << 5;
    m_nodes.push_back({-1, -1, 1, m_seed, value});
    const int32_t made = static_cast<int32_t>(m_nodes.size()) - 1;
    int32_t left = -1, right = -1;
    Split(m_root, position - 1, left, right);
    m_root = Merge(Merge(left, made), right);
  }
  std::vector<int32_t> Values() const {
    std::vector<int32_t> values;
    values.reserve(static_cast<size_t>(Size()));
    std::vector<int32_t> stack;
    for (int32_t node = m_root; node >= 0 || !stack.empty();) {
      for (; node >= 0; node = m_nodes[node].left) stack.push_back(node);
      node = stack.back();
      stack.pop_back();
      values.push_back(m_nodes[node].value);
      node = m_nodes[node].right;
    }
    return values;
  }

 private:
  struct Node {
    int32_t left, right, size;
    uint32_t priority;
    int32_t value;
  };
  int32_t Size(int32_t node) const { return node < 0 ? 0 : m_nodes[node].size; }
  void Update(int32_t node) {
    m_nodes[node].size = 1 + Size(m_nodes[node].left) + Size(m_nodes[node].right);
  }
  // The first `count` values of `node` into `left`, the rest into `right`.
  void Split(int32_t node, int32_t count, int32_t& left, int32_t& right) {
    if (node < 0) {
      left = right = -1;
      return;
    }
    if (Size(m_nodes[node].left) < count) {
      Split(m_nodes[node].right, count - Size(m_nodes[node].left) - 1, m_nodes[node].right, right);
      left = node;
    } else {
      Split(m_nodes[node].left, count, left, m_nodes[node].left);
      right = node;
    }
    Update(node);
  }
  int32_t Merge(int32_t left, int32_t right) {
    if (left < 0) return right;
    if (right < 0) return left;
    if (m_nodes[left].priority > m_nodes[right].priority) {
      m_nodes[left].right = Merge(m_nodes[left].right, right);
      Update(left);
      return left;
    }
    m_nodes[right].left = Merge(left, m_nodes[right].left);
    Update(right);
    return right;
  }

  std::vector<Node> m_nodes;
  int32_t m_root = -1;
  uint32_t m_seed = 2463534242u;
};

// One list of the page as rows go into it, its values known by number:
// its old values 1..count (by their old positions), then the empty values
// inserted or padded in. A value that came in, or moved, was renumbered
// (in "Fields").
class GrowingList {
 public:
  explicit GrowingList(IKXQAttribute* attribute)
      : m_list(attribute), m_oldCount(attribute ? GetAttributeCount(attribute) : 0) {
    for (int32_t i = 1; i <= m_oldCount; ++i) Add(i, i);
  }
  IKXQAttribute* List() const { return m_list; }
  int32_t Size() const { return m_sequence.Size(); }
  int32_t FirstChanged() const { return m_firstChanged; }
  bool Changed() const { return m_firstChanged != INT32_MAX; }
  // Inserts `count` empty values at `position`, padding the list with
  // empty values up to it first, as the store inserts. The numbers of the
  // values inserted.
  std::vector<int32_t> InsertEmpty(int32_t position, int32_t count) {
    m_firstChanged = std::min(m_firstChanged, std::min(position, Size() + 1));
    while (Size() < position - 1) Add(Size() + 1, Size() + 1);
    std::vector<int32_t> made;
    for (int32_t k = 0; k < count; ++k) made.push_back(Add(position + k, 0));
    return made;
  }
  int32_t At(int32_t position) const { return m_sequence.At(position); }
  bool IsOld(int32_t value) const { return value <= m_oldCount; }
  // Whether value `value`, now at `position`, came in or moved.
  bool Moved(int32_t value, int32_t position) const {
    return m_placedAt[static_cast<size_t>(value - 1)] != position;
  }
  // The text of value `value` before any renumbering: an old value as the
  // list holds it, a copied record, or none.
  _bstr_t Text(int32_t value) const {
    if (!IsOld(value)) return m_copied[static_cast<size_t>(value - 1)];
    _bstr_t text;
    KXDBDatasheetSvcs::GetAttributeValueStringAt(m_list, value, text);
    return text;
  }
  void SetCopied(int32_t value, const _bstr_t& text) {
    m_copied[static_cast<size_t>(value - 1)] = text;
  }
  std::vector<int32_t> Values() const { return m_sequence.Values(); }

 private:
  int32_t Add(int32_t position, int32_t placedAt) {
    m_placedAt.push_back(placedAt);
    m_copied.emplace_back();
    const int32_t value = static_cast<int32_t>(m_placedAt.size());
    m_sequence.Insert(position, value);
    return value;
  }

  IKXQAttribute* m_list;
  int32_t m_oldCount;
  Sequence m_sequence;
  std::vector<int32_t> m_placedAt;  // per value: where it stood first (0: inserted)
  std::vector<_bstr_t> m_copied;    // per inserted record of "Fields": the copied text
  int32_t m_firstChanged = INT32_MAX;
};

}  // namespace

namespace KXDBDatasheetSvcs {

HRESULT AddListObjects(MainContext& main, IKXQObject* page, IKXQTemplatePage* templatePage,
                       const std::vector<ListRow>& rows) {
  const auto oneByOne = [&](size_t from) {
    for (size_t i = from; i < rows.size(); ++i) {
      const HRESULT hr =
          AddListObject(main, rows[i].object, page, templatePage, true, rows[i].row, false, false);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  };
  if (rows.size() < 3 || page == nullptr || templatePage == nullptr) return oneByOne(0);
  // The last row goes the usual way, after the others: the helper is then
  // left set up as adding all one by one leaves it.
  const std::vector<ListRow> batch(rows.begin(), rows.end() - 1);
  bool batched = false;
  const auto work = [&](KXComException& ctx) {
    IKXQAttributePtr objectList, fieldList, revisionList, indices;
    GetAttributeInterface(page, u"NodeObjects", objectList);
    GetAttributeInterface(page, u"NodeIndices", indices);
    GetAttributeInterface(page, u"Fields", fieldList);
    GetAttributeInterface(page, u"Revisions", revisionList);
    if (!objectList || !indices || !fieldList) return S_OK;
    ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    KX_CHECK(ctx, helper.Initialize(main.m_pApplication, templatePage, page, false));
    const int32_t firstRow = helper.FirstRowPosition();
    const int32_t first = helper.FirstRepeatingField();
    const int32_t perRow = helper.FieldsPerRow();
    const int32_t valuesPerRow = helper.ValuesPerRow();
    bool hasRoot = false;
    (void)GetAttributeIntegerAt(indices, helper.RootNodeIndex() + 1, &hasRoot);
    if (!hasRoot || firstRow < 1 || first < 1 || perRow < 1) return S_OK;

    // The objects the list holds, wherever they stand.
    std::unordered_set<IKXQObject*> held;
    for (int32_t p = GetAttributeCount(objectList); p >= 1; --p) {
      IKXQObjectPtr value;
      GetAttributeObjectAt(objectList, value, p);
      if (value) held.insert(value.GetInterfacePtr());
    }
    // The rows as they would go in, on the positions alone.
    GrowingList objects(objectList), fields(fieldList), revisions(revisionList);
    std::vector<IKXQObject*> newObjects;  // per inserted value of "NodeObjects"
    int32_t added = 0;
    for (const ListRow& row : batch) {
      if (row.object == nullptr || row.row < 0) return S_OK;
      if (!held.insert(row.object).second) continue;
      ++added;
      const int32_t at = firstRow + row.row;
      if (at > objects.Size() + 1) return S_OK;
      const int32_t made = objects.InsertEmpty(at, 1).front();
      newObjects.resize(static_cast<size_t>(made));
      newObjects.back() = row.object;
      // The new row takes over the records of the row it goes before.
      const int32_t start = first + row.row * perRow;
      std::vector<_bstr_t> copied(static_cast<size_t>(perRow));
      for (int32_t k = 0; k < perRow && start + k <= fields.Size(); ++k) {
        const int32_t position = start + k;
        const int32_t record = fields.At(position);
        _bstr_t text = fields.Text(record);
        if (fields.Moved(record, position)) {
          const _bstr_t base = text;
          if (!RenumbersAlike(base, (position - first) / perRow, text)) return S_OK;
        }
        if (text.length() == 0) continue;
        try {
          copied[static_cast<size_t>(k)] = CopiedRowFieldText(text);
        } catch (const KXComException&) {
          // One row at a time, the rows fail as they fail.
          SetErrorInfo(0, nullptr);
          return S_OK;
        }
      }
      const std::vector<int32_t> records = fields.InsertEmpty(start, perRow);
      for (int32_t k = 0; k < perRow; ++k) {
        fields.SetCopied(records[static_cast<size_t>(k)], copied[static_cast<size_t>(k)]);
      }
      if (revisionList && valuesPerRow > 0) {
        revisions.InsertEmpty(valuesPerRow * row.row + helper.FixedValueCount() + 1, valuesPerRow);
      }
    }
    if (!objects.Changed()) return S_OK;

    // The lists as they come out, in the order they first change; a list
    // whose slots carry state, or a record that does not renumber alike,
    // goes the usual way.
    std::vector<std::pair<GrowingList*, std::vector<_variant_t>>> lists;
    for (GrowingList* list : {&objects, &fields, &revisions}) {
      if (!list->Changed()) continue;
      if (SlotsCarryState(list->List(), list->FirstChanged())) return S_OK;
      const int32_t from = list->FirstChanged();
      const std::vector<_variant_t> old = ReadListValues(list->List(), from);
      const std::vector<int32_t> values = list->Values();
      std::vector<_variant_t> now;
      for (int32_t p = from; p <= list->Size(); ++p) {
        const int32_t value = values[static_cast<size_t>(p - 1)];
        if (list == &fields && list->Moved(value, p)) {
          _bstr_t text;
          if (!RenumbersAlike(list->Text(value), (p - first) / perRow, text)) return S_OK;
          now.emplace_back(text.length() > 0 ? static_cast<const OLECHAR*>(text) : u"");
        } else if (list->IsOld(value)) {
          now.push_back(old[static_cast<size_t>(value - from)]);
        } else if (list == &objects && static_cast<size_t>(value) <= newObjects.size() &&
                   newObjects[static_cast<size_t>(value - 1)] != nullptr) {
          now.emplace_back(static_cast<IDispatch*>(newObjects[static_cast<size_t>(value - 1)]));
        } else {
          now.emplace_back();
        }
      }
      lists.emplace_back(list, std::move(now));
    }

    batched = true;
    for (int32_t i = 0; i < added; ++i) GetContinuousFormat(main, page, templatePage);
    for (const auto& [list, now] : lists) WriteListValues(list->List(), list->FirstChanged(), now);
    return S_OK;
  };
  const HRESULT hr = ServeRequest(u"KXDBDatasheetSvcs::AddListObjects", kSilentFrame, work);
  if (FAILED(hr)) return hr;
  return oneByOne(batched ? batch.size() : 0);
}

}  // namespace KXDBDatasheetSvcs
