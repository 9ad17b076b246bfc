#include "teststore.h"

#include <gtest/gtest.h>

namespace kx::test {

std::unique_ptr<kx::store::Store> OpenStore(const std::string& fixture, const std::string& name,
                                            const std::string& path, kx::store::OpenMode mode) {
  std::unique_ptr<kx::store::Store> store;
  kx::store::Status status = kx::store::Store::Open(path, mode, &store);
  if (!status.ok() || !store) {
    ADD_FAILURE() << "cannot open a store: " << status.message;
    return store;
  }
  status = store->ImportFixtureText(fixture, name);
  if (!status.ok()) ADD_FAILURE() << "cannot import the fixture: " << status.message;
  return store;
}

}  // namespace kx::test
