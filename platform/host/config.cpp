#include "host/config.h"

#include <fstream>
#include <sstream>

#include "com/comutil.h"
#include "host/errors.h"
#include "host/failure_points.h"
#include "host/internal/xml_text.h"
#include "host/reply.h"
#include "host/utf.h"

namespace kx::host {

using internal::BstrView;

namespace {

std::u16string FoldCase(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return folded;
}

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// Splits "NAME=VALUE"; false with a reason when the line is not one.
bool ParseAssignment(std::string_view line, std::u16string& name, std::u16string& value,
                     std::string& reason) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) {
    reason = "expected NAME=VALUE";
    return false;
  }
  const auto parsed_name = internal::Utf8ToUtf16(Trim(line.substr(0, equals)));
  const auto parsed_value = internal::Utf8ToUtf16(Trim(line.substr(equals + 1)));
  if (!parsed_name || !parsed_value) {
    reason = "invalid UTF-8";
    return false;
  }
  if (parsed_name->empty()) {
    reason = "empty setting name";
    return false;
  }
  name = *parsed_name;
  value = *parsed_value;
  return true;
}

HRESULT ReturnString(std::u16string_view text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (text.empty()) return S_OK;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

// ---- Settings ----

bool Settings::LoadFile(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error) *error = path + ": cannot open the settings file";
    return false;
  }
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) {
    if (error) *error = path + ": cannot read the settings file";
    return false;
  }
  return LoadText(content.str(), path, error);
}

bool Settings::LoadText(std::string_view text, const std::string& origin, std::string* error) {
  std::map<std::u16string, std::u16string> loaded;
  size_t line_number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_number;
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;
    std::u16string name, value;
    std::string reason;
    if (!ParseAssignment(line, name, value, reason)) {
      if (error) *error = origin + ":" + std::to_string(line_number) + ": " + reason;
      return false;
    }
    loaded[FoldCase(name)] = std::move(value);
  }
  for (auto& [name, value] : loaded) values_[name] = std::move(value);
  return true;
}

bool Settings::Override(std::string_view assignment, std::string* error) {
  std::u16string name, value;
  std::string reason;
  if (!ParseAssignment(Trim(assignment), name, value, reason)) {
    if (error) *error = "--set " + std::string(assignment) + ": " + reason;
    return false;
  }
  values_[FoldCase(name)] = std::move(value);
  return true;
}

void Settings::Set(std::u16string_view name, std::u16string_view value) {
  values_[FoldCase(name)] = std::u16string(value);
}

std::optional<std::u16string> Settings::Get(std::u16string_view name) const {
  const auto found = values_.find(FoldCase(name));
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

void Settings::SetFolder(std::u16string_view name, std::u16string_view directory) {
  Set(u"Folder::" + std::u16string(name), directory);
}

HRESULT Settings::GetValue(BSTR name, BSTR* value) {
  if (HRESULT hr = failures_.Check("GetValue"); FAILED(hr)) return internal::NullOut(hr, value);
  if (!value) return E_POINTER;
  const auto found = Get(BstrView(name));
  return ReturnString(found ? *found : std::u16string(), value);
}

namespace {

constexpr std::u16string_view kFolderPrefix = u"folder::";

// Modules add the separator themselves; "/" alone stays the root.
std::u16string FolderDirectory(std::u16string_view value) {
  std::u16string directory = ToHostPath(value);
  while (directory.size() > 1 && directory.back() == u'/') directory.pop_back();
  return directory;
}

}  // namespace

std::u16string Settings::Folder(std::u16string_view name) const {
  const auto found = Get(u"Folder::" + std::u16string(name));
  return found ? FolderDirectory(*found) : std::u16string();
}

std::vector<std::u16string> Settings::FolderPaths() const {
  std::vector<std::u16string> paths;
  for (const auto& [name, value] : values_) {
    if (name.size() <= kFolderPrefix.size() ||
        name.compare(0, kFolderPrefix.size(), kFolderPrefix) != 0) {
      continue;
    }
    std::u16string directory = FolderDirectory(value);
    if (!directory.empty()) paths.push_back(std::move(directory));
  }
  return paths;
}

HRESULT Settings::GetFolder(BSTR folder, BSTR* path) {
  if (HRESULT hr = failures_.Check("GetFolder"); FAILED(hr)) return internal::NullOut(hr, path);
  if (!path) return E_POINTER;
  return ReturnString(Folder(BstrView(folder)), path);
}

// ---- Privileges ----

HRESULT Privileges::get_LoginName(BSTR* name) {
  if (HRESULT hr = failures_.Check("get_LoginName"); FAILED(hr)) return internal::NullOut(hr, name);
  return ReturnString(login_name_, name);
}
HRESULT Privileges::get_UserName(BSTR* name) {
  if (HRESULT hr = failures_.Check("get_UserName"); FAILED(hr)) return internal::NullOut(hr, name);
  return ReturnString(user_name_, name);
}
HRESULT Privileges::get_Discipline(BSTR* discipline) {
  if (HRESULT hr = failures_.Check("get_Discipline"); FAILED(hr))
    return internal::NullOut(hr, discipline);
  return ReturnString(discipline_, discipline);
}

HRESULT Privileges::HasPrivilege(BSTR name, VARIANT_BOOL* granted) {
  if (HRESULT hr = failures_.Check("HasPrivilege"); FAILED(hr)) return hr;
  if (!granted) return E_POINTER;
  *granted = Has(BstrView(name)) ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

// ---- Journal ----

HRESULT Journal::Write(BSTR text) {
  // The module writes a trace line in pieces and ends it itself: the text is
  // kept exactly as written.
  std::string line = internal::Utf16ToUtf8(BstrView(text));
  if (capture_) {
    text_ += line;
    return S_OK;
  }
  if (!stream_) return S_OK;
  if (std::fwrite(line.data(), 1, line.size(), stream_) != line.size()) {
    return internal::Fail(E_FAIL, u"Cannot write to the journal");
  }
  std::fflush(stream_);
  return S_OK;
}

namespace {

const kx::com::DispatchEntry kJournalEntries[] = {
    {u"Write", KXQ_DISPID_JOURNAL_WRITE, DISPATCH_METHOD, 1,
     [](void* self, WORD, VARIANT* const* args, VARIANT*) -> HRESULT {
       _variant_t text;
       if (FAILED(VariantChangeType(&text, args[0], 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
       // `self` is the dispatch base the table is served from.
       auto* base = static_cast<internal::DispatchObject<IKXQJournal>*>(self);
       return static_cast<Journal*>(base)->Write(text.bstrVal);
     }},
};

}  // namespace

std::span<const kx::com::DispatchEntry> Journal::dispatch_entries() const {
  return kJournalEntries;
}

}  // namespace kx::host
