// The pieces of testhost.h that need no test framework; the benchmarks
// build them too.
#include "main/main.h"
#include "testhost.h"

namespace kx::test {

void UseStore(kx::host::Application& app, IKXQDatabase* database, Projects projects) {
  IKXQSchemaPtr schema;
  IKXQTemplateLibraryPtr library;
  (void)database->get_Schema(&schema);
  (void)database->get_TemplateLibrary(&library);
  app.SetStore(database, schema, library);
  if (projects == Projects::kNone) return;
  IKXQProjectPtr active;
  IKXQProjectPtr root;
  (void)database->get_RootProject(&root);
  if (projects == Projects::kActive) (void)database->get_ActiveProject(&active);
  app.SetProjects(projects == Projects::kActive ? active : root, root);
}

Main& MainOf(IKXQDataService* service) { return static_cast<Main&>(*service); }

}  // namespace kx::test
