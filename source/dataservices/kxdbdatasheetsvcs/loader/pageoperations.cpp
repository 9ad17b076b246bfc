// The page list of a datasheet: pages placed and renumbered, and the name
// a page is shown with.
#include "loader/pageoperations.h"

#include <unordered_set>
#include <vector>

#include "com/comutil.h"
#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "model/kxdbdatasheetutils.h"
#include "variantutil.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/pages";

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

void GetPageDisplayName(IKXQObject* page, BSTR* name) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::GetPageDisplayName");
  CheckPointerArgument(ctx, name);
  *name = nullptr;
  CheckPointerArgument(ctx, page);
  _bstr_t stored;
  IKXQAttributePtr nameAttribute;
  GetAttributeInterfaceAt(page, u"Name", nameAttribute, -1);
  if (nameAttribute) GetAttributeValueString(nameAttribute, stored);
  const int32_t number = PageNumberOf(page);
  std::u16string shown;
  if (stored.length() > 0) {
    shown = FormatPageName(stored.view(), number);
  } else {
    shown = number != -1 ? kx_ltow(number) : std::u16string(u"Unnamed");
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
  // the walk starts there: placing after the last page reads no other. The
  // store finds them in one call each; a large block is looked for by the
  // walk itself.
  int32_t first = count + 1;
  constexpr size_t kLookedUp = 8;
  if (block.size() <= kLookedUp) {
    const auto nearer = [&](IKXQObject* object) {
      LONG at = 0;
      KX_CHECK(ctx, pages->FindObject(object, 1, &at));
      if (at > 0 && at < first) first = at;
    };
    nearer(nullptr);
    if (anchor != nullptr) nearer(anchor);
    for (IKXQObject* page : block) nearer(page);
  } else {
    first = 1;
  }
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

  // Only the tail from the first changed position is taken out, in one
  // call, and put back. Each page leaves this list only: unlinking it would
  // take it out of whichever list holds it last (a page may stand in
  // several), and would search the list for every page.
  size_t same = 0;
  while (same < old.size() && same < placed.size() &&
         old[same].GetInterfacePtr() == placed[same].GetInterfacePtr()) {
    ++same;
  }
  ResizeAttributeValues(pages, prefix + static_cast<int32_t>(same));
  for (size_t k = same; k < placed.size(); ++k) {
    SetAttributeObjectAt(pages, prefix + static_cast<int32_t>(k + 1), placed[k]);
  }
}

}  // namespace KXDBDatasheetSvcs
