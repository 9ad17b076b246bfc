#include "host/failure_points.h"

#include "host/errors.h"

namespace kx::host {

void FailurePoints::Add(std::string operation, HRESULT hr, std::u16string description, int times,
                        int skip) {
  points_.push_back(Point{std::move(operation), hr, std::move(description), times, skip});
}

HRESULT FailurePoints::Check(std::string_view operation) {
  for (auto& point : points_) {
    if (point.operation != operation || point.times == 0) continue;
    if (point.skip > 0) {
      --point.skip;
      continue;
    }
    if (point.times > 0) --point.times;
    return internal::Fail(point.hr, point.description);
  }
  return S_OK;
}

}  // namespace kx::host
