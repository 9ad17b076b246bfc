// The host's drawing service as the program offers it: diagrams in the store
// answer the representation "Diagram" with their workflow face, and the
// calls that reached the service are printed after each call.
#pragma once

#include <cstdio>

namespace kx::host {
class Host;
}
namespace kx::store {
class Store;
}

namespace kx::kxqhost {

// Makes the store hand out `host`'s drawing service's diagram faces.
void OfferDiagramRepresentations(store::Store& store, host::Host& host);

// Writes the calls the drawing service received since the last time, one
// line each after `prefix` ("== drawing CALL", with " (failed: 0x...)" for a
// failed one), and forgets them.
void PrintDrawingCalls(host::Host& host, std::FILE* out, const char* prefix);

}  // namespace kx::kxqhost
