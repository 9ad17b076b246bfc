// The calls that reached the host's drawing service, printed after each
// call.
#pragma once

#include <cstdio>

namespace kx::host {
class Host;
}

namespace kx::kxqhost {

// Writes the calls the drawing service received since the last time, one
// line each after `prefix` ("== drawing CALL", with " (failed: 0x...)" for a
// failed one), and forgets them.
void PrintDrawingCalls(host::Host& host, std::FILE* out, const char* prefix);

}  // namespace kx::kxqhost
