// The template library as the host hands it to modules: the store's library,
// whose templates folder and bitmap folder the host's settings may replace
// ("Folder::TemplateLibrary", "Folder::Bitmaps"). Every other operation is
// the store's own.
#pragma once

#include "host/com_object.h"
#include "host/config.h"
#include "host/store_ref.h"
#include "store/templates.h"

namespace kx::host {

class TemplateLibrary final : public internal::DispatchObject<IKXQTemplateLibrary> {
 public:
  // `library` (a reference is taken) must not be null; `settings` is read
  // on every folder request, so later changes of the settings count.
  TemplateLibrary(IKXQTemplateLibrary* library, Ref<Settings> settings)
      : library_(library), settings_(std::move(settings)) {}

  IKXQTemplateLibrary* store_library() const { return library_.get(); }

  HRESULT GetTemplate(BSTR id, VARIANT version, IKXQTemplate** tmpl) override {
    return library_.get()->GetTemplate(id, version, tmpl);
  }
  HRESULT GetTemplateByName(BSTR name, VARIANT version, IKXQTemplate** tmpl) override {
    return library_.get()->GetTemplateByName(name, version, tmpl);
  }
  HRESULT get_Count(LONG* count) override { return library_.get()->get_Count(count); }
  HRESULT get_Item(LONG position, IKXQTemplate** tmpl) override {
    return library_.get()->get_Item(position, tmpl);
  }
  HRESULT get_TemplatesFolder(BSTR* path) override;
  HRESULT get_BitmapFolder(BSTR* path) override;
  HRESULT GetCachedTemplateData(BSTR id, BSTR checknum, BSTR* data) override {
    return library_.get()->GetCachedTemplateData(id, checknum, data);
  }
  HRESULT GetCachedWorkbookSource(BSTR id, BSTR checknum, BSTR* source) override {
    return library_.get()->GetCachedWorkbookSource(id, checknum, source);
  }
  HRESULT NotifyTemplateUse(BSTR id, BSTR checknum) override {
    return library_.get()->NotifyTemplateUse(id, checknum);
  }

 private:
  // The folder the setting names, else the store's.
  HRESULT Folder(const char16_t* setting, bool bitmaps, BSTR* path);

  internal::StoreRef<IKXQTemplateLibrary> library_;
  Ref<Settings> settings_;
};

}  // namespace kx::host
