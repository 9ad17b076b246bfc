#include "host/project_update.h"

#include "host/errors.h"

namespace kx::host {

HRESULT ProjectUpdate::ReportChangedObject(IKXQObject* object) {
  if (!object) return internal::Fail(E_POINTER, u"No changed object to report");
  for (const auto& known : changed_) {
    if (known.get() == object) return S_OK;
  }
  changed_.emplace_back(object);
  return S_OK;
}

std::vector<IKXQObject*> ProjectUpdate::changed_objects() const {
  std::vector<IKXQObject*> objects;
  objects.reserve(changed_.size());
  for (const auto& known : changed_) objects.push_back(known.get());
  return objects;
}

}  // namespace kx::host
