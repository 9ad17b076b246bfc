// The page list of a datasheet, shared by the page messages, the loader,
// the triggers and the summary messages: pages placed among the current
// pages and renumbered, and the name a page is shown with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "com/comutil.h"
#include "kxstoreptrs.h"

namespace KXDBDatasheetSvcs {

// A page's "PageNumber"; 0 when it has none.
int32_t PageNumberOf(IKXQObject* page);
void SetPageNumber(IKXQObject* page, int32_t number);

// Places `page` directly before or after `anchor` in the datasheet's
// current pages (appended when `anchor` is none or not among them), moving
// it when it stands there already. Page numbers shift relative to their
// old values: gaps survive. A page placed relative to itself stays where
// it is.
void RenumberPages(IKXQObject* datasheet, IKXQObject* page, IKXQObject* anchor, bool before);
// The same for several pages at once, kept together in the given order, in
// one pass over the list.
void PlacePages(IKXQObject* datasheet, const std::vector<IKXQObject*>& block, IKXQObject* anchor,
                bool before);

// New pages placed one after another, each as RenumberPages would place it
// at that moment, kept in memory and written together: one rewrite of the
// page list from the first position that changes and one write of each
// "PageNumber" that changes, so that n placements cost n log n rather than
// n times the list. A page that stands in the list already is moved.
class PagePlacements {
 public:
  // `page` directly before or after `anchor`; at the end when `anchor` is
  // none or neither a current page nor a page placed here before.
  void Place(IKXQObject* page, IKXQObject* anchor, bool before);
  // Writes the placements into `datasheet`'s current pages and forgets
  // them. Throws KXComException.
  void Write(IKXQObject* datasheet);

 private:
  struct Step {
    IKXQObjectPtr page;
    IKXQObjectPtr anchor;
    bool before;
  };
  std::vector<Step> m_steps;
};

// The text shown for a page: its "Name" formatted with its "PageNumber"
// (FormatPageName: a name never acts as a format); an empty name shows the
// number (0 when unset), or "Unnamed" for the number -1. *name: a new BSTR
// the caller frees. A null page raises E_POINTER.
void GetPageDisplayName(IKXQObject* page, BSTR* name);
// The same text from the page's "Name" and "PageNumber" values as read
// (IKXQValueReads; null: the page's class lacks the attribute). *stored is
// taken over (left empty). False when the number is no integer, which the
// usual reads refuse.
bool PageDisplayNameFrom(VARIANT* stored, const VARIANT* number, std::u16string& shown);

}  // namespace KXDBDatasheetSvcs
