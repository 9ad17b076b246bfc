// Read walks kept within a page load: how one walk uses the route cache
// (routecache.h). Shared by the field walk (fieldutils.cpp), which keeps
// the objects at a page's root nodes, and the read walk of a field
// (keptwalks.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "fieldmodel/routecache.h"
#include "kxstoreptrs.h"

// A read walk (of a field, or to a root node's object) that a page load
// may keep or take from the route cache, under `key` (the field or the
// node). Made before the walk: when the cache keeps walks, Find answers
// from a kept one (its reads recorded in the trigger items open now) or
// opens a collection of the walk's reads; Keep ends it and keeps the answer
// when the walk changed nothing. The collection ends also when the walk
// throws.
class KeptWalkUse {
 public:
  KeptWalkUse(IKXQObject* page, IUnknown* key, SAFEARRAY* shift);
  KeptWalkUse(const KeptWalkUse&) = delete;
  KeptWalkUse& operator=(const KeptWalkUse&) = delete;
  ~KeptWalkUse();

  // `withValue`: a walk kept with its value's reads may be taken.
  const RouteCache::KeptWalk* Find(bool withValue = false);

  // The walk succeeded with `answer`: kept when it changed nothing.
  void Keep(RouteCache::KeptWalk answer);

  // Hands the open collection over to a caller that reads on (see
  // FieldUtils::FieldValueRead); false when none is open.
  bool HandOver(_com_ptr_t<IKXQReadLog>& log, std::u16string& shift, LONG& changes);

  // Ends the collection begun last and keeps `answer` with its reads when
  // the store's data did not change since `changes`.
  static void KeepCollected(RouteCache& cache, IKXQReadLog* log, IUnknown* page, IUnknown* key,
                            const std::u16string& shift, LONG changes, RouteCache::KeptWalk answer);

  // Ends the collection begun last, keeping nothing.
  static void DropReads(IKXQReadLog* log);

  // The field's case (FieldUtils::GetFieldCase): while walks are kept, the
  // one read for the same "Cases" entry under the same change count, its
  // reads replayed; else read, and kept with its reads.
  int32_t FieldCase(IKXQTemplateField* field, bool* defined);

 private:
  RouteCache& m_cache;
  IKXQObject* m_page;
  IUnknown* m_key;
  _com_ptr_t<IKXQReadLog> m_log;
  std::u16string m_shift;
  LONG m_changes = 0;
  bool m_collecting = false;
};
