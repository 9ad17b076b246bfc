// Writes the attributes each message's grammar knows, per element, as a
// table kxqhost compiles in (message_attributes.inc), so that the program
// can name an attribute of a request that the module would ignore.
//
//   kxqhost_message_attributes PLANT OUT
//
// Each message of the module's map is sent, with an empty message element,
// to a Main made in-process on a store of the sample plant; the worker table
// keeps the grammar of the parser that reaches its worker and stops the
// request there. A message whose text is not XML (a bare id or name) has no
// grammar and no row.
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "com/wstr.h"
#include "host/host.h"
#include "host/startup.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "main/messagemap.h"
#include "store/admin.h"
#include "store/database.h"

namespace {

class GrammarCapture final : public MainWorkers {
 public:
  HRESULT RunWorker(MessageParser& request, uint32_t) override {
    if (grammar == nullptr) grammar = request.GetSchema();
    return E_ABORT;
  }
  const GrammarRecord* grammar = nullptr;
};

std::string Utf8(const OLECHAR* text) { return kx_utf16_to_utf8_lossy(text ? text : u""); }

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PLANT OUT\n", argv[0]);
    return 2;
  }
  std::ifstream plant_file(argv[1], std::ios::binary);
  std::stringstream plant;
  plant << plant_file.rdbuf();
  std::unique_ptr<kx::store::Store> store;
  if (!kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store).ok() ||
      !store->ImportFixtureText(plant.str(), "plant").ok()) {
    std::fprintf(stderr, "%s: cannot make a store of %s\n", argv[0], argv[1]);
    return 1;
  }
  _com_ptr_t<IKXQSchema> schema;
  _com_ptr_t<IKXQTemplateLibrary> library;
  store->Database()->get_Schema(&schema);
  store->Database()->get_TemplateLibrary(&library);
  std::string rows;
  int messages = 0;
  {
    kx::host::Host host;
    host.application().SetStore(store->Database(), schema, library);
    // The messages that check a privilege first ("CheckDocuments", ...).
    for (const char16_t* privilege : kx::host::kHostPrivileges) host.privileges().Grant(privilege);
    GrammarCapture workers;
    IKXQDataService* service = nullptr;
    if (FAILED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)))) {
      std::fprintf(stderr, "%s: cannot make the module\n", argv[0]);
      return 1;
    }
    static_cast<Main*>(service)->UseWorkers(&workers);
    const auto module = kx::host::Ref<IKXQDataService>::Adopt(service);
    host.Attach(module.get());
    const DataServiceMapEntry* map = GetDataServiceMap();
    for (int i = 0; i < kDataServiceMessageCount; ++i) {
      const std::u16string name = map[i].name;
      workers.grammar = nullptr;
      (void)store->Begin();
      (void)host.Request(name, u"<XMLMessage><" + name + u"/></XMLMessage>");
      host.application().DiscardPendingEvents();
      (void)store->Rollback();
      if (workers.grammar == nullptr) continue;
      ++messages;
      // Element by element, in the grammar's order, with its attributes.
      std::vector<std::pair<std::string, std::string>> elements;
      for (const GrammarRecord* record = workers.grammar + 1; record->kind != kGrammarEnd;
           ++record) {
        if (record->kind == kGrammarElement) {
          elements.emplace_back(Utf8(record->name), "");
        } else if (record->kind >= kGrammarStringAttribute &&
                   record->kind <= kGrammarBooleanAttribute && !elements.empty()) {
          std::string& list = elements.back().second;
          list += (list.empty() ? "" : " ") + Utf8(record->name);
        }
      }
      for (const auto& [element, attributes] : elements) {
        rows += "    {" + Quoted(Utf8(name.c_str())) + ", " + Quoted(element) + ", " +
                Quoted(attributes) + "},\n";
      }
    }
    host.Detach();
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << "// Written by kxqhost_message_attributes: message, element, its attributes.\n" << rows;
  if (!out) return 1;
  std::fprintf(stderr, "kxqhost_message_attributes: %d messages with a grammar\n", messages);
  return 0;
}
