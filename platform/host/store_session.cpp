#include "host/store_session.h"

#include "host/errors.h"

namespace kx::host {

StoreNotification::StoreNotification() { VariantInit(&arguments); }

StoreNotification::StoreNotification(const StoreNotification& other)
    : kind(other.kind), event_kind(other.event_kind), object(other.object), trigger(other.trigger) {
  VariantInit(&arguments);
  VariantCopy(&arguments, &other.arguments);
}

StoreNotification& StoreNotification::operator=(const StoreNotification& other) {
  if (this == &other) return *this;
  kind = other.kind;
  event_kind = other.event_kind;
  object = other.object;
  trigger = other.trigger;
  VariantClear(&arguments);
  VariantCopy(&arguments, &other.arguments);
  return *this;
}

StoreNotification::~StoreNotification() { VariantClear(&arguments); }

HRESULT StoreSession::CreateHold(BSTR, const VARIANT&, IKXQObject** hold) {
  if (hold) *hold = nullptr;
  return internal::Fail(E_NOTIMPL, u"This host cannot create holds");
}

HRESULT StoreSession::CloseHold(IKXQObject*, const VARIANT&) {
  return internal::Fail(E_NOTIMPL, u"This host cannot close holds");
}

HRESULT StoreSession::CreateObjectCollection(IKXQObjectCollection** collection) {
  if (collection) *collection = nullptr;
  return internal::Fail(E_NOTIMPL, u"This host cannot create object collections");
}

}  // namespace kx::host
