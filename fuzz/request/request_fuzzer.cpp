// Drives one request per input through the host driver into a Main created
// in-process. The first byte picks the message: one of the map's names
// (byte % 97), or an unknown name for 255. With the second byte's high bit
// clear the rest is UTF-8 request text (malformed sequences replaced);
// otherwise it is taken as raw UTF-16 code units, unpaired surrogates
// included. Whatever the input, a request must end in an HRESULT: no crash,
// no leak, no sanitizer report.
//
// The application has a small in-memory store (kTemplates: a template
// library, template records, a datasheet with pages and a user) and four
// folders that do not exist, so that the template, file and page messages
// reach their store reads, their workbook decoding, the host's file checks
// and the page and field workers. Each request runs in a store transaction that is
// rolled back, so every input meets the same store.
//
// With KX_FUZZ_FIXTURE naming a fixture file (examples/plant.xml) the store
// is made from it instead: the seeds of fuzz/request/boundary (written by
// request_boundary) are requests against the sample plant.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "com/wstr.h"
#include "host/host.h"
#include "main/main.h"
#include "main/messagemap.h"
#include "store/admin.h"
#include "store/database.h"

namespace {

constexpr char kTemplates[] = R"(<store>
 <schema>
  <class name="GenericClass"><attribute name="Name"/></class>
  <class name="Pump" base="GenericClass"/>
  <class name="GlobalsClass" base="GenericClass"/>
  <class name="Template" base="GenericClass">
   <attribute name="TemplateId"/><attribute name="Checknum"/><attribute name="ExcelFile" type="binary"/>
  </class>
  <class name="Page">
   <attribute name="TemplateId"/><attribute name="PageId"/><attribute name="Checknum"/>
   <attribute name="NodeObjects" type="object" list="true"/>
   <attribute name="NodeIndices" type="integer" list="true"/>
   <attribute name="HiddenObjects" type="integer" list="true"/>
   <attribute name="Cases" type="integer" list="true"/>
   <attribute name="Fields" list="true"/>
  </class>
  <class name="Datasheet" base="GenericClass">
   <attribute name="TemplateId"/>
   <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/>
  </class>
 </schema>
 <templates folder="" bitmaps="">
  <template id="PUMP" checknum="2" name="Pump %d" kind="Datasheet" path="pump.xls" classes="Pump">
   <cachedData>cached</cachedData>
   <page id="P1" name="Page %05d of %s %%"><node name="Pump" index="0" classes="Pump" caseSlot="0">
    <field id="1" type="String" attribute="Name" case="0"/><field id="2" type="Boolean" attribute="Name"/>
   </node></page>
  </template>
  <template id="LIST" name="List" kind="Summary" classes="GenericClass">
   <page id="L1" name="%d%d%n" continuous="rows=10"/>
  </template>
  <template id="BAD" name="No class" kind="Datasheet"><page id="B1" name=""/></template>
 </templates>
 <objects>
  <object id="100" class="Pump"><value attribute="Name">P-100</value></object>
  <object id="900" class="Template"><value attribute="TemplateId">PUMP</value><value attribute="Checknum">2</value></object>
  <object id="1000" class="Datasheet">
   <value attribute="TemplateId">PUMP</value><value attribute="CurrentPages" ref="1001"/>
  </object>
  <object id="1001" class="Page" owner="1000">
   <value attribute="TemplateId">PUMP</value><value attribute="PageId">P1</value>
   <value attribute="NodeObjects" ref="100"/><value attribute="NodeIndices">1</value>
   <value attribute="Cases">1</value><value attribute="Fields">&lt;String FieldId="1" Alignment="1"/&gt;</value>
  </object>
 </objects>
</store>)";

struct Harness {
  Harness() {
    std::string fixture = kTemplates;
    if (const char* path = std::getenv("KX_FUZZ_FIXTURE")) {
      std::ifstream file(path, std::ios::binary);
      std::stringstream text;
      text << file.rdbuf();
      fixture = text.str();
    }
    if (kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store).ok() &&
        store->ImportFixtureText(fixture, "templates").ok()) {
      _com_ptr_t<IKXQSchema> schema;
      _com_ptr_t<IKXQTemplateLibrary> library;
      store->Database()->get_Schema(&schema);
      store->Database()->get_TemplateLibrary(&library);
      host.application().SetStore(store->Database(), schema, library);
    }
    for (const char16_t* folder : {u"TemplateLibrary", u"Bitmaps", u"Templates", u"Datasheets"}) {
      host.settings().SetFolder(folder, u"/nonexistent-kxq-fuzz/" + std::u16string(folder));
    }
    IKXQDataService* service = nullptr;
    if (SUCCEEDED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)))) {
      module = kx::host::Ref<IKXQDataService>::Adopt(service);
      host.Attach(module.get());
    }
  }
  // Destroyed last: the host and the module hold the store's objects.
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
      text = kx_utf8_to_utf16_lossy(std::string_view(reinterpret_cast<const char*>(body), length));
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
