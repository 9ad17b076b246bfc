#include "events/changeevents.h"

#include <new>

#include "com/dispatch_impl.h"
#include "fieldmodel/fieldutils.h"
#include "kxvalueutils.h"
#include "model/modulelock.h"

namespace {

constexpr DISPID kDispCount = 1;
constexpr DISPID kDispItem = 2;
constexpr DISPID kDispSerialize = 3;
constexpr DISPID kDispKey = 4;

KXQApplicationEventImpl* Self(void* self) { return static_cast<KXQApplicationEventImpl*>(self); }

const kx::com::DispatchEntry kEventEntries[] = {
    {u"Count", kDispCount, DISPATCH_PROPERTYGET, 0,
     [](void* self, WORD, VARIANT* const*, VARIANT* result) {
       LONG count = 0;
       const HRESULT hr = Self(self)->get_Count(&count);
       if (SUCCEEDED(hr) && result != nullptr) {
         result->vt = VT_I4;
         result->lVal = count;
       }
       return hr;
     }},
    {u"Item", kDispItem, DISPATCH_PROPERTYGET | DISPATCH_METHOD, 1,
     [](void* self, WORD, VARIANT* const* args, VARIANT* result) {
       LONG index = 0;
       if (FAILED(VariantToLong(*args[0], &index, true))) return DISP_E_TYPEMISMATCH;
       BSTR name = nullptr;
       const HRESULT hr = Self(self)->get_Item(index, &name);
       if (SUCCEEDED(hr) && result != nullptr) {
         result->vt = VT_BSTR;
         result->bstrVal = name;
       } else {
         SysFreeString(name);
       }
       return hr;
     }},
    {u"SerializeEvent", kDispSerialize, DISPATCH_METHOD, 0,
     [](void* self, WORD, VARIANT* const*, VARIANT* result) {
       BSTR message = nullptr;
       BSTR xml = nullptr;
       const HRESULT hr = Self(self)->SerializeEvent(&message, &xml);
       SysFreeString(message);
       if (SUCCEEDED(hr) && result != nullptr) {
         result->vt = VT_BSTR;
         result->bstrVal = xml;
       } else {
         SysFreeString(xml);
       }
       return hr;
     }},
    {u"Key", kDispKey, DISPATCH_PROPERTYGET, 0,
     [](void* self, WORD, VARIANT* const*, VARIANT* result) {
       if (result == nullptr) return S_OK;
       BSTR key = SysAllocString(Self(self)->Key());
       if (key == nullptr) return E_OUTOFMEMORY;
       result->vt = VT_BSTR;
       result->bstrVal = key;
       return S_OK;
     }},
};

}  // namespace

// ---------------------------------------------------------------------------
// KXQApplicationEventImpl.

KXQApplicationEventImpl::KXQApplicationEventImpl(OLECHAR letter, int32_t targetId, int32_t status)
    : m_letter(letter), m_targetId(targetId), m_status(status) {
  ModuleLock();
}

KXQApplicationEventImpl::~KXQApplicationEventImpl() { ModuleUnlock(); }

HRESULT KXQApplicationEventImpl::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, kx_uuidof<IKXQApplicationEvent>())) {
    *ppv = static_cast<IKXQApplicationEvent*>(this);
  } else if (IsEqualGUID(riid, kx_uuidof<IDatasheetEvent>())) {
    *ppv = static_cast<IDatasheetEvent*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG KXQApplicationEventImpl::AddRef() { return ++m_refs; }

ULONG KXQApplicationEventImpl::Release() {
  const ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

std::span<const kx::com::DispatchEntry> KXQApplicationEventImpl::dispatch_entries() const {
  return kEventEntries;
}

HRESULT KXQApplicationEventImpl::get_Count(LONG* count) {
  if (count == nullptr) return E_POINTER;
  *count = m_recipients.GetCount();
  return S_OK;
}

HRESULT KXQApplicationEventImpl::get_Item(LONG index, BSTR* name) {
  if (name == nullptr) return E_POINTER;
  *name = nullptr;
  if (index < 1 || index > m_recipients.GetCount()) return E_INVALIDARG;
  const OLECHAR* text = m_recipients.GetAt(index - 1);
  *name = SysAllocString(text != nullptr ? text : u"");
  return *name != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT KXQApplicationEventImpl::SerializeEvent(BSTR* messageName, BSTR* xml) {
  if (messageName == nullptr || xml == nullptr) return E_POINTER;
  *messageName = nullptr;
  *xml = nullptr;
  *messageName = SysAllocString(MessageName());
  if (*messageName == nullptr) return E_OUTOFMEMORY;
  return WriteXml(xml);
}

namespace {

// Appends `value` in decimal as "%d" writes it; returns the end.
OLECHAR* AppendDecimal(OLECHAR* at, int32_t value) {
  int64_t rest = value;
  if (rest < 0) {
    *at++ = u'-';
    rest = -rest;
  }
  OLECHAR digits[12];
  int count = 0;
  do {
    digits[count++] = static_cast<OLECHAR>(u'0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  while (count > 0) *at++ = digits[--count];
  return at;
}

}  // namespace

const OLECHAR* KXQApplicationEventImpl::Key() {
  if (m_key.Get() == nullptr || m_key.Get()[0] == 0) {
    // The letter, the status and the target's id: "F1 42".
    OLECHAR text[1 + 11 + 1 + 11 + 1];
    OLECHAR* at = text;
    *at++ = m_letter;
    at = AppendDecimal(at, m_status);
    *at++ = u' ';
    at = AppendDecimal(at, m_targetId);
    *at = 0;
    m_key.Assign(text);
  }
  return m_key.Get();
}

HRESULT KXQApplicationEventImpl::Merge(IDatasheetEvent*) { return S_OK; }

HRESULT KXQApplicationEventImpl::Detach(SortedIdArray* ids) {
  return ids == nullptr ? E_POINTER : S_OK;
}

// ---------------------------------------------------------------------------
// Field-level events.

KXFieldLevelEvent::KXFieldLevelEvent(OLECHAR letter, int32_t targetId, int32_t status, int32_t id)
    : KXQApplicationEventImpl(letter, targetId, status) {
  m_ids.Add(id);
}

HRESULT KXFieldLevelEvent::Merge(IDatasheetEvent* other) {
  if (other == nullptr) return E_POINTER;
  if (other == static_cast<IDatasheetEvent*>(this)) return S_OK;
  SortedIdArray taken;
  const HRESULT hr = other->Detach(&taken);
  if (FAILED(hr)) return hr;
  try {
    for (int32_t i = 0; i < taken.GetCount(); ++i) m_ids.Add(taken.GetAt(i));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT KXFieldLevelEvent::Detach(SortedIdArray* ids) {
  if (ids == nullptr) return E_POINTER;
  ids->RemoveAll();
  ids->Swap(m_ids);
  return S_OK;
}

// ---------------------------------------------------------------------------
// The six kinds.

KXDatasheetEvent::KXDatasheetEvent(IKXQApplication* application, int32_t datasheetId,
                                   int32_t status)
    : KXQApplicationEventImpl(u'D', datasheetId, status), m_application(application) {}

KXPageEvent::KXPageEvent(MainContext* main, int32_t pageId, int32_t status)
    : KXQApplicationEventImpl(u'P', pageId, status), m_main(main) {}

KXDataFieldEvent::KXDataFieldEvent(MainContext* main, int32_t pageId, int32_t status, int32_t field,
                                   bool refresh)
    : KXFieldLevelEvent(u'F', pageId, status, field), m_main(main), m_refresh(refresh) {}

HRESULT KXDataFieldEvent::Merge(IDatasheetEvent* other) {
  // Both events are this module's (their keys matched), so the other is a
  // data-field event too.
  const auto* field = dynamic_cast<KXDataFieldEvent*>(other);
  const HRESULT hr = KXFieldLevelEvent::Merge(other);
  if (SUCCEEDED(hr) && field != nullptr && field->m_refresh) m_refresh = true;
  if (SUCCEEDED(hr) && field != nullptr) {
    for (const auto& [key, walk] : field->m_settledWalks) m_settledWalks[key] = walk;
  }
  return hr;
}

void KXDataFieldEvent::SetSettledWalk(std::shared_ptr<const FieldUtils::SettledWalk> walk) {
  if (walk) {
    const IKXQTemplateField* key = walk->field;
    m_settledWalks[key] = std::move(walk);
  }
}

KXUnitFieldEvent::KXUnitFieldEvent(IKXQApplication* application, int32_t pageId, int32_t status,
                                   int32_t unit)
    : KXFieldLevelEvent(u'U', pageId, status, unit), m_application(application) {}

KXAnnotationFieldEvent::KXAnnotationFieldEvent(IKXQApplication* application, int32_t pageId,
                                               int32_t status, int32_t annotation)
    : KXFieldLevelEvent(u'A', pageId, status, annotation), m_application(application) {}

KXQualifierEvent::KXQualifierEvent(IKXQApplication* application, int32_t pageId, int32_t status,
                                   int32_t qualifier)
    : KXFieldLevelEvent(u'Q', pageId, status, qualifier), m_application(application) {}
