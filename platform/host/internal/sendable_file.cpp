#include "host/internal/sendable_file.h"

#include <filesystem>
#include <fstream>
#include <optional>

#include "host/errors.h"
#include "host/utf.h"

namespace kx::host::internal {

namespace fs = std::filesystem;

namespace {

// True when `inner` is `outer` or lies below it (whole path steps compared).
bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto i = inner.begin();
  for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
    // A trailing separator of `outer` gives an empty last step.
    if (o->empty() && std::next(o) == outer.end()) return true;
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

fs::path Absolute(const fs::path& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  return (ec ? path : absolute).lexically_normal();
}

HRESULT Refuse(HRESULT hr, std::u16string_view path, std::u16string_view reason) {
  return Fail(
      hr, u"The host does not send \"" + std::u16string(path) + u"\": " + std::u16string(reason));
}

}  // namespace

HRESULT ReadSendableFile(std::u16string_view path, const std::vector<std::u16string>& folders,
                         std::string* content) {
  content->clear();
  if (path.empty()) return Fail(E_INVALIDARG, u"No file to send");
  const fs::path given(Utf16ToUtf8(path));
  for (const fs::path& step : given) {
    if (step == "..")
      return Refuse(E_ACCESSDENIED, path, u"its path climbs out of its folder with \"..\"");
  }
  const fs::path wanted = Absolute(given);
  std::optional<fs::path> folder;
  for (const std::u16string& candidate : folders) {
    if (candidate.empty()) continue;
    const fs::path absolute = Absolute(fs::path(Utf16ToUtf8(candidate)));
    if (IsWithin(wanted, absolute) && wanted != absolute) {
      folder = absolute;
      break;
    }
  }
  if (!folder)
    return Refuse(E_ACCESSDENIED, path,
                  u"it lies outside the folders of the host's settings and template library");

  std::error_code ec;
  const fs::path real = fs::canonical(wanted, ec);
  if (ec) return Refuse(STG_E_FILENOTFOUND, path, u"there is no such file");
  const fs::path real_folder = fs::canonical(*folder, ec);
  if (ec || !IsWithin(real, real_folder)) {
    return Refuse(E_ACCESSDENIED, path, u"a symbolic link leads out of its folder");
  }
  if (!fs::is_regular_file(real, ec)) return Refuse(E_ACCESSDENIED, path, u"it is not a file");
  const auto size = fs::file_size(real, ec);
  if (ec) return Refuse(STG_E_READFAULT, path, u"it cannot be read");
  if (size > kMaxSentFileBytes) return Refuse(E_OUTOFMEMORY, path, u"it is larger than 64 MiB");

  std::ifstream in(real, std::ios::binary);
  std::string bytes(static_cast<size_t>(size), '\0');
  if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    return Refuse(STG_E_READFAULT, path, u"it cannot be read");
  }
  *content = std::move(bytes);
  return S_OK;
}

}  // namespace kx::host::internal
