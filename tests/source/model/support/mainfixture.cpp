#include "mainfixture.h"

#include <gtest/gtest.h>

namespace modeltest {

AttachedMain::AttachedMain(ModelStore& store) {
  if (FAILED(Main::CreateInstance(kx_uuidof<IKXQDataService>(), reinterpret_cast<void**>(&service_)))) {
    ADD_FAILURE() << "cannot create Main";
    return;
  }
  main_ = static_cast<Main*>(service_);
  if (FAILED(service_->Attach(store.application()))) ADD_FAILURE() << "Main refused to attach";
}

AttachedMain::~AttachedMain() {
  if (service_ == nullptr) return;
  (void)service_->Detach();
  service_->Release();
}

std::vector<std::string> DeliveredKeys(ModelStore& store) {
  std::vector<std::string> keys;
  for (const auto& event : store.app().DeliverPendingEvents()) {
    keys.push_back(event.key ? Narrow(event.key->c_str()) : "?");
  }
  return keys;
}

}  // namespace modeltest
