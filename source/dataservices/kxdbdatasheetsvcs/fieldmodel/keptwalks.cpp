// Walks kept for reuse: a page load's read walks of fields kept in the
// route cache, with the value a page's writer reads after a walk
// (FieldValueRead), and a value setter's settled write walks, taken by the
// read walk of the data-field event it raises.
#include "fieldmodel/keptwalks.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "com/wstr.h"
#include "fieldmodel/fieldutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "kxvalueutils.h"
#include "messagekit.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/fieldutils";
// A route's own failure is answered as the route answered it.
constexpr FrameOptions kRouteFrame{.file = kFile, .passReturnedFailure = true, .silent = true};

// The index-shift table as a key: its shape and every element, numbers and
// texts. False for a table of anything else (such a walk is not kept).
bool ShiftKey(SAFEARRAY* shift, std::u16string& key) {
  key.clear();
  if (shift == nullptr) return true;
  // The overspill chain: two dimensions of VARIANTs.
  constexpr UINT dims = 2;
  if (SafeArrayGetDim(shift) != dims) return false;
  VARTYPE type = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(shift, &type)) || type != VT_VARIANT) {
    ClearThreadErrorInfo();
    return false;
  }
  LONG lower[2] = {0, 0};
  LONG upper[2] = {-1, -1};
  for (UINT d = 0; d < dims; ++d) {
    if (FAILED(SafeArrayGetLBound(shift, d + 1, &lower[d])) ||
        FAILED(SafeArrayGetUBound(shift, d + 1, &upper[d]))) {
      ClearThreadErrorInfo();
      return false;
    }
    key += kx_format(u"%d:%d;", static_cast<int>(lower[d]), static_cast<int>(upper[d]));
  }
  LONG at[2] = {lower[0], lower[1]};
  for (at[1] = lower[1]; at[1] <= upper[1]; ++at[1]) {
    for (at[0] = lower[0]; at[0] <= upper[0]; ++at[0]) {
      _variant_t element;
      if (FAILED(SafeArrayGetElement(shift, at, &element))) {
        ClearThreadErrorInfo();
        return false;
      }
      const VARIANT& v = ResolveVariant(element);
      switch (V_VT(&v)) {
        case VT_EMPTY: key += u"e;"; break;
        case VT_I2: key += kx_format(u"i%d;", static_cast<int>(V_I2(&v))); break;
        case VT_I4: key += kx_format(u"i%d;", static_cast<int>(V_I4(&v))); break;
        case VT_INT: key += kx_format(u"i%d;", static_cast<int>(V_INT(&v))); break;
        case VT_BSTR: {
          const std::u16string_view text =
              V_BSTR(&v) != nullptr ? std::u16string_view(V_BSTR(&v), SysStringLen(V_BSTR(&v)))
                                    : std::u16string_view();
          key += kx_format(u"s%d:", static_cast<int>(text.size()));
          key += text;
          key += u';';
          break;
        }
        default: return false;
      }
    }
  }
  return true;
}

}  // namespace

KeptWalkUse::KeptWalkUse(IKXQObject* page, IUnknown* key, SAFEARRAY* shift)
    : m_cache(RouteCache::Instance()), m_page(page), m_key(key) {
  if (!m_cache.Keeping() || page == nullptr || key == nullptr) return;
  m_log = m_cache.ReadLogOf(page);
  if (!m_log) return;
  if (!ShiftKey(shift, m_shift)) {
    m_log = nullptr;
  } else if (FAILED(m_log->get_ChangeCount(&m_changes))) {
    ClearThreadErrorInfo();
    m_log = nullptr;
  }
}

KeptWalkUse::~KeptWalkUse() {
  if (m_collecting) DropReads(m_log);
}

const RouteCache::KeptWalk* KeptWalkUse::Find(bool withValue) {
  if (!m_log) return nullptr;
  const RouteCache::KeptWalk* kept = m_cache.FindWalk(m_page, m_key, m_shift, m_changes);
  if (kept != nullptr && (withValue || !kept->withValue)) {
    if (SUCCEEDED(kept->reads->Replay())) return kept;
    ClearThreadErrorInfo();
  }
  m_collecting = SUCCEEDED(m_log->BeginReads());
  if (!m_collecting) ClearThreadErrorInfo();
  return nullptr;
}

void KeptWalkUse::Keep(RouteCache::KeptWalk answer) {
  if (!m_collecting) return;
  m_collecting = false;
  KeepCollected(m_cache, m_log, m_page, m_key, m_shift, m_changes, std::move(answer));
}

bool KeptWalkUse::HandOver(_com_ptr_t<IKXQReadLog>& log, std::u16string& shift, LONG& changes) {
  if (!m_collecting) return false;
  m_collecting = false;
  log = m_log;
  shift = m_shift;
  changes = m_changes;
  return true;
}

void KeptWalkUse::KeepCollected(RouteCache& cache, IKXQReadLog* log, IUnknown* page, IUnknown* key,
                                const std::u16string& shift, LONG changes,
                                RouteCache::KeptWalk answer) {
  LONG now = 0;
  if (FAILED(log->EndReads(&answer.reads)) || FAILED(log->get_ChangeCount(&now))) {
    ClearThreadErrorInfo();
    return;
  }
  if (now != changes) return;
  answer.changes = now;
  cache.KeepWalk(page, key, shift, std::move(answer));
}

void KeptWalkUse::DropReads(IKXQReadLog* log) {
  IKXQReadSet* reads = nullptr;
  if (SUCCEEDED(log->EndReads(&reads)) && reads != nullptr) reads->Release();
}

int32_t KeptWalkUse::FieldCase(IKXQTemplateField* field, bool* defined) {
  LONG position = -1;
  // Without a case position nothing is read; a failure is the lookup's own.
  if (!m_collecting || field == nullptr || field->get_CasePosition(&position) != S_OK ||
      position < 0) {
    return FieldUtils::GetFieldCase(m_page, field, nullptr, defined);
  }
  if (const RouteCache::KeptCase* kept = m_cache.FindCase(m_page, position, m_changes)) {
    if (SUCCEEDED(kept->reads->Replay())) {
      *defined = kept->defined;
      return kept->caseId;
    }
    ClearThreadErrorInfo();
  }
  if (FAILED(m_log->BeginReads())) {
    ClearThreadErrorInfo();
    return FieldUtils::GetFieldCase(m_page, field, nullptr, defined);
  }
  struct Collecting {
    IKXQReadLog* log;
    ~Collecting() {
      if (log != nullptr) DropReads(log);
    }
  } collecting{m_log};
  RouteCache::KeptCase read;
  read.caseId = FieldUtils::GetFieldCase(m_page, field, nullptr, &read.defined);
  collecting.log = nullptr;
  LONG now = 0;
  if (FAILED(m_log->EndReads(&read.reads)) || FAILED(m_log->get_ChangeCount(&now))) {
    ClearThreadErrorInfo();
  } else if (now == m_changes) {
    read.changes = now;
    m_cache.KeepCase(m_page, position, read);
  }
  *defined = read.defined;
  return read.caseId;
}

namespace FieldUtils {

HRESULT ResolveFieldObject(IKXQObject* page, IKXQTemplateField* field, SAFEARRAY* shift,
                           VARIANT* value, IKXQFieldValue** result, FieldValueRead* valueRead) {
  return ServeRequest(u"FieldUtils::ResolveFieldObject", kRouteFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, result);
    *result = nullptr;
    // The page's trigger set-up walks what its writer walked a moment ago.
    KeptWalkUse kept(page, field, shift);
    // A caller that reads the value next may take a walk kept with its
    // value's reads: it makes those reads itself or takes them replayed.
    const bool taker = valueRead != nullptr && !valueRead->m_keeping;
    if (const RouteCache::KeptWalk* found = kept.Find(valueRead != nullptr)) {
      if (taker) valueRead->m_replayed = found->withValue;
      if (found->holder) {
        if (value != nullptr && SUCCEEDED(VariantClear(value))) {
          KX_CHECK(ctx, VariantCopy(value, &found->position));
        }
        *result = found->holder;
        (*result)->AddRef();
      }
      return S_OK;
    }
    bool defined = false;
    const int32_t caseId = kept.FieldCase(field, &defined);
    // The position is taken also for a caller that asks none: a later
    // caller may take this walk and ask it.
    _variant_t ownPosition;
    VARIANT* position = value != nullptr ? value : &ownPosition;
    HRESULT hr = S_OK;
    if (defined) hr = ResolveFieldRoute(page, field, caseId, false, shift, position, result);
    if (SUCCEEDED(hr) && *result != nullptr && valueRead != nullptr && valueRead->m_keeping &&
        kept.HandOver(valueRead->m_log, valueRead->m_shift, valueRead->m_changes)) {
      // The caller reads the value on; KeepWithValue keeps the walk.
      valueRead->m_page = page;
      valueRead->m_field = field;
      valueRead->m_holder = *result;
      valueRead->m_position = *position;
    } else if (SUCCEEDED(hr)) {
      RouteCache::KeptWalk answer;
      answer.holder = *result;
      if (*result != nullptr) answer.position = *position;
      kept.Keep(std::move(answer));
    }
    return hr;
  });
}

SettledWalkRecorder::SettledWalkRecorder(IKXQObject* page) : m_page(page) {
  if (page == nullptr ||
      FAILED(page->QueryInterface(kx_uuidof<IKXQReadLog>(), reinterpret_cast<void**>(&m_log))) ||
      FAILED(m_log->get_ChangeCount(&m_changes))) {
    ClearThreadErrorInfo();
    m_log = nullptr;
  }
}

SettledWalkRecorder::~SettledWalkRecorder() {
  if (m_open) KeptWalkUse::DropReads(m_log);
}

void SettledWalkRecorder::Begin() {
  if (!m_log) return;
  m_open = SUCCEEDED(m_log->BeginReads());
  if (m_open) return;
  ClearThreadErrorInfo();
  m_log = nullptr;
}

void SettledWalkRecorder::End(_com_ptr_t<IKXQReadSet>& reads, LONGLONG& stamp) {
  if (!m_open) return;
  m_open = false;
  if (FAILED(m_log->EndReads(&reads)) || !reads || FAILED(reads->get_LatestStamp(&stamp))) {
    ClearThreadErrorInfo();
    m_log = nullptr;
  }
}

std::shared_ptr<const SettledWalk> SettledWalkRecorder::Finish(IKXQTemplateField* field,
                                                               SAFEARRAY* shift,
                                                               const VARIANT& position,
                                                               IKXQFieldValue* holder) {
  return Settle(field, shift, position, holder, false);
}

std::shared_ptr<const SettledWalk> SettledWalkRecorder::FinishRead(IKXQTemplateField* field,
                                                                   SAFEARRAY* shift,
                                                                   const VARIANT& position,
                                                                   IKXQFieldValue* holder) {
  return Settle(field, shift, position, holder, true);
}

std::shared_ptr<const SettledWalk> SettledWalkRecorder::Settle(IKXQTemplateField* field,
                                                               SAFEARRAY* shift,
                                                               const VARIANT& position,
                                                               IKXQFieldValue* holder, bool whole) {
  auto walk = std::make_shared<SettledWalk>();
  End(walk->walkReads, walk->walkStamp);
  // A walk that created or placed anything is no read walk's answer.
  LONG now = 0;
  if (!m_log || !(whole ? walk->walkReads : m_startReads) || holder == nullptr ||
      field == nullptr || FAILED(m_log->get_ChangeCount(&now)) || now != m_changes ||
      !ShiftKey(shift, walk->shift) || FAILED(VariantCopy(&walk->position, &position))) {
    ClearThreadErrorInfo();
    return nullptr;
  }
  walk->pageId = ObjectIdOf(m_page);
  if (walk->pageId == 0) {
    ClearThreadErrorInfo();
    return nullptr;
  }
  walk->field = field;
  walk->holder = holder;
  walk->startReads = whole ? walk->walkReads : m_startReads;
  walk->startStamp = whole ? walk->walkStamp : m_startStamp;
  return walk;
}

bool TakeSettledWalk(const SettledWalk& walk, IKXQObject* page, IKXQTemplateField* field,
                     SAFEARRAY* shift, _variant_t& position, IKXQFieldValuePtr& holder) {
  if (RouteCache::Instance().Keeping() || page == nullptr || field != walk.field) return false;
  std::u16string key;
  LONGLONG startStamp = 0;
  LONGLONG walkStamp = 0;
  // A read walk's one collection is both: asked and replayed once.
  const bool one = walk.startReads == walk.walkReads;
  if (ObjectIdOf(page) != walk.pageId || !ShiftKey(shift, key) || key != walk.shift ||
      FAILED(walk.startReads->get_LatestStamp(&startStamp)) || startStamp != walk.startStamp ||
      (!one &&
       (FAILED(walk.walkReads->get_LatestStamp(&walkStamp)) || walkStamp != walk.walkStamp)) ||
      FAILED(walk.startReads->Replay()) || (!one && FAILED(walk.walkReads->Replay())) ||
      FAILED(VariantCopy(&position, &walk.position))) {
    ClearThreadErrorInfo();
    return false;
  }
  holder = walk.holder;
  return true;
}

FieldValueRead::~FieldValueRead() {
  if (m_log) KeptWalkUse::DropReads(m_log);
}

void FieldValueRead::KeepWithValue() {
  if (!m_log) return;
  const _com_ptr_t<IKXQReadLog> log = std::move(m_log);
  RouteCache::KeptWalk answer;
  answer.holder = std::move(m_holder);
  answer.position = std::move(m_position);
  answer.withValue = true;
  KeptWalkUse::KeepCollected(RouteCache::Instance(), log, m_page, m_field, m_shift, m_changes,
                             std::move(answer));
}

}  // namespace FieldUtils
