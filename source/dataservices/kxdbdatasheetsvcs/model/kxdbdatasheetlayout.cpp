// Page layout: which object stands at which template node of a page.
// "NodeIndices" (entry at node index + 1) holds 1-based positions in the
// parallel list "NodeObjects"; rows of a continuous list follow the root
// node's position.
#include <iterator>
#include <map>
#include <utility>

#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
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
      if (kx_wcscmp(name, kSharedLists[i]) != 0) continue;
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
// object takes its address while they are kept.
struct KeptNodeObject {
  IKXQObjectPtr page;
  IKXQObjectPtr object;
};
using KeptNodeObjects = std::map<std::pair<IKXQObject*, int32_t>, KeptNodeObject>;
thread_local KeptNodeObjects* g_keptNodeObjects = nullptr;

}  // namespace

void KeepNodeObjects(bool keep) {
  delete g_keptNodeObjects;
  g_keptNodeObjects = keep ? new KeptNodeObjects() : nullptr;
}

void GetNodeObject(IKXQObjectPtr& object, IKXQObject* page, IKXQClassView* node) {
  if (g_keptNodeObjects == nullptr || page == nullptr || node == nullptr) {
    ObjectAtNodeOffset(object, page, 0, node);
    return;
  }
  KXComException ctx = KXComException::Silent();
  const auto key = std::make_pair(page, NodeIndexOf(ctx, node));
  const auto found = g_keptNodeObjects->find(key);
  if (found != g_keptNodeObjects->end()) {
    object = found->second.object;
    return;
  }
  // A failure is raised and not kept: the next question asks again.
  ObjectAtNodeOffset(object, page, 0, node);
  KeptNodeObject& kept = (*g_keptNodeObjects)[key];
  kept.page = page;
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

}  // namespace KXDBDatasheetSvcs
