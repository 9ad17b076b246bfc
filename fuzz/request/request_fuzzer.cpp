// Drives one request per input through the host driver into a Main created
// in-process. The first byte picks the message: one of the map's names
// (byte % 97), or an unknown name for 255. With the second byte's high bit
// clear the rest is UTF-8 request text (malformed sequences replaced);
// otherwise it is taken as raw UTF-16 code units, unpaired surrogates
// included. Whatever the input, a request must end in an HRESULT: no crash,
// no leak, no sanitizer report.
//
// The module works on an in-memory store made from the page messages' test
// plant (KX_FUZZ_PLANT), so that workers run on what the parsers let
// through; each request runs in a store transaction that is rolled back, so
// every input meets the same store.
#include <cstddef>
#include <cstdint>
#include <string>

#include <fstream>
#include <memory>
#include <sstream>

#include "com/comutil.h"
#include "com/wstr.h"
#include "messagemap.h"
#include "host/host.h"
#include "main.h"
#include "store/admin.h"
#include "store/database.h"

namespace {

struct Harness {
  Harness() {
    std::ifstream file(KX_FUZZ_PLANT);
    std::stringstream text;
    text << file.rdbuf();
    if (kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store).ok() &&
        store->ImportFixtureText(text.str(), "plant").ok()) {
      _com_ptr_t<IKXQSchema> schema;
      _com_ptr_t<IKXQTemplateLibrary> library;
      (void)store->Database()->get_Schema(&schema);
      (void)store->Database()->get_TemplateLibrary(&library);
      host.application().SetStore(store->Database(), schema, library);
    } else {
      store.reset();
    }
    IKXQDataService* service = nullptr;
    if (SUCCEEDED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)))) {
      module = kx::host::Ref<IKXQDataService>::Adopt(service);
      host.Attach(module.get());
    }
  }
  std::unique_ptr<kx::store::Store> store;
  kx::host::Host host;
  kx::host::Ref<IKXQDataService> module;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  if (size == 0 || !harness.module) return 0;
  std::u16string name = u"NoSuchMessage";
  if (data[0] != 255) name = GetDataServiceMap()[data[0] % kDataServiceMessageCount].name;

  std::u16string text;
  if (size > 1) {
    const uint8_t* body = data + 1;
    const size_t length = size - 1;
    if ((body[0] & 0x80) == 0) {
      text = kx_utf8_to_utf16_lossy(
          std::string_view(reinterpret_cast<const char*>(body), length));
    } else {
      for (size_t i = 1; i + 1 < length; i += 2) {
        text.push_back(static_cast<char16_t>(body[i] | (body[i + 1] << 8)));
      }
    }
  }
  const bool transaction = harness.store && harness.store->Begin().ok();
  const kx::host::RequestResult result = harness.host.Request(name, text);
  (void)result;
  harness.host.application().DiscardPendingEvents();
  if (transaction) (void)harness.store->Rollback();
  return 0;
}
