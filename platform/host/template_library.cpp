#include "host/template_library.h"

#include "host/reply.h"

namespace kx::host {

HRESULT TemplateLibrary::Folder(const char16_t* setting, bool bitmaps, BSTR* path) {
  if (!path) return E_POINTER;
  *path = nullptr;
  const std::u16string folder = settings_->Folder(setting);
  if (folder.empty()) {
    return bitmaps ? library_.get()->get_BitmapFolder(path)
                   : library_.get()->get_TemplatesFolder(path);
  }
  *path = SysAllocStringLen(folder.data(), static_cast<UINT>(folder.size()));
  return *path ? S_OK : E_OUTOFMEMORY;
}

HRESULT TemplateLibrary::get_TemplatesFolder(BSTR* path) {
  return Folder(u"TemplateLibrary", false, path);
}

HRESULT TemplateLibrary::get_BitmapFolder(BSTR* path) { return Folder(u"Bitmaps", true, path); }

}  // namespace kx::host
