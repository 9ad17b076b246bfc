// Change events: the small COM objects that tell the clients what a request,
// trigger callback or database event changed. `Main`'s launch operations
// (mainevents.cpp) create one per changed thing, merge it into a pending
// event of the same key or address it to the datasheet's users and post it
// to the host application, which reads it later through
// `IKXQApplicationEvent` (recipients, then its message name and XML).
//
// Six kinds, one class each:
//   class                    key  TargetId     ids              owner kept
//   KXDatasheetEvent          D   datasheet    -                application (ref)
//   KXPageEvent               P   page         -                Main (no ref)
//   KXDataFieldEvent          F   page         field numbers    Main (no ref)
//   KXUnitFieldEvent          U   page         unit fields      application (ref)
//   KXAnnotationFieldEvent    A   page         annotation ids   application (ref)
//   KXQualifierEvent          Q   page         qualifier ids    application (ref)
// The key is the letter, the Status and the TargetId ("F1 42"): only events
// of one kind, object and status share a key.
//
// Threading: the host's apartment thread only; reference counts are not
// atomic. Each event holds a lock on the module for its life. An event that
// keeps `Main` without a reference must not outlive it: the host delivers
// or drops its pending events before it releases `Main`.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>

#include "com/comutil.h"
#include "com/dispatch_impl.h"
#include "host/application.h"
#include "host/events.h"
#include "sortedstringarray.h"
#include "store/fwd.h"
#include "variantutil.h"

class KXQApplicationEventImpl;
class MainContext;
namespace FieldUtils {
struct SettledWalk;
}

// The module's own face of its events: the key and the id set, for merging
// a new event into a pending one.
struct IDatasheetEvent : IUnknown {
  // The key text, built on first use and owned by the event.
  virtual const OLECHAR* STDMETHODCALLTYPE Key() = 0;
  // Takes the other event's ids (and, for data-field events, its refresh
  // flag) into this one; the other is left without ids. Datasheet and page
  // events take nothing.
  virtual HRESULT STDMETHODCALLTYPE Merge(IDatasheetEvent* other) = 0;
  // Hands the id set whole to `ids` (which must be empty) and leaves the
  // event with an empty set. E_POINTER for null.
  virtual HRESULT STDMETHODCALLTYPE Detach(SortedIdArray* ids) = 0;

 protected:
  ~IDatasheetEvent() = default;
};
KX_DEFINE_IID(IDatasheetEvent, 0x2f0b8c61, 0x5d1e, 0x4c8a, 0x9e, 0x43, 0x6b, 0x1d, 0x27, 0xa0, 0x5c,
              0x11)

// The common base: IKXQApplicationEvent with the recipient names, and the
// COM object (QueryInterface answers IUnknown, IKXQApplicationEvent and
// IDatasheetEvent only). A new object has a count of 0.
class KXQApplicationEventImpl
    : public kx::com::DispatchImpl<KXQApplicationEventImpl, IKXQApplicationEvent>,
      public IDatasheetEvent {
 public:
  KXQApplicationEventImpl(const KXQApplicationEventImpl&) = delete;
  KXQApplicationEventImpl& operator=(const KXQApplicationEventImpl&) = delete;

  // IUnknown (the IKXQApplicationEvent face is the identity).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch: names "Count", "Item", "SerializeEvent" and the read-only
  // property "Key" (by which a host's pending store may look the event up,
  // IKXQPendingEventLookup); no type information.
  std::span<const kx::com::DispatchEntry> dispatch_entries() const;

  // IKXQApplicationEvent.
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override;
  HRESULT STDMETHODCALLTYPE get_Item(LONG index, BSTR* name) override;
  // The message name and the XML (WriteXml); the XML stays null when it
  // could not be written.
  HRESULT STDMETHODCALLTYPE SerializeEvent(BSTR* messageName, BSTR* xml) override;

  // IDatasheetEvent: Key for every kind; Merge and Detach take nothing here.
  const OLECHAR* STDMETHODCALLTYPE Key() override;
  HRESULT STDMETHODCALLTYPE Merge(IDatasheetEvent* other) override;
  HRESULT STDMETHODCALLTYPE Detach(SortedIdArray* ids) override;

  // Adds a recipient (kept sorted without regard to ASCII case, once).
  void AddRecipient(const OLECHAR* name) { m_recipients.Add(name); }
  const SortedStringArray& Recipients() const { return m_recipients; }

  int32_t TargetId() const { return m_targetId; }
  int32_t Status() const { return m_status; }
  // Drops the cached key; the next Key() builds it again.
  void ClearKey() { m_key.Reset(); }

 protected:
  KXQApplicationEventImpl(OLECHAR letter, int32_t targetId, int32_t status);
  virtual ~KXQApplicationEventImpl();

  // "Datasheet", "DataField", ...
  virtual const OLECHAR* MessageName() const = 0;
  // The event's XML as it stands in the store now, a new BSTR the caller
  // frees (null when there is nothing to write). Written by the event XML
  // writers; a failure leaves the reason with the host application.
  virtual HRESULT WriteXml(BSTR* xml) = 0;

 private:
  ULONG m_refs = 0;
  OLECHAR m_letter;
  OwnedString m_key;
  int32_t m_targetId = -1;
  int32_t m_status = -1;
  SortedStringArray m_recipients;
};

// The field-level kinds: a sorted, unique set of ids of one page.
class KXFieldLevelEvent : public KXQApplicationEventImpl {
 public:
  HRESULT STDMETHODCALLTYPE Merge(IDatasheetEvent* other) override;
  HRESULT STDMETHODCALLTYPE Detach(SortedIdArray* ids) override;

  const SortedIdArray& Ids() const { return m_ids; }

 protected:
  KXFieldLevelEvent(OLECHAR letter, int32_t targetId, int32_t status, int32_t id);
  ~KXFieldLevelEvent() override = default;

  SortedIdArray m_ids;
};

// Holds a reference on the host application for its life.
class KXDatasheetEvent final : public KXQApplicationEventImpl {
 public:
  KXDatasheetEvent(IKXQApplication* application, int32_t datasheetId, int32_t status);
  IKXQApplication* Application() const { return m_application; }

 protected:
  const OLECHAR* MessageName() const override { return u"Datasheet"; }
  HRESULT WriteXml(BSTR* xml) override;

 private:
  ~KXDatasheetEvent() override = default;
  _com_ptr_t<IKXQApplication> m_application;
};

// Keeps its `Main` without a reference.
class KXPageEvent final : public KXQApplicationEventImpl {
 public:
  KXPageEvent(MainContext* main, int32_t pageId, int32_t status);

 protected:
  const OLECHAR* MessageName() const override { return u"Datasheet"; }
  HRESULT WriteXml(BSTR* xml) override;

 private:
  ~KXPageEvent() override = default;
  MainContext* m_main;
};

// Keeps its `Main` without a reference. The refresh flag asks the field
// writers to write every field again (trigger callbacks, qualifier setter).
class KXDataFieldEvent final : public KXFieldLevelEvent {
 public:
  KXDataFieldEvent(MainContext* main, int32_t pageId, int32_t status, int32_t field, bool refresh);
  bool Refresh() const { return m_refresh; }
  // The walk its launcher made to the field (may be null): the writer takes
  // it instead of walking again while what it read is unchanged.
  void SetSettledWalk(std::shared_ptr<const FieldUtils::SettledWalk> walk);
  // The walks it holds by template field, its own and those of the events
  // merged into it.
  using SettledWalks =
      std::map<const IKXQTemplateField*, std::shared_ptr<const FieldUtils::SettledWalk>>;

  // Also ORs the other's refresh flag into this one: a refresh asked for
  // while a plain event is pending must not be lost. The other's walks are
  // taken, the later walk of a field in place of the earlier.
  HRESULT STDMETHODCALLTYPE Merge(IDatasheetEvent* other) override;

 protected:
  const OLECHAR* MessageName() const override { return u"DataField"; }
  HRESULT WriteXml(BSTR* xml) override;

 private:
  ~KXDataFieldEvent() override = default;
  MainContext* m_main;
  bool m_refresh;
  SettledWalks m_settledWalks;
};

class KXUnitFieldEvent final : public KXFieldLevelEvent {
 public:
  KXUnitFieldEvent(IKXQApplication* application, int32_t pageId, int32_t status, int32_t unit);
  IKXQApplication* Application() const { return m_application; }

 protected:
  const OLECHAR* MessageName() const override { return u"UnitField"; }
  HRESULT WriteXml(BSTR* xml) override;

 private:
  ~KXUnitFieldEvent() override = default;
  _com_ptr_t<IKXQApplication> m_application;
};

class KXAnnotationFieldEvent final : public KXFieldLevelEvent {
 public:
  KXAnnotationFieldEvent(IKXQApplication* application, int32_t pageId, int32_t status,
                         int32_t annotation);
  IKXQApplication* Application() const { return m_application; }

 protected:
  const OLECHAR* MessageName() const override { return u"AnnotationField"; }
  HRESULT WriteXml(BSTR* xml) override;

 private:
  ~KXAnnotationFieldEvent() override = default;
  _com_ptr_t<IKXQApplication> m_application;
};

class KXQualifierEvent final : public KXFieldLevelEvent {
 public:
  KXQualifierEvent(IKXQApplication* application, int32_t pageId, int32_t status, int32_t qualifier);
  IKXQApplication* Application() const { return m_application; }

 protected:
  const OLECHAR* MessageName() const override { return u"Qualifier"; }
  HRESULT WriteXml(BSTR* xml) override;

 private:
  ~KXQualifierEvent() override = default;
  _com_ptr_t<IKXQApplication> m_application;
};
