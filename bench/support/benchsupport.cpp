#include "benchsupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

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

std::string LengthenedPumpSummary(int rows, const std::string& values) {
  std::ifstream file(std::string(KX_EXAMPLES_DIR) + "/plant.xml");
  std::stringstream text;
  text << file.rdbuf();
  std::string xml = text.str();
  std::string pumps;
  std::string refs;
  for (int r = 0; r < rows; ++r) {
    const std::string id = std::to_string(200000 + r);
    pumps += "<object id=\"" + id + "\" class=\"Pump\"><value attribute=\"Name\">G-" +
             std::to_string(r) + "</value>" + values + "</object>\n";
    refs += "<value attribute=\"NodeObjects\" ref=\"" + id + "\"/>";
  }
  const std::string lastRow = "<value attribute=\"NodeObjects\" ref=\"106\"/>";
  const size_t row = xml.find(lastRow);
  const size_t objects = xml.find("<objects>");
  if (row == std::string::npos || objects == std::string::npos) std::abort();
  xml.insert(row + lastRow.size(), refs);
  xml.insert(objects + 9, pumps);
  return xml;
}

}  // namespace kxbench
