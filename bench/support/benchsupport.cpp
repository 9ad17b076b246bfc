#include "benchsupport.h"

#include <cstdio>

#include "main/main.h"

namespace kxbench {

std::unique_ptr<kx::store::Store> OpenStore(const std::string& fixture, const char* name) {
  std::unique_ptr<kx::store::Store> store;
  kx::store::Status status =
      kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store);
  if (status.ok()) status = store->ImportFixtureText(fixture, name);
  if (status.ok()) return store;
  std::fprintf(stderr, "cannot make the bench store: %s\n", status.message.c_str());
  return nullptr;
}

kx::host::Ref<IKXQDataService> MakeMain() {
  IKXQDataService* made = nullptr;
  if (FAILED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&made)))) return {};
  return kx::host::Ref<IKXQDataService>::Adopt(made);
}

IKXQTemplatePagePtr TemplatePage(IKXQDatabase* database, const char16_t* tmpl,
                                 const char16_t* page) {
  IKXQTemplateLibraryPtr library;
  IKXQTemplatePtr found;
  IKXQTemplatePagePtr templatePage;
  (void)database->get_TemplateLibrary(&library);
  if (library) (void)library->GetTemplate(_bstr_t(tmpl), _variant_t(), &found);
  if (found) (void)found->get_PageById(_bstr_t(page), &templatePage);
  return templatePage;
}

}  // namespace kxbench
