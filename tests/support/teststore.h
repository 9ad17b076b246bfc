// The store a test works on, made from a fixture text.
#pragma once

#include <memory>
#include <string>

#include "store/admin.h"

namespace kx::test {

// Opens the store at `path` (a fresh one in memory by default) and imports
// `fixture`, named `name` in messages; either failing fails the current
// test. Null when the store does not open.
std::unique_ptr<kx::store::Store> OpenStore(
    const std::string& fixture, const std::string& name = "fixture",
    const std::string& path = ":memory:", kx::store::OpenMode mode = kx::store::OpenMode::kCreate);

}  // namespace kx::test
