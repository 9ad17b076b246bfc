// Page layout: which object stands at which template node of a page.
// "NodeIndices" (entry at node index + 1) holds 1-based positions in the
// parallel list "NodeObjects"; rows of a continuous list follow the root
// node's position.
#include <iterator>
#include <utility>
#include <vector>

#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "model/kxdbdatasheetutils.h"

namespace {

const OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/kxdbdatasheetutils";

struct PageLists {
  IKXQAttributePtr objects;
  IKXQAttributePtr indices;
};

void GetPageLists(KXComException& ctx, IKXQObject* page, PageLists& lists) {
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  KXDBDatasheetSvcs::GetPageList(page, u"NodeObjects", lists.objects);
  KXDBDatasheetSvcs::GetPageList(page, u"NodeIndices", lists.indices);
  if (!lists.objects || !lists.indices) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  }
}

int32_t NodeIndexOf(KXComException& ctx, IKXQClassView* node) {
  if (node == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  LONG index = -1;
  KX_CHECK(ctx, node->get_NodeIndex(&index));
  return index;
}

void ObjectAtNodeOffset(IKXQObjectPtr& object, IKXQObject* page, int32_t row, IKXQClassView* node) {
  KXComException ctx = KXComException::Silent();
  object = nullptr;
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  const int32_t index = NodeIndexOf(ctx, node);
  PageLists lists;
  GetPageLists(ctx, page, lists);
  bool hasValue = false;
  const int32_t position =
      KXDBDatasheetSvcs::GetAttributeIntegerAt(lists.indices, index + 1, &hasValue);
  if (!hasValue || position <= 0) return;
  // A row before the first position (position 0 would read the list's whole
  // value) or past the 32-bit range names no object.
  const int64_t target = static_cast<int64_t>(position) + row;
  if (target < 1 || target > INT32_MAX) return;
  GetAttributeAsObject(lists.objects, static_cast<int32_t>(target), object);
}

}  // namespace

namespace KXDBDatasheetSvcs {

namespace {

thread_local PageListsScope* g_pageLists = nullptr;

constexpr const OLECHAR* kSharedLists[] = {u"NodeObjects", u"NodeIndices", u"Cases", u"Qualifiers"};

}  // namespace

PageListsScope::PageListsScope(IKXQObject* page) : m_page(page), m_outer(g_pageLists) {
  g_pageLists = this;
}

PageListsScope::~PageListsScope() { g_pageLists = m_outer; }

void GetPageList(IKXQObject* page, const OLECHAR* name, IKXQAttributePtr& list) {
  PageListsScope* scope = g_pageLists;
  if (scope != nullptr && page != nullptr && scope->m_page == page) {
    static_assert(std::size(kSharedLists) == PageListsScope::kLists);
    for (int i = 0; i < PageListsScope::kLists; ++i) {
      // The names asked are nearly always these very literals.
      const OLECHAR* shared = kSharedLists[i];
      if (name != shared &&
          (name == nullptr || name[0] != shared[0] || kx_wcscmp(name, shared) != 0))
        continue;
      if (!scope->m_found[i]) {
        GetAttributeInterface(page, name, scope->m_lists[i]);
        scope->m_found[i] = true;
      }
      list = scope->m_lists[i];
      return;
    }
  }
  GetAttributeInterface(page, name, list);
}

namespace {

// The objects found at nodes while a TemplateLookupScope lives, by page and
// node index. Each entry holds a reference to its page, so that no other
// object takes its address while they are kept. A scope asks about one
// document's few pages: a short list, the thread's, emptied and reused.
struct KeptNodeObject {
  IKXQObjectPtr page;
  int32_t index = 0;
  IKXQObjectPtr object;
};
using KeptNodeObjects = std::vector<KeptNodeObject>;
thread_local KeptNodeObjects t_keptNodeObjects;
thread_local KeptNodeObjects* g_keptNodeObjects = nullptr;

}  // namespace

void KeepNodeObjects(bool keep) {
  t_keptNodeObjects.clear();
  g_keptNodeObjects = keep ? &t_keptNodeObjects : nullptr;
}

void GetNodeObject(IKXQObjectPtr& object, IKXQObject* page, IKXQClassView* node) {
  if (g_keptNodeObjects == nullptr || page == nullptr || node == nullptr) {
    ObjectAtNodeOffset(object, page, 0, node);
    return;
  }
  KXComException ctx = KXComException::Silent();
  const int32_t index = NodeIndexOf(ctx, node);
  for (const KeptNodeObject& kept : *g_keptNodeObjects) {
    if (kept.page.GetInterfacePtr() == page && kept.index == index) {
      object = kept.object;
      return;
    }
  }
  // A failure is raised and not kept: the next question asks again.
  ObjectAtNodeOffset(object, page, 0, node);
  KeptNodeObject& kept = g_keptNodeObjects->emplace_back();
  kept.page = page;
  kept.index = index;
  kept.object = object;
}

void GetNodeObjectAtRow(IKXQObjectPtr& object, IKXQObject* page, int32_t row, IKXQClassView* node) {
  ObjectAtNodeOffset(object, page, row, node);
}

int32_t GetObjectNodeIndex(IKXQObject* page, IKXQObject* object, int32_t* nodeIndex) {
  KXComException ctx = KXComException::Silent();
  if (nodeIndex != nullptr) *nodeIndex = -1;
  PageLists lists;
  GetPageLists(ctx, page, lists);
  int32_t position = -1;
  const int32_t count = GetAttributeCount(lists.objects);
  for (int32_t p = 1; p <= count; ++p) {
    IKXQObjectPtr value;
    GetAttributeAsObject(lists.objects, p, value);
    if (value && value.GetInterfacePtr() == object) {
      position = p;
      break;
    }
  }
  if (position < 0) return -1;
  const int32_t indexCount = GetAttributeCount(lists.indices);
  for (int32_t j = 1; j <= indexCount; ++j) {
    if (GetAttributeIntegerAt(lists.indices, j) == position) {
      if (nodeIndex != nullptr) *nodeIndex = j - 1;
      break;
    }
  }
  return position;
}

void FindObjectInNodeRows(IKXQObjectPtr& found, IKXQObject* page, IKXQObject* object,
                          IKXQClassView* node) {
  KXComException ctx = KXComException::Silent();
  found = nullptr;
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  const int32_t index = NodeIndexOf(ctx, node);
  PageLists lists;
  GetPageLists(ctx, page, lists);
  bool hasValue = false;
  const int32_t start = GetAttributeIntegerAt(lists.indices, index + 1, &hasValue);
  if (!hasValue || start <= 0 || start > GetAttributeCount(lists.objects)) return;
  // Most questions are about objects the page does not hold at all.
  if (object != nullptr && !ListHoldsObject(lists.objects, object)) return;
  LONG wantedId = 0;
  if (object != nullptr) KX_CHECK(ctx, object->get_Id(&wantedId));
  for (int32_t p = start; p <= GetAttributeCount(lists.objects); ++p) {
    IKXQObjectPtr value;
    GetAttributeAsObject(lists.objects, p, value);
    LONG id = 0;
    if (value) KX_CHECK(ctx, value->get_Id(&id));
    if (id == wantedId) {
      found = object;
      return;
    }
  }
}

bool FindListedNodeObject(IKXQObject* page, IKXQValueReads* reads, int32_t index,
                          const VARIANT* position, const VARIANT* firstObject,
                          IKXQObjectPtr& object) {
  object = nullptr;
  if (page == nullptr || reads == nullptr) return false;
  if (g_keptNodeObjects != nullptr) {
    for (const KeptNodeObject& kept : *g_keptNodeObjects) {
      if (kept.page.GetInterfacePtr() == page && kept.index == index) {
        object = kept.object;
        return true;
      }
    }
  }
  // The two reads GetNodeObject makes, without an attribute object for
  // each list. Whatever is not the plain case is left to it.
  static const _bstr_t kNodeIndices(u"NodeIndices");
  static const _bstr_t kNodeObjects(u"NodeObjects");
  BSTR names[] = {kNodeIndices};
  VARIANT_BOOL defined = VARIANT_TRUE;
  VARIANT at;
  VariantInit(&at);
  at.vt = VT_I4;
  at.lVal = index + 1;
  _variant_t read;
  if (position == nullptr) {
    if (FAILED(reads->ReadValues(1, names, at, &defined, &read))) return false;
    position = &read;
  }
  if (defined == VARIANT_FALSE || position->vt != VT_I4 || position->lVal <= 0) return false;
  _variant_t value;
  if (position->lVal != 1 || firstObject == nullptr) {
    names[0] = kNodeObjects;
    at.lVal = position->lVal;
    if (FAILED(reads->ReadValues(1, names, at, &defined, &value)) || defined == VARIANT_FALSE) {
      return false;
    }
    firstObject = &value;
  }
  IKXQObject* found = nullptr;
  if (FAILED(VariantToObjectPtr(*firstObject, &found))) return false;
  object.Attach(found);
  if (g_keptNodeObjects == nullptr) return true;
  KeptNodeObject& kept = g_keptNodeObjects->emplace_back();
  kept.page = page;
  kept.index = index;
  kept.object = object;
  return true;
}

}  // namespace KXDBDatasheetSvcs
