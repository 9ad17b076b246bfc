// The registration script of `Main` and the registrar that runs it against
// the registration store.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "com/activation.h"
#include "com/errorinfo.h"
#include "com/registry.h"
#include "com/wstr.h"
#include "main/main.h"

namespace {

constexpr char16_t kRoot[] = u"HKEY_CLASSES_ROOT\\";

// One line of the script: a key (relative to the classes root) and, unless
// `valueName` is null, one string value in it ("" is the default value).
struct ScriptLine {
  const char16_t* key;
  const char16_t* valueName;
  const char16_t* value;
};

// Percent-delimited words are replaced when the script runs.
constexpr ScriptLine kScript[] = {
    {u"KXDBDatasheetSvcs.Main.%MajorVersion%", u"", u"KXDBDatasheetSvcs Main Class"},
    {u"KXDBDatasheetSvcs.Main.%MajorVersion%\\CLSID", u"", u"%CLSID_Main%"},
    {u"KXDBDatasheetSvcs.Main", u"", u"KXDBDatasheetSvcs Main Class"},
    {u"KXDBDatasheetSvcs.Main\\CLSID", u"", u"%CLSID_Main%"},
    {u"KXDBDatasheetSvcs.Main\\CurVer", u"", u"KXDBDatasheetSvcs.Main.%MajorVersion%"},
    {u"CLSID\\%CLSID_Main%", u"", u"KXDBDatasheetSvcs Main Class"},
    {u"CLSID\\%CLSID_Main%\\ProgID", u"", u"KXDBDatasheetSvcs.Main.%MajorVersion%"},
    {u"CLSID\\%CLSID_Main%\\VersionIndependentProgID", u"", u"KXDBDatasheetSvcs.Main"},
    {u"CLSID\\%CLSID_Main%\\Programmable", nullptr, nullptr},
    {u"CLSID\\%CLSID_Main%\\InprocServer32", u"", u"%MODULE%"},
    {u"CLSID\\%CLSID_Main%\\InprocServer32", u"ThreadingModel", u"%ThreadingModel%"},
    {u"CLSID\\%CLSID_Main%\\TypeLib", u"", u"%LIBID%"},
};

// The keys that unregistration removes with everything below them. "CLSID"
// itself is never removed.
constexpr const char16_t* kRemovedTrees[] = {
    u"KXDBDatasheetSvcs.Main.%MajorVersion%",
    u"KXDBDatasheetSvcs.Main",
    u"CLSID\\%CLSID_Main%",
};

using Replacements = std::vector<std::pair<std::u16string, std::u16string>>;

Replacements GetRegistryReplacements(const char16_t* modulePath) {
  Replacements map;
  map.emplace_back(u"ThreadingModel", u"Apartment");
  map.emplace_back(u"MajorVersion", kx_format(u"%d", kKXDBDatasheetSvcsMajorVersion));
  map.emplace_back(u"MinorVersion", kx_format(u"%d", kKXDBDatasheetSvcsMinorVersion));
  map.emplace_back(u"LIBID", kx_guid_to_string(LIBID_KXDBDatasheetSvcs));
  map.emplace_back(u"CLSID_Main", kx_guid_to_string(CLSID_Main));
  if (modulePath != nullptr) map.emplace_back(u"MODULE", modulePath);
  return map;
}

// Replaces each %NAME% of the map; "%%" gives "%". An unknown word is an
// error (E_INVALIDARG): a half-replaced key must never be written.
HRESULT Expand(std::u16string_view text, const Replacements& map, std::u16string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'%') {
      out->push_back(text[i]);
      continue;
    }
    const std::size_t end = text.find(u'%', i + 1);
    if (end == std::u16string_view::npos) return E_INVALIDARG;
    const std::u16string_view word = text.substr(i + 1, end - i - 1);
    if (word.empty()) {
      out->push_back(u'%');
    } else {
      bool found = false;
      for (const auto& [name, value] : map) {
        if (kx_wcsicmp(name, word) == 0) {
          out->append(value);
          found = true;
          break;
        }
      }
      if (!found) return E_INVALIDARG;
    }
    i = end;
  }
  return S_OK;
}

HRESULT RegisterScript(const Replacements& map) {
  for (const ScriptLine& line : kScript) {
    std::u16string key;
    HRESULT hr = Expand(line.key, map, &key);
    if (FAILED(hr)) return hr;
    key.insert(0, kRoot);
    if (line.valueName == nullptr) {
      hr = kx_reg_create_key(key);
    } else {
      std::u16string value;
      hr = Expand(line.value, map, &value);
      if (FAILED(hr)) return hr;
      hr = kx_reg_set_value(key, line.valueName, value);
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterScript(const Replacements& map) {
  const HRESULT notFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  HRESULT result = S_OK;
  for (const char16_t* tree : kRemovedTrees) {
    std::u16string key;
    const HRESULT expanded = Expand(tree, map, &key);
    if (FAILED(expanded)) return expanded;
    key.insert(0, kRoot);
    const HRESULT hr = kx_reg_delete_tree(key);
    // Removing what is not there is not a failure; other failures are kept
    // but do not stop the removal of the other keys.
    if (FAILED(hr) && hr != notFound && SUCCEEDED(result)) result = hr;
  }
  return result;
}

}  // namespace

HRESULT Main::UpdateRegistry(bool doRegister, const char16_t* modulePath) {
  const Replacements map = GetRegistryReplacements(modulePath);
  if (!doRegister) return UnregisterScript(map);
  if (modulePath == nullptr || *modulePath == u'\0') return E_INVALIDARG;
  return RegisterScript(map);
}
