// The overspill chain: pages of one list linked by their "OverspillTo" (the
// page that continues a page) and "OverspillFrom" (the page it continues)
// attributes, and the overspill association of a template page (the
// template page that continues it and, per overspill attribute, the data
// view whose members spill over).
//
// `OverspillUtils` walks and reads such chains for one run; of the run only
// the owning service is needed here. Chain walks stop with E_FAIL "The
// overspill chain of page %d is circular" when they reach a page a second
// time (a corrupt store), instead of looping.
//
// Conventions: pages and views are borrowed; out holders receive owned
// references; failures are raised as `KXComException` at this file's source
// location unless a routine says otherwise.
#pragma once

#include <cstdint>

#include "kxstoreptrs.h"
#include "variantutil.h"

class Main;

// The name a data view answers, without leading "(", "[" and blanks and cut
// at the next of them; empty when nothing is left (a missing name).
_bstr_t GetDataViewBaseName(IKXQClassView* view);

// A VARIANT as a data view: no value (empty, null, error, a null pointer)
// gives null and S_OK; interfaces (also by reference) are queried; any other
// type DISP_E_TYPEMISMATCH. Never throws.
HRESULT VariantToObject(const VARIANT& value, IKXQClassView** view);

class OverspillUtils {
 public:
  // `owner` (may be null, not owned) is the service the run works for.
  explicit OverspillUtils(Main* owner) : m_pOwner(owner) {}
  OverspillUtils(const OverspillUtils&) = delete;
  OverspillUtils& operator=(const OverspillUtils&) = delete;

  Main* Owner() const { return m_pOwner; }

  // Appends the page, then each page it continues in turn, to `chain` (the
  // page first, the head last), and gives the page's immediate predecessor,
  // or the page itself when it continues none. A null page: E_POINTER.
  void GetOverspillFrom(IKXQObjectPtr& previous, IKXQObject* page,
                        ComPtrArray<IKXQObject>& chain);
  // The page that continues `page` (null for the last page of a chain). With
  // `raiseEvent` a page event is launched for that page. A null page:
  // E_POINTER.
  void GetOverspillTo(IKXQObjectPtr& next, IKXQObject* page, bool raiseEvent);
  // The overspill association of the page's template page: its pairs (2 x N,
  // row 1 a data view, row 2 an attribute name) attached to `pairs` (what it
  // held is let go first) and its target template page in *target (null
  // first). Without association: E_FAIL "No overspill association defined
  // for template page %ls" when `required`, else S_OK with no pairs.
  HRESULT GetOverspillAssociation(IKXQObject* page, bool required,
                                  VariantUtil::SafeArrayMatrix& pairs, IKXQTemplatePage** target);
  // Appends the sub-views of `view` whose base name equals `name` (without
  // regard to case; a missing name only equals a missing name), in order.
  HRESULT FindMembersByName(IKXQClassView* view, const OLECHAR* name,
                            ComPtrArray<IKXQClassView>& members);
  // The members of overspill attribute `name` over the whole chain of the
  // page, head page first: a 2 x N SAFEARRAY (lower bounds 1) of
  // `elementType` (VT_VARIANT or VT_DISPATCH) in *matrix, column j holding a
  // member data view (row 1) and its page (row 2). An array *matrix held is
  // destroyed first; it stays null when the chain has fewer than two pages
  // or no member. The caller destroys the array. Without owner: S_FALSE.
  HRESULT GetOverspillChainMembers(IKXQObject* page, const OLECHAR* name, SAFEARRAY** matrix,
                                   VARTYPE elementType = VT_VARIANT);
  // The page's source chain: a 2 x 1 SAFEARRAY of VARIANT (lower bounds 1)
  // with the page's own overspill attribute name (VT_BSTR, row 1) and the
  // number of member slots on the pages in front of it (VT_I4, row 2), both
  // empty when the page has no name of its own or the count is 0. *chain
  // stays null for a page that continues no other page. A page of the chain
  // whose association has more than one pair fails with E_FAIL "Error: More
  // than one overspill attribute has been defined in template."; no array
  // is handed out on failure. Without owner: S_FALSE. The caller destroys
  // the array.
  HRESULT GetOverspillSourceChain(IKXQObject* page, SAFEARRAY** chain);

 private:
  Main* m_pOwner;
};
