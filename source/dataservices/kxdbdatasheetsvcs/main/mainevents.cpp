// Main's change-event launches: make the event, merge it into a pending one
// of the same key, or address it to the datasheet's users and post it.
#include <memory>
#include <new>

#include "com/wstr.h"
#include "events/changeevents.h"
#include "kxcomexception.h"
#include "kxstoreptrs.h"
#include "kxvalueutils.h"
#include "main/main.h"
#include "model/preservederrorinfo.h"
#include "variantutil.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/main";
constexpr FrameOptions kSilentFrame{.file = kFile, .silent = true};

struct SafeArrayDeleter {
  void operator()(SAFEARRAY* array) const { SafeArrayDestroy(array); }
};
using OwnedSafeArray = std::unique_ptr<SAFEARRAY, SafeArrayDeleter>;

int32_t ObjectId(KXComException& ctx, IKXQObject* object) {
  if (object == nullptr) return 0;
  LONG id = 0;
  KX_CHECK(ctx, object->get_Id(&id));
  return id;
}

constexpr size_t kMostKeptUserTables = 64;

// The user a row of a datasheet's user table names, or null when the row
// holds no named item.
_com_ptr_t<IKXQNamedItem> NamedUserOf(const _variant_t& user) {
  const VARIANT& resolved = ResolveVariant(user);
  IUnknown* unknown =
      resolved.vt == VT_UNKNOWN || resolved.vt == VT_DISPATCH ? resolved.punkVal : nullptr;
  _com_ptr_t<IKXQNamedItem> named;
  if (unknown == nullptr || FAILED(unknown->QueryInterface(kx_uuidof<IKXQNamedItem>(),
                                                           reinterpret_cast<void**>(&named)))) {
    return nullptr;
  }
  return named;
}

// The stamp of the datasheet's changes that are not of a value (the user
// table's among them): the stamp of a name no class defines.
bool ReadOtherStamp(IKXQObject* datasheet, LONGLONG* stamp) {
  static const _bstr_t kNoAttribute(u"");
  _com_ptr_t<IKXQValueStamps> stamped;
  return SUCCEEDED(datasheet->QueryInterface(kx_uuidof<IKXQValueStamps>(),
                                             reinterpret_cast<void**>(&stamped))) &&
         SUCCEEDED(stamped->GetValueStamp(kNoAttribute, stamp));
}

// An element of the pending-events array as IKXQApplicationEvent.
_com_ptr_t<IKXQApplicationEvent> PendingEventAt(KXComException& ctx, SAFEARRAY* array, VARTYPE type,
                                                LONG index) {
  IUnknown* unknown = nullptr;
  if (type == VT_VARIANT) {
    _variant_t element;
    KX_CHECK(ctx, SafeArrayGetElement(array, &index, &element));
    KX_CHECK(ctx, VariantChangeType(&element, &element, 0, VT_UNKNOWN));
    unknown = element.punkVal;
    if (unknown != nullptr) unknown->AddRef();
  } else {
    KX_CHECK(ctx, SafeArrayGetElement(array, &index, &unknown));
  }
  _com_ptr_t<IUnknown> held(unknown, false);
  _com_ptr_t<IKXQApplicationEvent> event;
  if (held)
    KX_CHECK(ctx, held->QueryInterface(kx_uuidof<IKXQApplicationEvent>(),
                                       reinterpret_cast<void**>(&event)));
  return event;
}

// Merges `event` into `pending` when that is one of this module's events
// (another service's is skipped) and has key `key`; true when it did.
bool MergeInto(KXComException& ctx, IKXQApplicationEvent* pending, const OLECHAR* key,
               IDatasheetEvent* event) {
  _com_ptr_t<IDatasheetEvent> mine;
  if (FAILED(
          pending->QueryInterface(kx_uuidof<IDatasheetEvent>(), reinterpret_cast<void**>(&mine))))
    return false;
  const OLECHAR* pendingKey = mine->Key();
  if (pendingKey == nullptr || kx_wcscmp(pendingKey, key) != 0) return false;
  KX_CHECK(ctx, mine->Merge(event));
  return true;
}

// The launch steps shared by the six kinds. `make(id)` allocates the event
// (count 0) for the target's id, or gives null when out of memory.
template <class Make>
HRESULT Launch(Main& main, const OLECHAR* method, IKXQObject* object, bool isDatasheet,
               int32_t status, Make make) {
  return ServeRequest(method, kSilentFrame, [&](KXComException& ctx) {
    const int32_t id = ObjectId(ctx, object);
    IKXQObjectPtr datasheet;
    if (isDatasheet) {
      datasheet = object;
    } else {
      if (object == nullptr) return S_OK;
      KX_CHECK(ctx, object->GetOwner(&datasheet, 0));
      if (!datasheet) return S_OK;
    }
    KXQApplicationEventImpl* event = make(id);
    if (event == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_OUTOFMEMORY, nullptr);
    IKXQApplicationEvent* face = nullptr;
    // Gives the launcher the event's one reference; it cannot fail.
    (void)event->QueryInterface(kx_uuidof<IKXQApplicationEvent>(), reinterpret_cast<void**>(&face));
    const _com_ptr_t<IKXQApplicationEvent> held(face, false);
    main.PostEvent(event, datasheet, status);
    return S_OK;
  });
}

}  // namespace

HRESULT Main::LaunchDatasheetEvent(IKXQObject* datasheet, int32_t status) {
  return Launch(*this, u"Main::LaunchDatasheetEvent", datasheet, true, status, [&](int32_t id) {
    return static_cast<KXQApplicationEventImpl*>(new (std::nothrow)
                                                     KXDatasheetEvent(m_pApplication, id, status));
  });
}

HRESULT Main::LaunchPageEvent(IKXQObject* page, int32_t status) {
  return Launch(*this, u"Main::LaunchPageEvent", page, false, status, [&](int32_t id) {
    return static_cast<KXQApplicationEventImpl*>(new (std::nothrow) KXPageEvent(this, id, status));
  });
}

HRESULT Main::LaunchDataFieldEvent(IKXQObject* page, int32_t field, int32_t status, bool refresh) {
  return Launch(*this, u"Main::LaunchDataFieldEvent", page, false, status, [&](int32_t id) {
    auto* event = new (std::nothrow) KXDataFieldEvent(this, id, status, field, refresh);
    if (event != nullptr) event->SetSettledWalk(std::move(m_launchWalk));
    return static_cast<KXQApplicationEventImpl*>(event);
  });
}

HRESULT Main::LaunchUnitFieldEvent(IKXQObject* page, int32_t unit, int32_t status) {
  return Launch(*this, u"Main::LaunchUnitFieldEvent", page, false, status, [&](int32_t id) {
    return static_cast<KXQApplicationEventImpl*>(
        new (std::nothrow) KXUnitFieldEvent(m_pApplication, id, status, unit));
  });
}

HRESULT Main::LaunchAnnotationFieldEvent(IKXQObject* page, int32_t annotation, int32_t status) {
  return Launch(*this, u"Main::LaunchAnnotationFieldEvent", page, false, status, [&](int32_t id) {
    return static_cast<KXQApplicationEventImpl*>(
        new (std::nothrow) KXAnnotationFieldEvent(m_pApplication, id, status, annotation));
  });
}

HRESULT Main::LaunchQualifierEvent(IKXQObject* page, int32_t qualifier, int32_t status) {
  return Launch(*this, u"Main::LaunchQualifierEvent", page, false, status, [&](int32_t id) {
    return static_cast<KXQApplicationEventImpl*>(
        new (std::nothrow) KXQualifierEvent(m_pApplication, id, status, qualifier));
  });
}

void Main::PostEvent(KXQApplicationEventImpl* event, IKXQObject* datasheet, int32_t status) {
  KXComException ctx = KXComException::Silent(u"Main::PostEvent");
  CheckPointerArgument(ctx, event);
  if (m_heldEvents != nullptr) {
    m_heldEvents->Hold(event,
                       _com_ptr_t<IKXQApplicationEvent>(static_cast<IKXQApplicationEvent*>(event)),
                       datasheet, status);
    return;
  }
  if (MergeWithPendingEvent(event)) return;
  CheckPointerArgument(ctx, datasheet);
  CheckPointerArgument(ctx, m_pApplication);

  if (AddKeptRecipients(event, datasheet, status)) {
    if (event->Recipients().GetCount() == 0) return;
    KX_CHECK(ctx, m_pApplication->PostEvent(static_cast<IKXQApplicationEvent*>(event)));
    return;
  }
  LONGLONG stamp = 0;
  bool stamped = false;
  {
    const PreservedErrorInfo unchanged;
    stamped = ReadOtherStamp(datasheet, &stamp);
  }
  SAFEARRAY* table = nullptr;
  KX_CHECK(ctx, datasheet->get_Users(&table));
  if (table == nullptr) {
    KeepUsers(datasheet, stamped, stamp, nullptr);
    return;
  }
  const OwnedSafeArray owned(table);
  VariantUtil::SafeArrayMatrix users;
  KX_CHECK(ctx, users.Attach(table, false));
  if (users.Vartype() != VT_VARIANT) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_TYPEMISMATCH,
                            u"The user table of the datasheet is not an array of VARIANT");
  }
  for (int32_t j = users.LowerBound2(); j < users.LowerBound2() + users.Count2(); ++j) {
    LONG statusCell[2] = {users.LowerBound1() + 1, j};
    _variant_t cell;
    KX_CHECK(ctx, SafeArrayGetElement(table, statusCell, &cell));
    LONG userStatus = 0;
    KX_CHECK(ctx, VariantToLong(cell, &userStatus, true));
    if (userStatus != status) continue;
    LONG userCell[2] = {users.LowerBound1(), j};
    _variant_t user;
    KX_CHECK(ctx, SafeArrayGetElement(table, userCell, &user));
    // A row that names no user is the host's mistake; it addresses nobody.
    const _com_ptr_t<IKXQNamedItem> named = NamedUserOf(user);
    if (!named) continue;
    BSTR name = nullptr;
    KX_CHECK(ctx, named->get_Name(&name));
    const _bstr_t heldName(name, false);
    event->AddRecipient(heldName);
  }
  users.Release();
  KeepUsers(datasheet, stamped, stamp, table);
  if (event->Recipients().GetCount() == 0) return;
  KX_CHECK(ctx, m_pApplication->PostEvent(static_cast<IKXQApplicationEvent*>(event)));
}

bool Main::AddKeptRecipients(KXQApplicationEventImpl* event, IKXQObject* datasheet,
                             int32_t status) {
  const auto found = m_keptUsers.find(datasheet);
  if (found == m_keptUsers.end()) return false;
  LONGLONG stamp = 0;
  {
    const PreservedErrorInfo unchanged;
    if (!ReadOtherStamp(datasheet, &stamp) || stamp != found->second.stamp) {
      m_keptUsers.erase(found);
      return false;
    }
  }
  for (const KeptUser& user : found->second.users) {
    if (user.status == status) event->AddRecipient(user.name);
  }
  return true;
}

void Main::KeepUsers(IKXQObject* datasheet, bool stamped, LONGLONG stamp, SAFEARRAY* table) {
  if (!stamped) return;
  const PreservedErrorInfo unchanged;
  KeptUsers kept;
  kept.datasheet = datasheet;
  kept.stamp = stamp;
  if (table != nullptr) {
    VariantUtil::SafeArrayMatrix users;
    if (FAILED(users.Attach(table, false)) || users.Vartype() != VT_VARIANT) return;
    for (int32_t j = users.LowerBound2(); j < users.LowerBound2() + users.Count2(); ++j) {
      LONG statusCell[2] = {users.LowerBound1() + 1, j};
      LONG userCell[2] = {users.LowerBound1(), j};
      _variant_t cell;
      _variant_t user;
      KeptUser row;
      if (FAILED(SafeArrayGetElement(table, statusCell, &cell)) ||
          FAILED(VariantToLong(cell, &row.status, true)) ||
          FAILED(SafeArrayGetElement(table, userCell, &user))) {
        return;
      }
      const _com_ptr_t<IKXQNamedItem> named = NamedUserOf(user);
      if (!named) continue;
      BSTR name = nullptr;
      if (FAILED(named->get_Name(&name))) return;
      row.name = _bstr_t(name, false);
      kept.users.push_back(std::move(row));
    }
    users.Release();
  }
  if (m_keptUsers.size() >= kMostKeptUserTables) m_keptUsers.clear();
  m_keptUsers[datasheet] = std::move(kept);
}

bool Main::PageEventPending(IKXQObject* page, int32_t status) {
  if (page == nullptr || m_pApplication == nullptr) return false;
  const PreservedErrorInfo unchanged;
  try {
    KXComException ctx = KXComException::Silent(u"Main::PageEventPending");
    auto* probe = new (std::nothrow) KXPageEvent(this, ObjectId(ctx, page), status);
    if (probe == nullptr) return false;
    IKXQApplicationEvent* face = nullptr;
    (void)probe->QueryInterface(kx_uuidof<IKXQApplicationEvent>(), reinterpret_cast<void**>(&face));
    const _com_ptr_t<IKXQApplicationEvent> held(face, false);
    // A page event's merge takes nothing: this only finds one of its key.
    return MergeWithPendingEvent(probe);
  } catch (...) {
    return false;
  }
}

bool Main::MergeWithPendingEvent(IDatasheetEvent* event) {
  KXComException ctx = KXComException::Silent(u"Main::MergeWithPendingEvent");
  CheckPointerArgument(ctx, event);
  CheckPointerArgument(ctx, m_pApplication);
  const OLECHAR* key = event->Key();
  if (key == nullptr) return false;
  // The events the host holds pending now, whatever it has read of them:
  // those of the key when its pending store finds them by key, else all.
  _com_ptr_t<IKXQPendingEventLookup> lookup;
  if (SUCCEEDED(m_pApplication->QueryInterface(kx_uuidof<IKXQPendingEventLookup>(),
                                               reinterpret_cast<void**>(&lookup)))) {
    // The launches of one request mostly share a key: its text is made once.
    if (m_lookupKey.length() == 0 || kx_wcscmp(m_lookupKey, key) != 0) m_lookupKey = key;
    for (LONG i = 0;; ++i) {
      _com_ptr_t<IKXQApplicationEvent> pending;
      KX_CHECK(ctx, lookup->GetPendingEventOfKey(m_lookupKey, i, &pending));
      if (!pending) return false;
      if (MergeInto(ctx, pending, key, event)) return true;
    }
  }

  SAFEARRAY* array = nullptr;
  KX_CHECK(ctx, m_pApplication->GetPendingEvents(&array));
  if (array == nullptr) return false;
  const OwnedSafeArray owned(array);
  const VARTYPE type = VariantUtil::GetSafeArrayVartype(array);
  if (SafeArrayGetDim(array) != 1 ||
      (type != VT_DISPATCH && type != VT_VARIANT && type != VT_UNKNOWN)) {
    return false;
  }
  LONG lower = 0;
  LONG upper = -1;
  KX_CHECK(ctx, SafeArrayGetLBound(array, 1, &lower));
  KX_CHECK(ctx, SafeArrayGetUBound(array, 1, &upper));
  for (LONG i = lower; i <= upper; ++i) {
    const _com_ptr_t<IKXQApplicationEvent> pending = PendingEventAt(ctx, array, type, i);
    if (pending && MergeInto(ctx, pending, key, event)) return true;
  }
  return false;
}
