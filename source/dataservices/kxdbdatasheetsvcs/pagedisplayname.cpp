// The display text of a page made from its stored name and number.
#include <string>

#include "com/wstr.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "kxdbdatasheetutils.h"
#include "kxstoreutils.h"
#include "loaddatasheet.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/pageutils";

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
