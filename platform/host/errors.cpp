#include "host/errors.h"

#include "com/errorinfo.h"
#include "com/oleauto.h"
#include "host/com_object.h"
#include "host/internal/xml_text.h"

namespace kx::host::internal {

HRESULT Fail(HRESULT hr, std::u16string_view description) {
  const std::u16string text(description);
  (void)kx_set_error_info(hr, text.c_str(), u"KXQHost");
  return hr;
}

std::u16string PlainDescription(std::u16string_view error) {
  constexpr std::u16string_view kTag = u"<KXError";
  constexpr std::u16string_view kDesc = u" Desc=\"";
  const size_t blank = error.find_first_not_of(u" \t\r\n");
  if (blank == std::u16string_view::npos || error.substr(blank, kTag.size()) != kTag) {
    return std::u16string(error);
  }
  const size_t end = error.find(u'>', blank);
  const size_t desc = error.find(kDesc, blank);
  if (desc == std::u16string_view::npos || desc > end) return std::u16string(error);
  const size_t start = desc + kDesc.size();
  const size_t close = error.find(u'"', start);
  if (close == std::u16string_view::npos) return std::u16string(error);
  const std::u16string_view raw = error.substr(start, close - start);
  std::u16string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    const size_t semicolon = raw[i] == u'&' ? raw.find(u';', i) : std::u16string_view::npos;
    if (semicolon == std::u16string_view::npos || semicolon - i > 10) {
      text += raw[i];
      continue;
    }
    const std::u16string_view entity = raw.substr(i + 1, semicolon - i - 1);
    char32_t c = 0;
    if (entity == u"amp") c = u'&';
    if (entity == u"lt") c = u'<';
    if (entity == u"gt") c = u'>';
    if (entity == u"quot") c = u'"';
    if (entity == u"apos") c = u'\'';
    if (entity.size() > 1 && entity[0] == u'#') {
      const bool hex = entity[1] == u'x' || entity[1] == u'X';
      for (size_t k = hex ? 2 : 1; k < entity.size() && c <= 0x10FFFF; ++k) {
        const char16_t d = entity[k];
        const int digit = d >= u'0' && d <= u'9'          ? d - u'0'
                          : hex && d >= u'a' && d <= u'f' ? d - u'a' + 10
                          : hex && d >= u'A' && d <= u'F' ? d - u'A' + 10
                                                          : -1;
        if (digit < 0) {
          c = 0;
          break;
        }
        c = c * (hex ? 16 : 10) + static_cast<char32_t>(digit);
      }
      if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0;
    }
    if (c == 0) {
      text += raw[i];
      continue;
    }
    if (c >= 0x10000) {
      text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      text += static_cast<char16_t>(c);
    }
    i = semicolon;
  }
  return text;
}

std::u16string TakeErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return {};
  BSTR description = nullptr;
  std::u16string text;
  if (SUCCEEDED(info->GetDescription(&description))) text = BstrView(description);
  SysFreeString(description);
  info->Release();
  return text;
}

}  // namespace kx::host::internal
