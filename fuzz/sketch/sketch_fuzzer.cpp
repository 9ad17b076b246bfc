// Two sketch texts per input, incoming and stored, split at the first 0
// byte (UTF-8, malformed sequences replaced). Each is parsed; the incoming
// one is merged into the stored one. A refusal is a KXComException with a
// failure code; a merged text that starts with "!" must read back without
// failure, and its blocks must lie inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "com/wstr.h"
#include "fields/sketchfield.h"
#include "kxcomexception.h"
#include "sketchdataparser.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void ParseAny(const std::u16string& text) {
  try {
    const SketchDataParser sketch(text.c_str(), static_cast<int32_t>(text.size()));
    Check(sketch.BlockOffset(3) + sketch.Length3 <= static_cast<int32_t>(text.size()) ||
          sketch.Code3 == 0);
  } catch (const KXComException& refusal) {
    Check(FAILED(refusal.hr));
  }
  ClearThreadErrorInfo();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const size_t split = bytes.find('\0');
  const std::u16string incoming = kx_utf8_to_utf16_lossy(bytes.substr(0, split));
  const std::u16string stored = split == std::string::npos
                                    ? std::u16string()
                                    : kx_utf8_to_utf16_lossy(bytes.substr(split + 1));
  ParseAny(incoming);
  ParseAny(stored);
  std::u16string merged;
  try {
    merged = ComposeSketchText(incoming.c_str(), stored.c_str());
  } catch (const KXComException& refusal) {
    Check(FAILED(refusal.hr));
    ClearThreadErrorInfo();
    return 0;
  }
  // A merge in header form reads back whole: its header closes in time and
  // its lengths are its blocks'.
  const SketchDataParser head(incoming.c_str(), static_cast<int32_t>(incoming.size()));
  const bool thirdAlone =
      head.Code1 == u'R' && head.Code2 == u'R' && head.Length1 == 0 && head.Length2 == 0;
  if (!incoming.empty() && incoming[0] == u'!' && !thirdAlone && merged != incoming) {
    try {
      const SketchDataParser again(merged.c_str(), static_cast<int32_t>(merged.size()));
      Check(again.HeaderLength > 0);
      Check(again.BlockOffset(3) + again.Length3 == static_cast<int32_t>(merged.size()));
    } catch (const KXComException&) {
      Check(false);
    }
  }
  ClearThreadErrorInfo();
  return 0;
}
