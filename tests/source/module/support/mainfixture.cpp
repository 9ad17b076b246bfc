#include "mainfixture.h"

#include <gtest/gtest.h>

#include "testhost.h"

namespace kx::test::model {

AttachedMain::AttachedMain(ModelStore& store) : service_(kx::test::MakeMain()) {
  if (!service_) return;
  main_ = &kx::test::MainOf(service_.get());
  if (FAILED(service_->Attach(store.application()))) ADD_FAILURE() << "Main refused to attach";
}

AttachedMain::~AttachedMain() {
  if (service_) (void)service_->Detach();
}

std::vector<std::string> DeliveredKeys(ModelStore& store) {
  std::vector<std::string> keys;
  for (const auto& event : store.app().DeliverPendingEvents()) {
    keys.push_back(event.key ? Narrow(event.key->c_str()) : "?");
  }
  return keys;
}

}  // namespace kx::test::model
