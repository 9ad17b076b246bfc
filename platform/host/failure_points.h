// Failure injection for the host's objects, so that tests of a module can
// make any host operation fail: "the second PostEvent fails with E_FAIL and
// this description". A failing operation sets the description as the
// thread's error information, nulls its interface out-parameter and does
// nothing else.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "com/types.h"

namespace kx::host {

class FailurePoints {
 public:
  // Calls of `operation` (the method's name, e.g. "PostEvent") fail with
  // `hr`: after `skip` calls that succeed, `times` calls fail (-1: every
  // call from then on).
  void Add(std::string operation, HRESULT hr, std::u16string description, int times = -1,
           int skip = 0);
  void Clear() { points_.clear(); }
  bool empty() const { return points_.empty(); }

  // S_OK, or the injected failure of this call of `operation` (with error
  // information set).
  HRESULT Check(std::string_view operation);

 private:
  struct Point {
    std::string operation;
    HRESULT hr;
    std::u16string description;
    int times;
    int skip;
  };
  std::vector<Point> points_;
};

namespace internal {
// Nulls `*out` (when given) and returns `hr`: the failure shape of a method
// with an interface or array out-parameter.
template <class T>
HRESULT NullOut(HRESULT hr, T** out) {
  if (out) *out = nullptr;
  return hr;
}
}  // namespace internal

}  // namespace kx::host
