#include "common.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <vector>

#include "com/sysmsg.h"
#include "host/errors.h"
#include "host/utf.h"
#include "msxml/sax.h"

namespace kx::kxqhost {

namespace fs = std::filesystem;

namespace {

// A request text longer than the XML reader takes is refused before it is
// read whole: it would be held several times over (bytes, UTF-16, the
// message) only to be refused by the reader.
constexpr size_t kMaxRequestBytes = static_cast<size_t>(kSaxMaxDocumentBytes);

std::string TooLargeRequest() {
  return "the request is larger than " + std::to_string(kMaxRequestBytes) +
         " bytes, more than the XML reader takes";
}

}  // namespace

std::string Narrow(std::u16string_view text) { return host::internal::Utf16ToUtf8(text); }

std::u16string Wide(std::string_view text) {
  auto wide = host::internal::Utf8ToUtf16(text);
  return wide ? *wide : std::u16string(1, u'\uFFFD');
}

std::string HexCode(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return buffer;
}

std::string Describe(HRESULT hr) {
  return HexCode(hr) + " (" + Narrow(kx_system_message(hr)) + ")";
}

std::string TakeErrorText() { return Narrow(host::internal::TakeErrorDescription()); }

bool ReadRequestText(std::istream& in, std::string* text, std::string* error) {
  text->clear();
  std::vector<char> chunk(1 << 16);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (text->size() + got > kMaxRequestBytes) {
      *error = TooLargeRequest();
      text->clear();
      return false;
    }
    text->append(chunk.data(), got);
  }
  if (in.bad()) *error = "the request text cannot be read";
  return !in.bad();
}

bool ReadRequestFile(const std::string& path, std::string* text, std::string* error) {
  std::error_code ec;
  if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) > kMaxRequestBytes && !ec) {
    *error = TooLargeRequest() + ": " + path;
    return false;
  }
  if (fs::is_directory(path, ec)) {
    *error = CannotRead(path, EISDIR);
    return false;
  }
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = CannotRead(path, errno);
    return false;
  }
  return ReadRequestText(file, text, error);
}

std::string CannotRead(const std::string& path, int why) {
  if (why == EISDIR) return "cannot read " + path + ": it is a folder, not a file";
  return "cannot read " + path + ": " + (why != 0 ? std::strerror(why) : "it cannot be opened");
}

bool IsInteger(const std::string& text) {
  if (text.empty()) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i >= text.size() || text.size() - i > 10) return false;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  const long long value = std::stoll(text);
  return value >= INT32_MIN && value <= INT32_MAX;
}

_variant_t ArgumentValue(const std::string& text) {
  if (IsInteger(text)) return _variant_t(static_cast<long>(std::stoll(text)));
  if (text == "true") return _variant_t(true);
  if (text == "false") return _variant_t(false);
  return _variant_t(Wide(text).c_str());
}

HRESULT CallServerEntry(const std::string& path, const char* entry, std::string* error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* reason = dlerror();
    *error = "cannot load " + path + ": " + (reason ? reason : "unknown reason");
    return CO_E_DLLNOTFOUND;
  }
  auto function = reinterpret_cast<HRESULT (*)()>(dlsym(library, entry));
  if (!function) {
    *error = path + " has no " + entry;
    return CO_E_ERRORINDLL;
  }
  const HRESULT hr = function();
  if (FAILED(hr)) {
    const std::string text = TakeErrorText();
    *error = std::string(entry) + " failed: " + Describe(hr) + (text.empty() ? "" : ": " + text);
  }
  return hr;
}

}  // namespace kx::kxqhost
