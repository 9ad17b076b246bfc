// The wide formatter (Windows wide-printf rules; see com/wstr.h).
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "com/internal/c_locale.h"
#include "com/wstr.h"

namespace {

enum class Size { kNone, kChar, kShort, kLong, kLongLong, kPointer, kLongDouble, kWide };

struct Spec {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  int width = -1;      // -1: none
  int precision = -1;  // -1: none
  bool star_width = false;
  Size size = Size::kNone;
  char16_t type = 0;
};

void pad(std::u16string& out, int n, char16_t c) {
  if (n > 0) out.append(static_cast<std::size_t>(n), c);
}

// Appends body padded to the directive's width (spaces; zeros go after the sign
// or prefix when `zero_ok`).
void emit(std::u16string& out, const Spec& spec, std::u16string_view prefix,
          std::u16string_view body, bool zero_ok) {
  const int len = static_cast<int>(prefix.size() + body.size());
  const int fill = spec.width > len ? spec.width - len : 0;
  if (spec.left) {
    out.append(prefix);
    out.append(body);
    pad(out, fill, u' ');
  } else if (spec.zero && zero_ok) {
    out.append(prefix);
    pad(out, fill, u'0');
    out.append(body);
  } else {
    pad(out, fill, u' ');
    out.append(prefix);
    out.append(body);
  }
}

void format_integer(std::u16string& out, const Spec& spec, bool negative,
                    unsigned long long magnitude) {
  const char16_t t = spec.type;
  const unsigned base = (t == u'o') ? 8 : (t == u'x' || t == u'X') ? 16 : 10;
  const char16_t* digits = (t == u'X') ? u"0123456789ABCDEF" : u"0123456789abcdef";
  std::u16string body;
  for (unsigned long long v = magnitude; v != 0; v /= base)
    body.insert(body.begin(), digits[v % base]);
  if (spec.precision < 0 && body.empty()) body = u"0";
  if (spec.precision > static_cast<int>(body.size()))
    body.insert(0, static_cast<std::size_t>(spec.precision) - body.size(), u'0');
  std::u16string prefix;
  const bool is_signed = (t == u'd' || t == u'i');
  if (is_signed) {
    if (negative)
      prefix = u"-";
    else if (spec.plus)
      prefix = u"+";
    else if (spec.space)
      prefix = u" ";
  }
  if (spec.alt && magnitude != 0) {
    if (base == 16) prefix = (t == u'X') ? u"0X" : u"0x";
    if (base == 8 && (body.empty() || body[0] != u'0')) body.insert(body.begin(), u'0');
  }
  emit(out, spec, prefix, body, spec.precision < 0);
}

void format_double(std::u16string& out, const Spec& spec, double value) {
  char fmt[32];
  std::size_t n = 0;
  fmt[n++] = '%';
  if (spec.left) fmt[n++] = '-';
  if (spec.plus) fmt[n++] = '+';
  if (spec.space) fmt[n++] = ' ';
  if (spec.alt) fmt[n++] = '#';
  if (spec.zero) fmt[n++] = '0';
  fmt[n++] = '*';
  fmt[n++] = '.';
  fmt[n++] = '*';
  fmt[n++] = static_cast<char>(spec.type);
  fmt[n] = 0;
  const int width = spec.width < 0 ? 0 : spec.width;
  const int precision = spec.precision < 0 ? 6 : spec.precision;
  // Numbers are written in the "C" locale whatever the thread's locale.
  const locale_t previous = uselocale(kx::com::internal::c_locale());
  char small[128];
  int len = std::snprintf(small, sizeof small, fmt, width, precision, value);
  std::string text;
  if (len >= 0 && static_cast<std::size_t>(len) >= sizeof small) {
    text.resize(static_cast<std::size_t>(len) + 1);
    std::snprintf(text.data(), text.size(), fmt, width, precision, value);
    text.resize(static_cast<std::size_t>(len));
  } else if (len >= 0) {
    text.assign(small, static_cast<std::size_t>(len));
  }
  uselocale(previous);
  for (char c : text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

void format_text(std::u16string& out, const Spec& spec, std::u16string_view text) {
  if (spec.precision >= 0 && static_cast<std::size_t>(spec.precision) < text.size())
    text = text.substr(0, static_cast<std::size_t>(spec.precision));
  emit(out, spec, {}, text, false);
}

bool narrow_size(const Spec& spec, bool upper) {
  if (spec.size == Size::kShort) return true;
  if (spec.size == Size::kLong || spec.size == Size::kWide) return false;
  return upper;  // %S and %C take the other width
}

class Formatter {
 public:
  explicit Formatter(va_list args) { va_copy(args_, args); }
  ~Formatter() { va_end(args_); }
  Formatter(const Formatter&) = delete;
  Formatter& operator=(const Formatter&) = delete;

  std::u16string run(const char16_t* format) {
    std::u16string out;
    if (format == nullptr) return out;
    const char16_t* p = format;
    while (*p != 0) {
      if (*p != u'%') {
        out.push_back(*p++);
        continue;
      }
      const char16_t* start = p++;
      Spec spec;
      if (!parse(p, spec)) {
        out.append(start, p);  // unknown or incomplete: copied as it stands
        continue;
      }
      convert(out, spec);
    }
    return out;
  }

 private:
  bool parse(const char16_t*& p, Spec& spec) {
    for (;; ++p) {
      if (*p == u'-')
        spec.left = true;
      else if (*p == u'+')
        spec.plus = true;
      else if (*p == u' ')
        spec.space = true;
      else if (*p == u'#')
        spec.alt = true;
      else if (*p == u'0')
        spec.zero = true;
      else
        break;
    }
    if (*p == u'*') {
      ++p;
      spec.star_width = true;
      spec.width = va_arg(args_, int);
    } else if (kx_iswdigit(*p)) {
      spec.width = 0;
      while (kx_iswdigit(*p)) spec.width = saturated(spec.width, *p++);
    }
    if (*p == u'.') {
      ++p;
      spec.precision = 0;
      if (*p == u'*') {
        ++p;
        spec.precision = va_arg(args_, int);
        if (spec.precision < 0) spec.precision = -1;
      } else {
        while (kx_iswdigit(*p)) spec.precision = saturated(spec.precision, *p++);
      }
    }
    if (*p == u'h') {
      ++p;
      spec.size = Size::kShort;
      if (*p == u'h') ++p, spec.size = Size::kChar;
    } else if (*p == u'l') {
      ++p;
      spec.size = Size::kLong;
      if (*p == u'l') ++p, spec.size = Size::kLongLong;
    } else if (*p == u'w') {
      ++p, spec.size = Size::kWide;
    } else if (*p == u'L') {
      ++p, spec.size = Size::kLongDouble;
    } else if (*p == u'j') {
      ++p, spec.size = Size::kLongLong;
    } else if (*p == u'z' || *p == u't') {
      ++p, spec.size = Size::kPointer;
    } else if (*p == u'I') {
      if (p[1] == u'6' && p[2] == u'4') {
        p += 3, spec.size = Size::kLongLong;
      } else if (p[1] == u'3' && p[2] == u'2') {
        p += 3, spec.size = Size::kLong;
      } else {
        ++p, spec.size = Size::kPointer;
      }
    }
    switch (*p) {
      case u'd':
      case u'i':
      case u'u':
      case u'o':
      case u'x':
      case u'X':
      case u'e':
      case u'E':
      case u'f':
      case u'F':
      case u'g':
      case u'G':
      case u'a':
      case u'A':
      case u's':
      case u'S':
      case u'c':
      case u'C':
      case u'p':
      case u'n':
      case u'%': spec.type = *p++; return true;
      default: return false;
    }
  }

  static int saturated(int value, char16_t digit) {
    if (value > 100000000) return value;
    return value * 10 + (digit - u'0');
  }

  void convert(std::u16string& out, Spec& spec) {
    const bool star_is_length = spec.star_width && is_string(spec.type) && spec.precision < 0;
    if (spec.star_width && spec.width < 0 && !star_is_length) {
      // A negative "*" width means left-justified.
      spec.left = true;
      spec.width = spec.width == INT_MIN ? INT_MAX : -spec.width;
    }
    switch (spec.type) {
      case u'%': out.push_back(u'%'); return;
      case u'n':
        (void)va_arg(args_, void*);  // refused: never written through
        return;
      case u'p': {
        const auto v = reinterpret_cast<std::uintptr_t>(va_arg(args_, void*));
        Spec hex = spec;
        hex.type = u'X';
        hex.precision = static_cast<int>(sizeof(void*) * 2);
        hex.alt = false;
        format_integer(out, hex, false, v);
        return;
      }
      case u'c':
      case u'C': {
        const int c = va_arg(args_, int);
        char16_t ch;
        if (narrow_size(spec, spec.type == u'C')) {
          const auto b = static_cast<unsigned char>(c);
          ch = b < 0x80 ? static_cast<char16_t>(b) : u'\uFFFD';
        } else {
          ch = static_cast<char16_t>(c);
        }
        spec.precision = -1;
        format_text(out, spec, std::u16string_view(&ch, 1));
        return;
      }
      case u's':
      case u'S': format_string(out, spec); return;
      case u'e':
      case u'E':
      case u'f':
      case u'F':
      case u'g':
      case u'G':
      case u'a':
      case u'A': format_double(out, spec, va_arg(args_, double)); return;
      default: format_int(out, spec); return;
    }
  }

  static bool is_string(char16_t t) { return t == u's' || t == u'S'; }

  void format_string(std::u16string& out, Spec& spec) {
    // "%*ls": the star argument is the string's length, not a field width.
    long limit = -1;
    if (spec.star_width && spec.precision < 0) {
      limit = spec.width < 0 ? 0 : spec.width;
      spec.width = -1;
    }
    if (narrow_size(spec, spec.type == u'S')) {
      const char* s = va_arg(args_, const char*);
      if (s == nullptr) {
        format_text(out, spec, u"(null)");
        return;
      }
      // The precision (in bytes) and the given length both bound the reading.
      const long cap = spec.precision >= 0
                           ? (limit >= 0 && limit < spec.precision ? limit : spec.precision)
                           : limit;
      std::size_t n = 0;
      while ((cap < 0 || n < static_cast<std::size_t>(cap)) && s[n] != 0) ++n;
      const std::u16string wide = kx_utf8_to_utf16_lossy(std::string_view(s, n));
      format_text(out, spec, wide);
      return;
    }
    const char16_t* s = va_arg(args_, const char16_t*);
    if (s == nullptr) {
      format_text(out, spec, u"(null)");
      return;
    }
    std::size_t n = 0;
    // Never read past the precision or the given length.
    const long cap = spec.precision >= 0
                         ? (limit >= 0 && limit < spec.precision ? limit : spec.precision)
                         : limit;
    while ((cap < 0 || n < static_cast<std::size_t>(cap)) && s[n] != 0) ++n;
    format_text(out, spec, std::u16string_view(s, n));
  }

  void format_int(std::u16string& out, const Spec& spec) {
    const bool is_signed = spec.type == u'd' || spec.type == u'i';
    long long sv = 0;
    unsigned long long uv = 0;
    switch (spec.size) {
      case Size::kLongLong:
        if (is_signed)
          sv = va_arg(args_, long long);
        else
          uv = va_arg(args_, unsigned long long);
        break;
      case Size::kPointer:
        if (is_signed)
          sv = static_cast<long long>(va_arg(args_, std::ptrdiff_t));
        else
          uv = va_arg(args_, std::size_t);
        break;
      case Size::kShort:
        if (is_signed)
          sv = static_cast<short>(va_arg(args_, int));
        else
          uv = static_cast<unsigned short>(va_arg(args_, unsigned));
        break;
      case Size::kChar:
        if (is_signed)
          sv = static_cast<signed char>(va_arg(args_, int));
        else
          uv = static_cast<unsigned char>(va_arg(args_, unsigned));
        break;
      default:  // none, "l", "I32": 32-bit as LONG is on Windows
        if (is_signed)
          sv = va_arg(args_, int);
        else
          uv = va_arg(args_, unsigned);
        break;
    }
    if (is_signed) {
      const bool negative = sv < 0;
      const unsigned long long magnitude = negative ? static_cast<unsigned long long>(-(sv + 1)) + 1
                                                    : static_cast<unsigned long long>(sv);
      format_integer(out, spec, negative, magnitude);
    } else {
      format_integer(out, spec, false, uv);
    }
  }

  va_list args_;
};

}  // namespace

std::u16string kx_vformat(const char16_t* format, va_list args) {
  Formatter f(args);
  return f.run(format);
}

std::u16string kx_format(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string s = kx_vformat(format, args);
  va_end(args);
  return s;
}

int vswprintf_s(char16_t* buffer, std::size_t count, const char16_t* format, va_list args) {
  if (buffer == nullptr || count == 0) return -1;
  const std::u16string s = kx_vformat(format, args);
  if (s.size() + 1 > count) {
    buffer[0] = 0;
    return -1;
  }
  std::memcpy(buffer, s.data(), s.size() * sizeof(char16_t));
  buffer[s.size()] = 0;
  return static_cast<int>(s.size());
}

int swprintf_s(char16_t* buffer, std::size_t count, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = vswprintf_s(buffer, count, format, args);
  va_end(args);
  return n;
}

int kx_vsnwprintf_trunc(char16_t* buffer, std::size_t count, const char16_t* format, va_list args) {
  if (buffer == nullptr || count == 0) return -1;
  const std::u16string s = kx_vformat(format, args);
  const std::size_t n = s.size() < count - 1 ? s.size() : count - 1;
  std::memcpy(buffer, s.data(), n * sizeof(char16_t));
  buffer[n] = 0;
  return n == s.size() ? static_cast<int>(n) : -1;
}

int wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args) {
  if (buffer == nullptr) return 0;
  const std::u16string s = kx_vformat(format, args);
  const std::size_t n = s.size() < 1024 ? s.size() : 1024;
  std::memcpy(buffer, s.data(), n * sizeof(char16_t));
  buffer[n] = 0;
  return static_cast<int>(n);
}

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  const int n = wvsprintfW(buffer, format, args);
  va_end(args);
  return n;
}
