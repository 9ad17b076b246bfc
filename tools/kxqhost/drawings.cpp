#include "drawings.h"

#include "host/host.h"
#include "host/utf.h"

namespace kx::kxqhost {

void PrintDrawingCalls(host::Host& host, std::FILE* out, const char* prefix) {
  for (const host::DrawingCall& call : host.drawing().TakeCalls()) {
    std::string line = host::internal::Utf16ToUtf8(call.text);
    if (FAILED(call.hr)) {
      char code[32];
      std::snprintf(code, sizeof code, " (failed: 0x%08X)", static_cast<unsigned>(call.hr));
      line += code;
    }
    std::fprintf(out, "%s%s\n", prefix, line.c_str());
  }
}

}  // namespace kx::kxqhost
