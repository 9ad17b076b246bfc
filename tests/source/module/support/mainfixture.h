// A `Main` created in-process and attached to a ModelStore's host
// application, for tests of the model operations that take `Main` (change
// events, summary sheets, the continuous-list helper). The store must
// outlive it.
#pragma once

#include <string>
#include <vector>

#include "main/main.h"
#include "modelfixture.h"

namespace kx::test::model {

class AttachedMain {
 public:
  explicit AttachedMain(ModelStore& store);
  ~AttachedMain();
  AttachedMain(const AttachedMain&) = delete;
  AttachedMain& operator=(const AttachedMain&) = delete;

  Main& operator*() const { return *main_; }
  Main* operator->() const { return main_; }

 private:
  kx::host::Ref<IKXQDataService> service_;
  Main* main_ = nullptr;
};

// Delivers the application's pending change events and gives their keys
// in posting order ("?" for an event without one).
std::vector<std::string> DeliveredKeys(ModelStore& store);

}  // namespace kx::test::model
