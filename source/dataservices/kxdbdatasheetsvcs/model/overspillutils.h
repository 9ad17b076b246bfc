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

class MainContext;

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
  explicit OverspillUtils(MainContext* owner) : m_pOwner(owner) {}
  OverspillUtils(const OverspillUtils&) = delete;
  OverspillUtils& operator=(const OverspillUtils&) = delete;

  MainContext* Owner() const { return m_pOwner; }

  // Appends the page, then each page it continues in turn, to `chain` (the
  // page first, the head last), and gives the page's immediate predecessor,
  // or the page itself when it continues none. A null page: E_POINTER.
  void GetOverspillFrom(IKXQObjectPtr& previous, IKXQObject* page, ComPtrArray<IKXQObject>& chain);
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

  // ---- The overspill run (datasheetoverspill.cpp) -------------------------
  //
  // A run creates the overspill pages a page needs and registers them. Its
  // caller sets the datasheet and the mode: 1 "DatasheetOverspill" (one new
  // page per overspill attribute; a page already continued only raises a
  // page event), 2 document creation (pages until the vector fits, no page
  // triggers), 3 the field-object messages, 4 the "Overspill" trigger
  // callback (which also places the vector's entries on the pages walked).
  // A mode below 1 does nothing. Failures are raised as `KXComException`.

  // One page's pass: S_FALSE when there is nothing to do.
  HRESULT CreatePageOverspill(IKXQObject* page);
  // A pass over every current page, the last first. S_FALSE when disabled.
  HRESULT CreateOverspillPages();
  // The pages vector attribute `name` of the object at data view `view`
  // needs, made from `target` and linked behind `page`.
  void OverspillAttribute(IKXQObject* page, IKXQClassView* view, const OLECHAR* name,
                          IKXQTemplatePage* target);
  // Makes one page from `target`, appends it to the created pages and links
  // it as the page's "OverspillTo".
  void CreateOverspillPage(IKXQObject* page, IKXQTemplatePage* target, IKXQObjectPtr& created);
  // The route nodes of attribute `name` on `page` equivalent to `nodes`.
  void MapRouteNodes(IKXQObject* page, const ComPtrArray<IKXQClassView>& nodes,
                     IKXQTemplatePage* target, const OLECHAR* name,
                     ComPtrArray<IKXQClassView>& mapped);
  void FindRouteNodes(IKXQClassView* view, const OLECHAR* name, ComPtrArray<IKXQClassView>& nodes);
  // The number of slots for attribute `name` on the pages in front of
  // `page` in its chain.
  int32_t CountChainCapacity(IKXQObject* page, const ComPtrArray<IKXQClassView>& nodes,
                             const OLECHAR* name);
  // Mode 4: the vector's entries placed on the page's route nodes.
  void PlaceVectorEntries(IKXQObject* page, const ComPtrArray<IKXQClassView>& nodes,
                          const OLECHAR* name, const ComPtrArray<IKXQObject>& entries);
  // Triggers (unless mode 2), numbers behind the page the first created page
  // continues, and "NumberOfPages" of the created pages.
  HRESULT RegisterNewPages();

  IKXQObjectPtr m_datasheet;
  IKXQObjectPtr m_primary;     // of the page in work
  IKXQTemplatePtr m_template;  // of the page in work
  int32_t m_mode = 0;
  ComPtrArray<IKXQObject> m_created;  // pages of the current pass

 private:
  MainContext* m_pOwner;
};
