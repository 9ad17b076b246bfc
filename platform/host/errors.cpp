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
