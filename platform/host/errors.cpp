#include "host/errors.h"

#include "com/errorinfo.h"
#include "com/oleauto.h"
#include "host/com_object.h"
#include "host/internal/xml_text.h"

namespace kx::host::internal {

HRESULT Fail(HRESULT hr, std::u16string_view description) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create)) || !create) return hr;
  const std::u16string text(description);
  create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
  create->SetSource(const_cast<LPOLESTR>(u"KXQHost"));
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
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
