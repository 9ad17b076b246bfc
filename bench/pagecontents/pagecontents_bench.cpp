// Page contents at size: "OpenPage" of an issued page of 500 fields through
// the host, the same page current (every field read live through its
// route) against it, the same for 2,000 fields (and the current page of
// 2,000 fields against the one of 500: linear is about 4), and the datasheet loader printing
// datasheets of 10 and 50 issued pages (100 fields each), each in characters of reply per second
// against the XML writer writing the same elements alone. Each line prints
// both rates and their ratio (target: at most 3), and the loader's cost per
// page at 50 pages against 10 (linear: about 1).
//
// KXQ_BENCH_SECONDS (default 1) is the time given to each measurement.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "benchsupport.h"
#include "com/comutil.h"
#include "host/host.h"
#include "host/reply.h"
#include "kxxmlutils.h"
#include "loader/loaddatasheet.h"
#include "main/main.h"
#include "store/admin.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& why) {
  std::fprintf(stderr, "pagecontents_bench: %s\n", why.c_str());
  std::exit(1);
}

double Budget() {
  const char* text = std::getenv("KXQ_BENCH_SECONDS");
  const double seconds = text != nullptr ? std::atof(text) : 1.0;
  return seconds > 0 ? seconds : 1.0;
}

// Runs `once` (returning the characters it produced) for the time budget;
// characters per second.
template <class Once>
double Rate(Once&& once) {
  const double budget = Budget();
  const auto start = Clock::now();
  double characters = 0;
  double elapsed = 0;
  do {
    characters += static_cast<double>(once());
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < budget);
  return characters / elapsed;
}

// Seconds per call of `once`.
template <class Once>
double PerCall(Once&& once) {
  const double budget = Budget();
  const auto start = Clock::now();
  long calls = 0;
  double elapsed = 0;
  do {
    once();
    ++calls;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < budget);
  return elapsed / static_cast<double>(calls);
}

std::string FieldText(int field) {
  return "&lt;String FieldId=\"" + std::to_string(field) + "\" Value=\"value of field " +
         std::to_string(field) + "\" State=\"0\"/&gt;";
}

// A datasheet of template `templateId` with `pages` issued pages of `fields`
// stored fields each; ids from `first` (the datasheet), pages after it.
std::string Datasheet(int first, int pages, int fields, const std::string& templateId = "TB") {
  std::string xml = "<object id=\"" + std::to_string(first) +
                    "\" class=\"Datasheet\"><value attribute=\"TemplateId\">" + templateId +
                    "</value>";
  for (int p = 1; p <= pages; ++p) {
    xml += "<value attribute=\"IssuedPages\" ref=\"" + std::to_string(first + p) + "\"/>";
  }
  xml += "</object>";
  for (int p = 1; p <= pages; ++p) {
    xml += "<object id=\"" + std::to_string(first + p) + "\" class=\"Page\" owner=\"" +
           std::to_string(first) + "\"><value attribute=\"TemplateId\">" + templateId +
           "</value>"
           "<value attribute=\"PageId\">A</value><value attribute=\"Checknum\">1</value>"
           "<value attribute=\"PageNumber\">" +
           std::to_string(p) +
           "</value>"
           "<value attribute=\"Units\">m</value><value attribute=\"Revisions\">A</value>";
    for (int f = 1; f <= fields; ++f)
      xml += "<value attribute=\"Fields\">" + FieldText(f) + "</value>";
    xml += "</object>";
  }
  return xml;
}

// A template `id` of one page of `fields` string fields read live from the
// page's root object.
std::string LiveTemplate(const std::string& id, int fields) {
  std::string xml = "<template id=\"" + id +
                    "\" checknum=\"1\" kind=\"Datasheet\" classes=\"Pump\">"
                    "<page id=\"A\" name=\"Data\" revisions=\"1\">"
                    "<node name=\"Equipment\" index=\"0\" classes=\"Pump\">";
  for (int f = 1; f <= fields; ++f) {
    xml +=
        "<field id=\"" + std::to_string(f) + "\" type=\"String\" attribute=\"Name\" case=\"0\"/>";
  }
  return xml + "</node><unit dimension=\"Length\" default=\"m\"/></page></template>";
}

// A datasheet `first` of template `templateId` with one current page
// (`first` + 1) of `fields` stored fields, every one read live from pump 1600.
std::string CurrentDatasheet(int first, const std::string& templateId, int fields) {
  const std::string ds = std::to_string(first);
  const std::string page = std::to_string(first + 1);
  std::string xml =
      "<object id=\"" + ds + "\" class=\"Datasheet\"><value attribute=\"TemplateId\">" +
      templateId + "</value><value attribute=\"CurrentPages\" ref=\"" + page +
      "\"/></object><object id=\"" + page + "\" class=\"Page\" owner=\"" + ds +
      "\"><value attribute=\"TemplateId\">" + templateId +
      "</value><value attribute=\"PageId\">A</value>"
      "<value attribute=\"Checknum\">1</value>"
      "<value attribute=\"PageNumber\">1</value><value attribute=\"Units\">m</value>"
      "<value attribute=\"Revisions\">A</value>"
      "<value attribute=\"NodeObjects\" ref=\"1600\"/>"
      "<value attribute=\"NodeIndices\">1</value><value attribute=\"Cases\">1</value>";
  for (int f = 1; f <= fields; ++f)
    xml += "<value attribute=\"Fields\">" + FieldText(f) + "</value>";
  return xml + "</object>";
}

std::string Fixture() {
  std::string xml = R"(<store><schema>
   <class name="Document"><attribute name="TemplateId"/><attribute name="DocumentName"/>
    <attribute name="CurrentPages" type="object" list="true" collection="true" class="Page"/>
    <attribute name="IssuedPages" type="object" list="true" collection="true" class="Page"/>
   </class>
   <class name="Datasheet" base="Document"/>
   <class name="Pump"><attribute name="Name"/></class>
   <class name="Page"><attribute name="TemplateId"/><attribute name="PageId"/>
    <attribute name="NodeObjects" type="object" list="true"/>
    <attribute name="NodeIndices" type="integer" list="true"/>
    <attribute name="Cases" type="integer" list="true"/>
    <attribute name="Checknum"/><attribute name="PageNumber" type="integer"/><attribute name="Name"/>
    <attribute name="Fields" list="true"/><attribute name="Units" list="true"/>
    <attribute name="Revisions" list="true"/><attribute name="Annotations" list="true"/>
    <attribute name="Qualifiers" type="integer" list="true"/>
   </class></schema>
   <units><dimension name="Length" base="m"><unit name="m"/></dimension></units>
   <projects><project id="1" name="Plant"/></projects>
   <templates><template id="TB" checknum="1" kind="Datasheet" classes="Pump">
    <page id="A" name="Data" revisions="1"><node name="Equipment" index="0" classes="Pump">)";
  for (int f = 1; f <= 500; ++f) {
    xml += "<field id=\"" + std::to_string(f) + "\" type=\"String\" attribute=\"Name\"/>";
  }
  xml += R"(</node><unit dimension="Length" default="m"/></page></template>
   <template id="TC" checknum="1" kind="Datasheet" classes="Pump">
    <page id="A" name="Data" revisions="1"><node name="Equipment" index="0" classes="Pump">)";
  for (int f = 1; f <= 500; ++f) {
    xml +=
        "<field id=\"" + std::to_string(f) + "\" type=\"String\" attribute=\"Name\" case=\"0\"/>";
  }
  xml += R"(</node><unit dimension="Length" default="m"/></page></template>)";
  xml += LiveTemplate("TD", 2000);
  xml += "</templates><objects>";
  // The same 500 fields on a current page, each read live from pump 1600.
  xml +=
      R"(<object id="1600" class="Pump"><value attribute="Name">value of the pump</value></object>)";
  xml += CurrentDatasheet(1500, "TC", 500);
  xml += CurrentDatasheet(4000, "TD", 2000);
  xml += Datasheet(1000, 1, 500);
  xml += Datasheet(5000, 1, 2000, "TD");
  xml += Datasheet(2000, 10, 100);
  xml += Datasheet(3000, 50, 100);
  xml += "</objects></store>";
  return xml;
}

// The elements of `pages` pages of `fields` string fields each, written by
// the XML writer alone; characters written.
size_t WriterAlone(int pages, int fields) {
  _com_ptr_t<ikxXMLStringWriter> writer;
  if (FAILED(KXXMLStringWriter::CreateInstance(IID_ikxXMLStringWriter,
                                               reinterpret_cast<void**>(&writer)))) {
    Die("no XML writer");
  }
  writer->SetOption(false);
  for (int p = 0; p < pages; ++p) {
    for (int f = 1; f <= fields; ++f) {
      const std::u16string value =
          u"value of field " + std::u16string(_bstr_t(std::to_string(f).c_str()).view());
      writer->StartElement(u"ShowStringField");
      writer->WriteAttribute(u"PageId", LONG{1001});
      writer->WriteAttribute(u"FieldId", LONG{f});
      writer->WriteAttribute(u"State", LONG{0});
      writer->WriteAttribute(u"Value", value.c_str());
      writer->EndElement(u"ShowStringField");
    }
  }
  BSTR text = nullptr;
  writer->GetString(&text);
  _bstr_t held(text, false);
  return held.length();
}

void Row(const char* what, double service, double alone) {
  std::printf("%-34s service %12.0f chars/s   writer alone %12.0f chars/s   ratio %5.2f\n", what,
              service, alone, alone / service);
}

}  // namespace

int main() {
  const std::unique_ptr<kx::store::Store> store = kxbench::OpenStore(Fixture());
  if (!store) Die("no bench store");

  kx::host::Host host;
  kx::test::UseStore(host.application(), store->Database(), kx::test::Projects::kNone);
  const auto module = kxbench::MakeMain();
  if (!module) Die("Main could not be created");
  host.Attach(module.get());
  Main& main = kx::test::MainOf(module.get());

  const double openPage = Rate([&] {
    const kx::host::RequestResult result = host.Request(u"OpenPage", u"1001");
    if (FAILED(result.hr)) Die("OpenPage failed");
    return result.reply.size();
  });
  Row("OpenPage, 500 stored fields", openPage, Rate([] { return WriterAlone(1, 500); }));
  auto open = [&](const char16_t* page) {
    const kx::host::RequestResult result = host.Request(u"OpenPage", page);
    if (FAILED(result.hr)) Die("OpenPage failed");
  };
  const double issued = PerCall([&] { open(u"1001"); });
  const double current = PerCall([&] { open(u"1501"); });
  std::printf("%-34s current %9.1f us   issued %9.1f us   ratio %5.2f\n", "OpenPage, 500 fields",
              current * 1e6, issued * 1e6, current / issued);
  const double issued2000 = PerCall([&] { open(u"5001"); });
  const double current2000 = PerCall([&] { open(u"4001"); });
  std::printf("%-34s current %9.1f us   issued %9.1f us   ratio %5.2f\n", "OpenPage, 2000 fields",
              current2000 * 1e6, issued2000 * 1e6, current2000 / issued2000);
  std::printf("%-34s 2000 fields %9.1f us   500 fields %9.1f us   ratio %5.2f\n",
              "OpenPage, current 2000 against 500", current2000 * 1e6, current * 1e6,
              current2000 / current);

  // The loader inside a request served by hand, printing (every page's
  // contents).
  auto load = [&](LONG datasheetId) {
    auto response = kx::host::MakeRef<kx::host::Response>();
    auto context = kx::host::MakeRef<kx::host::RequestContext>(response);
    main.HoldRequest(context.get());
    IKXQObject* datasheet = nullptr;
    store->Database()->get_Object(datasheetId, &datasheet);
    PageLoadContext load(&main);
    const HRESULT hr = KXDBDatasheetSvcs::LoadDatasheet(load, datasheet, 4, false);
    datasheet->Release();
    if (FAILED(hr)) Die("the load failed");
    response->EndReply();
    return response->text().size();
  };
  const double load10 = Rate([&] { return load(2000); });
  Row("loader, 10 pages of 100 fields", load10, Rate([] { return WriterAlone(10, 100); }));
  const double load50 = Rate([&] { return load(3000); });
  Row("loader, 50 pages of 100 fields", load50, Rate([] { return WriterAlone(50, 100); }));

  const double per10 = PerCall([&] { load(2000); }) / 10;
  const double per50 = PerCall([&] { load(3000); }) / 50;
  std::printf("%-34s 10 pages %9.1f us/page   50 pages %9.1f us/page   ratio %5.2f\n",
              "loader, cost per page", per10 * 1e6, per50 * 1e6, per50 / per10);
  host.Detach();
  return 0;
}
