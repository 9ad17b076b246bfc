// The page list of a datasheet: pages placed and renumbered, and the name
// a page is shown with.
#include "loader/pageoperations.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "com/comutil.h"
#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "model/kxdbdatasheetutils.h"
#include "variantutil.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/pages";

// The first position of the list (1-based; the count + 1 when none) that a
// placing touches: an empty slot or one of `sought`. The store finds a few
// in one call each; for more the walk starts at the list's head.
int32_t FirstTouched(KXComException& ctx, IKXQAttribute* pages, int32_t count,
                     const std::unordered_set<IKXQObject*>& sought) {
  constexpr size_t kLookedUp = 9;
  if (sought.size() > kLookedUp) return 1;
  int32_t first = count + 1;
  const auto nearer = [&](IKXQObject* object) {
    LONG at = 0;
    KX_CHECK(ctx, pages->FindObject(object, 1, &at));
    if (at > 0 && at < first) first = at;
  };
  nearer(nullptr);
  for (IKXQObject* object : sought) nearer(object);
  return first;
}

// Only the tail from the first changed position is taken out, in one call,
// and put back: `old` held the values from position `prefix` + 1 on,
// `placed` takes their place. Each page leaves this list only: unlinking
// it would take it out of whichever list holds it last (a page may stand
// in several), and would search the list for every page.
void RewriteTail(IKXQAttribute* pages, int32_t prefix, const std::vector<IKXQObjectPtr>& old,
                 const std::vector<IKXQObjectPtr>& placed) {
  size_t same = 0;
  while (same < old.size() && same < placed.size() &&
         old[same].GetInterfacePtr() == placed[same].GetInterfacePtr()) {
    ++same;
  }
  KXDBDatasheetSvcs::ResizeAttributeValues(pages, prefix + static_cast<int32_t>(same));
  for (size_t k = same; k < placed.size(); ++k) {
    KXDBDatasheetSvcs::SetAttributeObjectAt(pages, prefix + static_cast<int32_t>(k + 1), placed[k]);
  }
}

// How many pages were placed before a position of the final order, kept
// as the placements are replayed (a Fenwick tree: log n each way).
class PlacedBefore {
 public:
  explicit PlacedBefore(size_t positions) : m_tree(positions + 1, 0) {}
  void Add(size_t position) {
    for (size_t i = position + 1; i < m_tree.size(); i += i & (~i + 1)) ++m_tree[i];
  }
  int32_t Count(size_t position) const {
    int32_t sum = 0;
    for (size_t i = position; i > 0; i -= i & (~i + 1)) sum += m_tree[i];
    return sum;
  }

 private:
  std::vector<int32_t> m_tree;
};

}  // namespace

namespace KXDBDatasheetSvcs {

// A page's "PageNumber"; 0 when it has none.
int32_t PageNumberOf(IKXQObject* page) {
  IKXQAttributePtr number;
  GetAttributeInterface(page, u"PageNumber", number);
  return number ? GetAttributeAsInteger(number) : 0;
}

void SetPageNumber(IKXQObject* page, int32_t number) {
  SetAttributeLong(page, u"PageNumber", number, -1);
}

namespace {

std::u16string ShownPageName(const _bstr_t& stored, int32_t number) {
  if (stored.length() > 0) return FormatPageName(stored.view(), number);
  return number != -1 ? kx_ltow(number) : std::u16string(u"Unnamed");
}

}  // namespace

bool PageDisplayNameFrom(VARIANT* stored, const VARIANT* number, std::u16string& shown) {
  LONG pageNumber = 0;
  if (number != nullptr && IsVariantSet(*number) &&
      FAILED(VariantToLong(*number, &pageNumber, true)))
    return false;
  _bstr_t text;
  if (stored != nullptr) {
    _variant_t held(*stored, false);
    VariantInit(stored);
    ValueReadText(held, text);
  }
  shown = ShownPageName(text, pageNumber);
  return true;
}

void GetPageDisplayName(IKXQObject* page, BSTR* name) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::GetPageDisplayName");
  CheckPointerArgument(ctx, name);
  *name = nullptr;
  CheckPointerArgument(ctx, page);
  std::u16string shown;
  // Both values in one store call where the store answers so; a value the
  // usual reads would refuse is read again that way, to fail as they fail.
  bool read = false;
  if (const _com_ptr_t<IKXQValueReads> reads = ValueReadsOf(page)) {
    static const _bstr_t kName(u"Name");
    static const _bstr_t kPageNumber(u"PageNumber");
    BSTR names[] = {kName, kPageNumber};
    VARIANT_BOOL defined[2] = {};
    VARIANT values[2];
    VARIANT whole;
    VariantInit(&whole);
    if (SUCCEEDED(reads->ReadValues(2, names, whole, defined, values))) {
      const _variant_t number(values[1], false);
      read = PageDisplayNameFrom(defined[0] ? &values[0] : nullptr, defined[1] ? &number : nullptr,
                                 shown);
      VariantClear(&values[0]);
    }
  }
  if (!read) {
    _bstr_t stored;
    IKXQAttributePtr nameAttribute;
    GetAttributeInterfaceAt(page, u"Name", nameAttribute, -1);
    if (nameAttribute) GetAttributeValueString(nameAttribute, stored);
    shown = ShownPageName(stored, PageNumberOf(page));
  }
  *name = SysAllocStringLen(shown.data(), static_cast<UINT>(shown.size()));
  if (*name == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_OUTOFMEMORY, nullptr);
}

void RenumberPages(IKXQObject* datasheet, IKXQObject* page, IKXQObject* anchor, bool before) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::RenumberPages");
  CheckPointerArgument(ctx, page);
  // Moving a page next to itself would only reorder the rest.
  if (page == anchor) return;
  PlacePages(datasheet, {page}, anchor, before);
}

void PlacePages(IKXQObject* datasheet, const std::vector<IKXQObject*>& block, IKXQObject* anchor,
                bool before) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::RenumberPages");
  CheckPointerArgument(ctx, datasheet);
  if (block.empty()) return;
  const std::unordered_set<IKXQObject*> moved(block.begin(), block.end());
  if (moved.count(anchor) != 0) anchor = nullptr;
  IKXQAttributePtr pages;
  const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);

  // The pages before the first one the placing touches (an empty slot, an
  // old entry of the block, the anchor) keep their places and numbers, so
  // the walk starts there: placing after the last page reads no other.
  std::unordered_set<IKXQObject*> sought(moved);
  if (anchor != nullptr) sought.insert(anchor);
  const int32_t first = FirstTouched(ctx, pages, count, sought);
  const int32_t prefix = first - 1;

  std::vector<IKXQObjectPtr> old;  // from `first` on
  std::vector<IKXQObjectPtr> placed;
  old.reserve(static_cast<size_t>(count - prefix));
  placed.reserve(static_cast<size_t>(count - prefix) + block.size());
  const int32_t size = static_cast<int32_t>(block.size());
  // The block's pages numbered from `number` on, in order.
  const auto placeBlock = [&](int32_t number) {
    for (int32_t k = 0; k < size; ++k) {
      placed.push_back(block[static_cast<size_t>(k)]);
      SetPageNumber(block[static_cast<size_t>(k)], number + k);
    }
  };
  int32_t shift = 0;
  bool anchored = false;
  for (int32_t i = first; i <= count; ++i) {
    IKXQObjectPtr value;
    GetAttributeAsObject(pages, i, value);
    old.push_back(value);
    // An empty slot and the block's own old entries drop out of the list.
    if (!value || moved.count(value.GetInterfacePtr()) != 0) {
      --shift;
      continue;
    }
    if (value.GetInterfacePtr() == anchor) {
      const int32_t number = PageNumberOf(anchor);
      if (before) {
        placeBlock(number + shift);
        shift += size;
        placed.push_back(value);
        SetPageNumber(anchor, number + shift);
      } else {
        placed.push_back(value);
        if (shift != 0) SetPageNumber(anchor, number + shift);
        placeBlock(number + shift + 1);
        shift += size;
      }
      anchored = true;
      continue;
    }
    placed.push_back(value);
    if (shift != 0) SetPageNumber(value, PageNumberOf(value) + shift);
  }
  if (!anchored) placeBlock(prefix + static_cast<int32_t>(placed.size()) + 1);
  RewriteTail(pages, prefix, old, placed);
}

void PagePlacements::Place(IKXQObject* page, IKXQObject* anchor, bool before) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::RenumberPages");
  CheckPointerArgument(ctx, page);
  m_steps.push_back({page, anchor, before});
}

void PagePlacements::Write(IKXQObject* datasheet) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::RenumberPages");
  if (m_steps.empty()) return;
  CheckPointerArgument(ctx, datasheet);
  std::vector<Step> steps;
  steps.swap(m_steps);
  IKXQAttributePtr pages;
  const int32_t count = GetPagesAttributeByStatus(datasheet, 1, pages);

  std::unordered_set<IKXQObject*> newPages;
  for (const Step& step : steps) newPages.insert(step.page);
  std::unordered_set<IKXQObject*> sought(newPages);
  for (const Step& step : steps) {
    if (step.anchor && newPages.count(step.anchor) == 0) sought.insert(step.anchor);
  }
  const int32_t prefix = FirstTouched(ctx, pages, count, sought) - 1;

  // The final order as a linked list behind node 0: the list's pages from
  // the first touched position on, the new pages linked in as placed.
  struct Node {
    IKXQObject* page = nullptr;
    size_t prev = 0;
    size_t next = 0;
    bool made = false;
    int32_t shift = 0;   // an old page's: the dropped entries before it
    bool known = false;  // `number` read (an old page) or given (a new one)
    int32_t number = 0;  // the number when `placedBefore` pages stood before it
    int32_t placedBefore = 0;
    size_t position = 0;
  };
  std::vector<Node> nodes(1);
  std::unordered_map<IKXQObject*, size_t> nodeOf;
  const auto link = [&](IKXQObject* page, size_t after) {
    Node node;
    node.page = page;
    node.prev = after;
    node.next = nodes[after].next;
    nodes.push_back(node);
    const size_t added = nodes.size() - 1;
    nodes[node.next].prev = added;
    nodes[after].next = added;
    return added;
  };
  std::vector<IKXQObjectPtr> old;
  old.reserve(static_cast<size_t>(count - prefix));
  int32_t shift = 0;
  for (int32_t i = prefix + 1; i <= count; ++i) {
    IKXQObjectPtr value;
    GetAttributeAsObject(pages, i, value);
    old.push_back(value);
    // An empty slot and an old entry of a new page drop out of the list.
    if (!value || newPages.count(value.GetInterfacePtr()) != 0) {
      --shift;
      continue;
    }
    if (!nodeOf.emplace(value.GetInterfacePtr(), nodes.size()).second) {
      // A page that stands twice takes a new page next to each of its
      // entries, and is renumbered at each: only placing the pages one by
      // one does that (a list in this state is rare, so its cost is too).
      for (const Step& step : steps) PlacePages(datasheet, {step.page}, step.anchor, step.before);
      return;
    }
    const size_t node = link(value, nodes[0].prev);
    nodes[node].shift = shift;
  }
  int32_t live = prefix + static_cast<int32_t>(nodes.size() - 1);
  std::vector<size_t> anchors(steps.size(), 0);  // 0: the end
  std::vector<size_t> nodeOfStep(steps.size(), 0);
  for (size_t t = 0; t < steps.size(); ++t) {
    const auto found = nodeOf.find(steps[t].anchor);
    size_t after = nodes[0].prev;
    if (steps[t].anchor && found != nodeOf.end()) {
      anchors[t] = found->second;
      after = steps[t].before ? nodes[found->second].prev : found->second;
    }
    nodeOfStep[t] = link(steps[t].page, after);
    nodes[nodeOfStep[t]].made = true;
    nodeOf[steps[t].page] = nodeOfStep[t];
  }
  std::vector<IKXQObjectPtr> placed;
  placed.reserve(nodes.size() - 1);
  for (size_t n = nodes[0].next; n != 0; n = nodes[n].next) {
    nodes[n].position = placed.size();
    placed.emplace_back(nodes[n].page);
  }

  // Page numbers shift relative to their old values, as RenumberPages
  // shifts them: a page's number is the one it had or was given plus the
  // pages placed before it since.
  PlacedBefore counts(placed.size());
  const auto numberOf = [&](Node& node) {
    if (!node.known) {
      node.number = PageNumberOf(node.page) + node.shift;
      node.known = true;
    }
    return node.number + counts.Count(node.position) - node.placedBefore;
  };
  for (size_t t = 0; t < steps.size(); ++t) {
    Node& node = nodes[nodeOfStep[t]];
    int32_t number = live + 1;
    if (anchors[t] != 0) number = numberOf(nodes[anchors[t]]) + (steps[t].before ? 0 : 1);
    counts.Add(node.position);
    node.number = number;
    node.known = true;
    node.placedBefore = counts.Count(node.position);
    ++live;
  }
  for (size_t n = nodes[0].next; n != 0; n = nodes[n].next) {
    Node& node = nodes[n];
    if (node.made || node.shift + counts.Count(node.position) != 0) {
      SetPageNumber(node.page, numberOf(node));
    }
  }
  RewriteTail(pages, prefix, old, placed);
}

}  // namespace KXDBDatasheetSvcs
