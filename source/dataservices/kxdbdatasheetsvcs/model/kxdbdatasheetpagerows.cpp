// Many rows taken off a continuous list in one go: the same lists, change
// order and events as removing the objects one after the other
// (RemoveObjectFromPage), but each list of the page is rewritten once. One
// row at a time, every row moves every later value of "Fields",
// "Revisions" and "NodeObjects" and parses every later field record again:
// n rows of a long list cost n times the list.
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "com/comutil.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/continuouspageadvisor.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "model/listrowwrites.h"
#include "model/maincontext.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils";
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

// The positions of a list that are left as values are removed from it one
// at a time: the current position of an original one and the original one
// at a current position, O(log n) each (a Fenwick tree of the survivors).
class Survivors {
 public:
  explicit Survivors(int32_t count)
      : m_tree(static_cast<size_t>(count) + 1, 0), m_count(count), m_left(count) {
    for (int32_t i = 1; i <= count; ++i) {
      m_tree[static_cast<size_t>(i)] += 1;
      const int32_t up = i + (i & -i);
      if (up <= count) m_tree[static_cast<size_t>(up)] += m_tree[static_cast<size_t>(i)];
    }
    m_step = 1;
    while (m_step * 2 <= count) m_step *= 2;
  }
  int32_t Count() const { return m_left; }
  // The current position of original position `p`, which is left.
  int32_t Current(int32_t p) const {
    int32_t sum = 0;
    for (; p > 0; p -= p & -p) sum += m_tree[static_cast<size_t>(p)];
    return sum;
  }
  // The original position now at current position `k` (1 <= k <= Count()).
  int32_t Original(int32_t k) const {
    int32_t at = 0;
    for (int32_t step = m_step; step > 0; step /= 2) {
      const int32_t next = at + step;
      if (next <= m_count && m_tree[static_cast<size_t>(next)] < k) {
        at = next;
        k -= m_tree[static_cast<size_t>(next)];
      }
    }
    return at + 1;
  }
  // Removes current positions first..last (those that exist); the smallest
  // original position removed so far is kept.
  void RemoveCurrent(int32_t first, int32_t last) {
    const int32_t end = std::min(last, m_left);
    for (int32_t k = first; k <= end; ++k) {
      const int32_t p = Original(first);
      m_lowest = std::min(m_lowest, p);
      for (int32_t i = p; i <= m_count; i += i & -i) --m_tree[static_cast<size_t>(i)];
      --m_left;
    }
  }
  bool Changed() const { return m_left != m_count; }
  int32_t Lowest() const { return m_lowest; }

 private:
  std::vector<int32_t> m_tree;
  int32_t m_count;
  int32_t m_left;
  int32_t m_step = 1;
  int32_t m_lowest = INT32_MAX;
};

// One of the page's lists: its values from the first one removed on, as
// the removals leave them, written over the old ones (an unchanged value is
// not written again) and the list cut to its new length.
struct ListRewrite {
  ListRewrite(IKXQAttribute* changed, const Survivors* survivors)
      : list(changed), left(survivors) {}
  IKXQAttribute* list;
  const Survivors* left;
  std::vector<_variant_t> values;  // the old values from left->Lowest() on
  // "Fields": the records from here on take the row they stand in.
  int32_t renumberFrom = INT32_MAX;
  std::vector<_bstr_t> renumbered;

  void Write() const {
    const int32_t from = left->Lowest();
    std::vector<_variant_t> now;
    for (int32_t p = from; p <= left->Count(); ++p) {
      if (p >= renumberFrom) {
        const _bstr_t& text = renumbered[static_cast<size_t>(p - renumberFrom)];
        now.emplace_back(text.length() > 0 ? static_cast<const OLECHAR*>(text) : u"");
      } else {
        now.push_back(values[static_cast<size_t>(left->Original(p) - from)]);
      }
    }
    KXDBDatasheetSvcs::WriteListValues(list, from, now);
  }
};

}  // namespace

namespace KXDBDatasheetSvcs {

bool SlotsCarryState(IKXQAttribute* list, int32_t first) {
  KXComException ctx = KXComException::Silent();
  const int32_t count = GetAttributeCount(list);
  for (int32_t i = std::max(first, 1); i <= count; ++i) {
    const VARIANT at = PositionVariant(i);
    VARIANT_BOOL flag = VARIANT_FALSE;
    KX_CHECK(ctx, list->IsLocked(at, &flag));
    if (flag != VARIANT_FALSE) return true;
    KX_CHECK(ctx, list->IsSecured(at, &flag));
    if (flag != VARIANT_FALSE) return true;
    KX_CHECK(ctx, list->IsHeld(at, &flag));
    if (flag != VARIANT_FALSE) return true;
    LONG status = 0;
    KX_CHECK(ctx, list->GetStatusFlags(at, &status));
    if (status != 0) return true;
    KX_CHECK(ctx, list->SameNumberTexts(at, nullptr, nullptr, nullptr, &flag));
    if (flag == VARIANT_FALSE) return true;
  }
  return false;
}

_bstr_t FieldRecordText(const _variant_t& value) {
  _variant_t copy(value);
  _bstr_t text;
  ValueReadText(copy, text);
  return text;
}

bool RenumbersAlike(const _bstr_t& text, int32_t row, _bstr_t& renumbered) {
  try {
    renumbered = RenumberedFieldText(text, row);
    const _bstr_t onTheWay = RenumberedFieldText(text, row + 1);
    return RenumberedFieldText(onTheWay, row).view() == renumbered.view();
  } catch (const KXComException&) {
    // One row at a time, the rows fail as they fail.
    SetErrorInfo(0, nullptr);
    return false;
  }
}

std::vector<_variant_t> ReadListValues(IKXQAttribute* list, int32_t first) {
  KXComException ctx = KXComException::Silent();
  std::vector<_variant_t> values;
  const int32_t count = GetAttributeCount(list);
  for (int32_t i = first; i <= count; ++i) {
    _variant_t value;
    KX_CHECK(ctx, list->GetValue(PositionVariant(i), _variant_t(), &value));
    values.push_back(std::move(value));
  }
  return values;
}

void WriteListValues(IKXQAttribute* list, int32_t first, const std::vector<_variant_t>& values) {
  KXComException ctx = KXComException::Silent();
  const int32_t old = GetAttributeCount(list);
  const int32_t count = first + static_cast<int32_t>(values.size()) - 1;
  for (int32_t p = first; p <= count; ++p) {
    KX_CHECK(ctx, list->PutValue(PositionVariant(p), _variant_t(),
                                 values[static_cast<size_t>(p - first)]));
  }
  if (old > count) KX_CHECK(ctx, list->RemoveValues(count + 1, old - count));
}

HRESULT RemoveObjectsFromPage(MainContext& main, IKXQObject* page,
                              const std::vector<IKXQObject*>& objects) {
  const auto oneByOne = [&](size_t from) {
    for (size_t i = from; i < objects.size(); ++i) {
      const HRESULT hr = RemoveObjectFromPage(main, page, objects[i]);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  };
  if (objects.size() < 3 || page == nullptr) return oneByOne(0);
  // The last object goes the usual way, after the others: the helper is
  // then left set up as removing all one by one leaves it.
  const std::vector<IKXQObject*> batch(objects.begin(), objects.end() - 1);
  bool batched = false;
  const auto work = [&](KXComException& ctx) {
    IKXQAttributePtr objectList, fieldList, revisionList;
    GetAttributeInterface(page, u"NodeObjects", objectList);
    GetAttributeInterface(page, u"Fields", fieldList);
    GetAttributeInterface(page, u"Revisions", revisionList);
    if (!objectList || !fieldList) return S_OK;
    IKXQTemplatePagePtr templatePage;
    KX_CHECK(ctx, GetTemplatePage(main.m_pApplication, page, &templatePage, 1));
    if (!templatePage) return S_OK;
    _bstr_t format;
    KX_CHECK(ctx, templatePage->get_ContinuousFormat(format.GetAddress()));
    if (format.length() == 0) return S_OK;
    ContinuousPageHelper& helper = main.GetContinuousPageHelper();
    KX_CHECK(ctx, helper.Initialize(main.m_pApplication, templatePage, page, false));
    const int32_t firstRow = helper.FirstRowPosition();
    const int32_t firstField = helper.FirstRepeatingField();
    const int32_t perRow = helper.FieldsPerRow();
    if (firstRow < 1 || firstField < 1 || perRow < 1) return S_OK;

    // Where each object stands among the rows, first occurrence first.
    const int32_t objectCount = GetAttributeCount(objectList);
    std::unordered_map<IKXQObject*, std::vector<int32_t>> rowsOf;
    for (IKXQObject* object : batch) rowsOf.emplace(object, std::vector<int32_t>());
    for (int32_t p = objectCount; p >= firstRow; --p) {
      IKXQObjectPtr value;
      GetAttributeObjectAt(objectList, value, p);
      const auto found = rowsOf.find(value.GetInterfacePtr());
      if (value && found != rowsOf.end()) found->second.push_back(p);
    }

    // The removals as they would go, on the positions alone.
    Survivors rowsLeft(objectCount);
    Survivors fieldsLeft(GetAttributeCount(fieldList));
    Survivors revisionsLeft(revisionList ? GetAttributeCount(revisionList) : 0);
    ListRewrite fields{fieldList, &fieldsLeft};
    ListRewrite revisions{revisionList, &revisionsLeft};
    ListRewrite rows{objectList, &rowsLeft};
    std::vector<ListRewrite*> order;  // the lists in the order they first change
    const auto changed = [&](ListRewrite& list) {
      if (std::find(order.begin(), order.end(), &list) == order.end()) order.push_back(&list);
    };
    struct Told {
      int32_t position, count;
    };
    std::vector<Told> told;
    for (IKXQObject* object : batch) {
      std::vector<int32_t>& at = rowsOf[object];
      if (at.empty()) continue;
      const int32_t position = rowsLeft.Current(at.back());
      at.pop_back();
      const int32_t count = rowsLeft.Count();
      told.push_back({position, count});
      const int32_t rowFirst = (position - firstRow) * perRow + firstField;
      const int32_t rowLast = rowFirst + perRow - 1;
      if (rowFirst <= fieldsLeft.Count()) {
        fieldsLeft.RemoveCurrent(rowFirst, rowLast);
        changed(fields);
        if (rowFirst <= fieldsLeft.Count())
          fields.renumberFrom = std::min(fields.renumberFrom, rowFirst);
      }
      int32_t firstValue = -1, lastValue = -1;
      KX_CHECK(ctx, helper.GetFieldValueIndex(rowFirst, &firstValue));
      KX_CHECK(ctx, helper.GetFieldValueIndex(rowLast, &lastValue));
      if (revisionList && firstValue >= 1 && lastValue >= firstValue &&
          firstValue <= revisionsLeft.Count()) {
        revisionsLeft.RemoveCurrent(firstValue, lastValue);
        changed(revisions);
      }
      rowsLeft.RemoveCurrent(position, position);
      changed(rows);
    }
    if (order.empty()) return S_OK;
    // A list whose slots carry state, or a field record that does not read
    // back as it is written, goes the usual way.
    for (ListRewrite* list : order) {
      if (SlotsCarryState(list->list, list->left->Lowest())) return S_OK;
      list->values = ReadListValues(list->list, list->left->Lowest());
    }
    for (int32_t p = fields.renumberFrom; p <= fieldsLeft.Count(); ++p) {
      const _variant_t& old =
          fields.values[static_cast<size_t>(fieldsLeft.Original(p) - fieldsLeft.Lowest())];
      _bstr_t renumbered;
      if (!RenumbersAlike(FieldRecordText(old), (p - firstField) / perRow, renumbered)) {
        return S_OK;
      }
      fields.renumbered.push_back(std::move(renumbered));
    }
    // One at a time, a record that a later row of the batch takes off may be
    // renumbered on the way first (a row before it went earlier): one that
    // does not read would fail the removal there.
    if (!fields.values.empty()) {
      std::vector<bool> left(fields.values.size(), false);
      for (int32_t p = fieldsLeft.Lowest(); p <= fieldsLeft.Count(); ++p) {
        left[static_cast<size_t>(fieldsLeft.Original(p) - fieldsLeft.Lowest())] = true;
      }
      for (size_t i = 0; i < left.size(); ++i) {
        _bstr_t unused;
        if (!left[i] && !RenumbersAlike(FieldRecordText(fields.values[i]), 0, unused)) return S_OK;
      }
    }

    batched = true;
    for (size_t i = 0; i < told.size(); ++i) GetContinuousFormat(main, page, templatePage);
    for (const ListRewrite* list : order) list->Write();
    for (const Told& step : told) {
      if ((step.count - step.position + 1) * perRow > 100) {
        KX_CHECK(ctx, main.LaunchPageEvent(page, 1));
      } else {
        for (int32_t r = step.position; r <= step.count - 1; ++r) {
          const int32_t base = (r - firstRow) * perRow + firstField;
          for (int32_t f = base; f < base + perRow; ++f) {
            KX_CHECK(ctx, main.LaunchDataFieldEvent(page, f, 1, false));
          }
        }
      }
      KX_CHECK(ctx, main.LaunchDataFieldEvent(page, (step.count - firstRow) * perRow + firstField,
                                              1, false));
    }
    return S_OK;
  };
  const HRESULT hr = ServeRequest(u"KXDBDatasheetSvcs::RemoveObjectsFromPage", kSilentFrame, work);
  if (FAILED(hr)) return hr;
  return oneByOne(batched ? batch.size() : 0);
}

}  // namespace KXDBDatasheetSvcs
