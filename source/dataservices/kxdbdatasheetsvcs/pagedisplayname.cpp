// The display text of a page made from its stored name and number.
#include <string>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxstoreutils.h"
#include "loaddatasheet.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/pageutils";

bool IsDigit(OLECHAR c) { return c >= u'0' && c <= u'9'; }

// The name with its first integer directive ("%d", "%i", "%u" with flags
// and width) replaced by the number and "%%" by "%"; every other "%"
// sequence is copied as it stands. The name is user text: it never reaches
// a formatter. The result is cut at the name's length plus 7 characters.
std::u16string FormatPageName(std::u16string_view name, int32_t number) {
  std::u16string out;
  bool substituted = false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != u'%') {
      out += name[i];
      continue;
    }
    if (i + 1 < name.size() && name[i + 1] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool leftAlign = false;
    bool zeroPad = false;
    std::u16string sign;
    while (j < name.size() && (name[j] == u'-' || name[j] == u'+' || name[j] == u' ' ||
                               name[j] == u'0' || name[j] == u'#')) {
      if (name[j] == u'-') leftAlign = true;
      if (name[j] == u'0') zeroPad = true;
      if (name[j] == u'+') sign = u"+";
      if (name[j] == u' ' && sign.empty()) sign = u" ";
      ++j;
    }
    size_t width = 0;
    while (j < name.size() && IsDigit(name[j]) && width < 100) {
      width = width * 10 + static_cast<size_t>(name[j] - u'0');
      ++j;
    }
    const bool integer = j < name.size() && (name[j] == u'd' || name[j] == u'i' || name[j] == u'u');
    if (!integer || substituted) {
      out += name[i];
      continue;
    }
    substituted = true;
    std::u16string digits;
    const int64_t value = name[j] == u'u' ? static_cast<int64_t>(static_cast<uint32_t>(number))
                                          : static_cast<int64_t>(number);
    const uint64_t magnitude = value < 0 ? static_cast<uint64_t>(-value) : static_cast<uint64_t>(value);
    for (uint64_t m = magnitude;; m /= 10) {
      digits.insert(digits.begin(), static_cast<char16_t>(u'0' + m % 10));
      if (m < 10) break;
    }
    const std::u16string prefix = value < 0 ? u"-" : (name[j] == u'u' ? u"" : sign);
    std::u16string field = prefix + digits;
    if (field.size() < width) {
      const size_t pad = width - field.size();
      if (leftAlign) {
        field.append(pad, u' ');
      } else if (zeroPad) {
        field.insert(prefix.size(), pad, u'0');
      } else {
        field.insert(0, pad, u' ');
      }
    }
    out += field;
    i = j;
  }
  const size_t limit = name.size() + 7;
  if (out.size() > limit) out.resize(limit);
  return out;
}

}  // namespace

namespace KXDBDatasheetSvcs {

_bstr_t GetPageDisplayName(IKXQObject* page) {
  KXComException ctx = KXComException::Silent(u"KXDBDatasheetSvcs::GetPageDisplayName");
  if (page == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
  _bstr_t name;
  GetAttributeString(page, name, u"Name", -1);
  IKXQAttributePtr numberAttribute;
  GetAttributeInterfaceAt(page, u"PageNumber", numberAttribute, -1);
  bool hasNumber = false;
  const int32_t number = numberAttribute ? GetAttributeAsInteger(numberAttribute, &hasNumber) : 0;
  const int32_t pageNumber = hasNumber ? number : -1;
  if (name.length() == 0) {
    if (pageNumber == -1) return _bstr_t(u"Unnamed");
    return _bstr_t(kx_format(u"%d", static_cast<int>(pageNumber)));
  }
  return _bstr_t(FormatPageName(name.view(), pageNumber));
}

}  // namespace KXDBDatasheetSvcs
