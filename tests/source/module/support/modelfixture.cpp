#include "modelfixture.h"

#include <gtest/gtest.h>

#include "com/errorinfo.h"
#include "com/wstr.h"
#include "testhost.h"
#include "teststore.h"

namespace kx::test::model {

ModelStore::ModelStore(const char* fixture) : store_(kx::test::OpenStore(fixture)) {
  app_ = kx::host::MakeRef<kx::host::Application>(kx::host::MakeRef<kx::host::Settings>(),
                                                  kx::host::MakeRef<kx::host::Journal>(),
                                                  kx::host::MakeRef<kx::host::Privileges>());
  kx::test::UseStore(*app_, database(), kx::test::Projects::kNone);
  SetActiveProject(1);
}

ModelStore::~ModelStore() {
  app_ = nullptr;
  ClearThreadErrorInfoForTests();
}

void ModelStore::ClearThreadErrorInfoForTests() { kx::test::ClearErrorInfo(); }

IKXQObjectPtr ModelStore::Object(LONG id) const { return kx::test::ObjectOf(database(), id); }

IKXQTemplatePagePtr ModelStore::TemplatePage(const char16_t* templateId,
                                             const char16_t* pageId) const {
  IKXQTemplateLibraryPtr library;
  (void)database()->get_TemplateLibrary(&library);
  IKXQTemplatePtr tmpl;
  if (library) (void)library->GetTemplate(_bstr_t(templateId), _variant_t(), &tmpl);
  IKXQTemplatePagePtr page;
  if (tmpl) (void)tmpl->get_PageById(_bstr_t(pageId), &page);
  if (!page) ADD_FAILURE() << "no template page";
  return page;
}

void ModelStore::SetActiveProject(LONG id) {
  kx::store::Status status = store_->SetActiveProject(id);
  if (!status.ok()) ADD_FAILURE() << status.message;
  IKXQProjectPtr active;
  IKXQProjectPtr root;
  (void)database()->get_ActiveProject(&active);
  (void)database()->get_RootProject(&root);
  app_->SetProjects(active, root);
}

std::string Narrow(const OLECHAR* text) {
  if (text == nullptr) return std::string();
  return kx_utf16_to_utf8_lossy(std::u16string_view(text, kx_wcslen(text)));
}

std::string Narrow(const _bstr_t& text) { return kx_utf16_to_utf8_lossy(text.view()); }

std::string ThreadErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return std::string();
  BSTR description = nullptr;
  (void)info->GetDescription(&description);
  info->Release();
  _bstr_t held(description, false);
  return Narrow(held);
}

}  // namespace kx::test::model

#include "kxcomexception.h"

namespace kx::test::model {

std::string FirstDesc(const KXComException& error) {
  if (error.errorInfo == nullptr) return std::string();
  BSTR description = nullptr;
  (void)error.errorInfo->GetDescription(&description);
  _bstr_t held(description, false);
  _bstr_t first(GetErrorDescription(held), false);
  return Narrow(first);
}

}  // namespace kx::test::model
