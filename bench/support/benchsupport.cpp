#include "benchsupport.h"

#include <cstdio>

#include "main.h"

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

void UseStore(kx::host::Application& app, IKXQDatabase* database, bool projects) {
  IKXQSchemaPtr schema;
  IKXQTemplateLibraryPtr library;
  (void)database->get_Schema(&schema);
  (void)database->get_TemplateLibrary(&library);
  app.SetStore(database, schema, library);
  if (!projects) return;
  IKXQProjectPtr root;
  (void)database->get_RootProject(&root);
  app.SetProjects(root, root);
}

kx::host::Ref<IKXQDataService> MakeMain() {
  IKXQDataService* made = nullptr;
  if (FAILED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&made)))) return {};
  return kx::host::Ref<IKXQDataService>::Adopt(made);
}

Main& MainOf(IKXQDataService* service) { return static_cast<Main&>(*service); }

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
