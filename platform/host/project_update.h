// The argument the host hands with an "update project" database event: it
// collects the objects the module reports as changed by the update.
#pragma once

#include <vector>

#include "host/com_object.h"
#include "host/events.h"
#include "host/store_ref.h"

namespace kx::host {

class ProjectUpdate final : public internal::DispatchObject<IKXQProjectUpdate> {
 public:
  // Keeps a reference on `object`; an object already reported (the same
  // pointer: the store gives one pointer per object) is not added again.
  // E_POINTER for null.
  HRESULT ReportChangedObject(IKXQObject* object) override;

  // The reported objects, in the order first reported. Borrowed: valid while
  // this object lives.
  std::vector<IKXQObject*> changed_objects() const;

 private:
  std::vector<internal::StoreRef<IKXQObject>> changed_;
};

}  // namespace kx::host
