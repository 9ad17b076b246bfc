// What the commands of the host program share: the module's names, text
// between UTF-8 and UTF-16, failure texts, whole numbers from the command
// line, request texts and the module library's server entry points.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

#include "com/comutil.h"
#include "com/types.h"

namespace kx::kxqhost {

inline constexpr char16_t kProgId[] = u"KXDBDatasheetSvcs.Main";
inline constexpr char kModuleLibrary[] = "libKXDBDatasheetSvcs.so";
inline constexpr char kDefaultStore[] = "kxq-store.db";

std::string Narrow(std::u16string_view text);
// REQUIRES: `text` is valid UTF-8 (main and RunScript check what they
// hand on); anything else becomes U+FFFD.
std::u16string Wide(std::string_view text);

// "0xHRESULT".
std::string HexCode(HRESULT hr);
// "0xHRESULT (system text)".
std::string Describe(HRESULT hr);
// The thread's error description, or "" when none was left.
std::string TakeErrorText();

// A whole number in the range of a 32-bit integer, optionally negative.
bool IsInteger(const std::string& text);
// A command-line argument as a VARIANT: a whole number as VT_I4, "true"
// and "false" as VT_BOOL, anything else as text.
_variant_t ArgumentValue(const std::string& text);

// A request text from a stream or a file, of at most the bytes the XML
// reader takes; false with *error set when there is more or the stream
// fails.
bool ReadRequestText(std::istream& in, std::string* text, std::string* error);
bool ReadRequestFile(const std::string& path, std::string* text, std::string* error);
// "cannot read PATH: WHY" for a file that could not be opened, `why` the
// errno the attempt left: "No such file or directory", "Permission
// denied", or that it is a folder.
std::string CannotRead(const std::string& path, int why);

// Calls DllRegisterServer or DllUnregisterServer of the library at `path`.
// The library stays loaded (activation loads it again by the same path).
HRESULT CallServerEntry(const std::string& path, const char* entry, std::string* error);

}  // namespace kx::kxqhost
