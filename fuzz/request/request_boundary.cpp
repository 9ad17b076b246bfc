// Integer edges of every request: each sample request of a folder (the
// sample plant's examples/requests) is taken as it is, and every integer
// value its message's grammar knows (attributes and text elements, the
// envelope's "Status" included) is given in turn -2147483648, -1, 0, 1,
// 999999, 2147483647 and 99999999999, one value per request, the element
// added when the sample lacks it. A message without grammar (a bare text body) has its
// numbers varied instead. Each request runs against the sample plant in a
// transaction that is rolled back, so every request meets the same store.
//
//   request_boundary PLANT REQUESTS [--write DIR]
//
// Built with the sanitizer build, where an overflow or a bad access ends the
// run. With --write every request is also written to DIR in the request
// fuzzer's input form (the message's place in the map, then the text), so
// that the fuzzer starts from them (KX_FUZZ_FIXTURE=examples/plant.xml).
// A request that takes more than a second is named on standard error.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "com/wstr.h"
#include "host/host.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "main/messagemap.h"
#include "store/admin.h"
#include "store/database.h"

namespace {

namespace fs = std::filesystem;

struct Edge {
  const char* tag;
  const char* text;
};
// 999999: a position far out but within what the store takes, where a
// request that pads a list shows as a slow one.
constexpr Edge kEdges[] = {
    {"min", "-2147483648"}, {"minus1", "-1"},       {"0", "0"}, {"1", "1"}, {"million", "999999"},
    {"max", "2147483647"},  {"huge", "99999999999"}};

// Runs the real workers, or, while capturing, keeps the grammar of the
// first parser that reaches one and stops the request.
class GrammarCapture final : public MainWorkers {
 public:
  HRESULT RunWorker(MessageParser& request, uint32_t element) override {
    if (!capturing) return MainWorkers::RunWorker(request, element);
    if (grammar == nullptr) grammar = request.GetSchema();
    return E_ABORT;
  }
  bool capturing = false;
  const GrammarRecord* grammar = nullptr;
};

// What a grammar says of integers: per element, its integer attributes,
// the integer text elements, and each element's parent.
struct IntegerValues {
  std::vector<std::pair<std::string, std::string>> attributes;  // element, attribute
  std::vector<std::string> textElements;
  std::map<std::string, std::string> parent;
};

std::string Utf8(const OLECHAR* text) { return kx_utf16_to_utf8_lossy(text ? text : u""); }

IntegerValues ReadGrammar(const GrammarRecord* grammar) {
  IntegerValues values;
  std::map<uint32_t, std::string> names;  // element or text element by id
  std::vector<std::pair<std::string, uint32_t>> children;
  std::string element;
  for (const GrammarRecord* record = grammar + 1; record->kind != kGrammarEnd; ++record) {
    switch (record->kind) {
      case kGrammarElement:
        element = Utf8(record->name);
        names[record->id] = element;
        break;
      case kGrammarElementEnd: element.clear(); break;
      case kGrammarIntegerElement:
        names[record->id] = Utf8(record->name);
        values.textElements.push_back(Utf8(record->name));
        break;
      case kGrammarStringElement:
      case kGrammarRealElement:
      case kGrammarBooleanElement: names[record->id] = Utf8(record->name); break;
      case kGrammarIntegerAttribute:
        values.attributes.emplace_back(element, Utf8(record->name));
        break;
      case kGrammarChild: children.emplace_back(element, record->id); break;
      default: break;
    }
  }
  for (const auto& [owner, id] : children) {
    auto found = names.find(id);
    if (found != names.end() && !values.parent.count(found->second)) {
      values.parent[found->second] = owner;
    }
  }
  return values;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The text without its declaration and comments.
std::string Plain(std::string text) {
  for (const char* open : {"<?", "<!--"}) {
    const std::string close = open[1] == '?' ? "?>" : "-->";
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
      const size_t end = text.find(close, at);
      if (end == std::string::npos) break;
      text.erase(at, end + close.size() - at);
    }
  }
  return text;
}

// The start of the first start tag of `name`, or npos.
size_t FindTag(const std::string& text, const std::string& name) {
  for (size_t at = text.find('<' + name); at != std::string::npos;
       at = text.find('<' + name, at + 1)) {
    const char next = at + 1 + name.size() < text.size() ? text[at + 1 + name.size()] : '\0';
    if (next == ' ' || next == '/' || next == '>' || next == '\n' || next == '\t' || next == '\r') {
      return at;
    }
  }
  return std::string::npos;
}

// Puts `inner` as the first content of the first `parent` element.
std::optional<std::string> InsertChild(std::string text, const std::string& parent,
                                       const std::string& inner) {
  const size_t at = FindTag(text, parent);
  if (at == std::string::npos) return std::nullopt;
  const size_t end = text.find('>', at);
  if (end == std::string::npos) return std::nullopt;
  if (text[end - 1] == '/') {
    text.replace(end - 1, 2, '>' + inner + "</" + parent + '>');
  } else {
    text.insert(end + 1, inner);
  }
  return text;
}

std::optional<std::string> WithAttribute(std::string text, const IntegerValues& grammar,
                                         const std::string& element, const std::string& attribute,
                                         const std::string& value) {
  const size_t at = FindTag(text, element);
  if (at == std::string::npos) {
    auto parent = grammar.parent.find(element);
    if (parent == grammar.parent.end()) return std::nullopt;
    return InsertChild(text, parent->second,
                       '<' + element + ' ' + attribute + "=\"" + value + "\"/>");
  }
  const size_t end = text.find('>', at);
  if (end == std::string::npos) return std::nullopt;
  for (const char blank : {' ', '\n', '\t', '\r'}) {
    const size_t named = text.find(blank + attribute + "=\"", at);
    if (named != std::string::npos && named < end) {
      const size_t from = named + attribute.size() + 3;
      const size_t to = text.find('"', from);
      text.replace(from, to - from, value);
      return text;
    }
  }
  text.insert(at + 1 + element.size(), ' ' + attribute + "=\"" + value + '"');
  return text;
}

std::optional<std::string> WithText(std::string text, const IntegerValues& grammar,
                                    const std::string& element, const std::string& value) {
  const size_t at = text.find('<' + element + '>');
  if (at == std::string::npos) {
    auto parent = grammar.parent.find(element);
    if (parent == grammar.parent.end()) return std::nullopt;
    return InsertChild(text, parent->second, '<' + element + '>' + value + "</" + element + '>');
  }
  const size_t from = at + element.size() + 2;
  const size_t to = text.find('<', from);
  if (to == std::string::npos) return std::nullopt;
  text.replace(from, to - from, value);
  return text;
}

// The message a sample file holds: its first element inside "XMLMessage",
// or for a bare body the file name in camel case.
std::string MessageOf(const fs::path& path, const std::string& plain) {
  if (path.extension() == ".xml") {
    for (size_t at = plain.find('<'); at != std::string::npos; at = plain.find('<', at + 1)) {
      size_t end = at + 1;
      while (end < plain.size() &&
             (std::isalnum(static_cast<unsigned char>(plain[end])) || plain[end] == '_')) {
        ++end;
      }
      const std::string name = plain.substr(at + 1, end - at - 1);
      if (!name.empty() && name != "XMLMessage") return name;
    }
    return {};
  }
  std::string name;
  bool upper = true;
  for (const char c : path.stem().string()) {
    if (c == '-') {
      upper = true;
      continue;
    }
    name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    upper = false;
  }
  return name;
}

// The sample moved onto the sample plant's continuous list (page 1071, a
// row of field 404) when its message names a page, a field and a row:
// rows reach arithmetic that ordinary pages do not.
std::optional<std::string> OnContinuousList(std::string text, const IntegerValues& grammar) {
  auto has = [&](const std::string& attribute) {
    return std::any_of(grammar.attributes.begin(), grammar.attributes.end(),
                       [&](const auto& value) { return value.second == attribute; });
  };
  if (!has("PageId") || !has("Index")) return std::nullopt;
  for (const auto& [element, attribute] : grammar.attributes) {
    const char* value = attribute == "PageId"    ? "1071"
                        : attribute == "FieldId" ? "404"
                        : attribute == "ID"      ? "404"
                        : attribute == "Index"   ? "2"
                                                 : nullptr;
    if (value == nullptr) continue;
    auto moved = WithAttribute(text, grammar, element, attribute, value);
    if (!moved) return std::nullopt;
    text = *moved;
  }
  return text;
}

// A bare body with each of its numbers (a whole body, or a field between
// "!::!" separators, that is a decimal number) set to the edge.
std::vector<std::string> BareVariants(const std::string& body, const char* edge) {
  std::vector<std::string> variants;
  std::vector<std::string> fields;
  const std::string separator = "!::!";
  size_t from = 0;
  for (size_t at = body.find(separator); at != std::string::npos; at = body.find(separator, from)) {
    fields.push_back(body.substr(from, at - from));
    from = at + separator.size();
  }
  fields.push_back(body.substr(from));
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string field = fields[i];
    field.erase(field.find_last_not_of(" \r\n\t") + 1);
    if (field.empty() || field.find_first_not_of("-0123456789") != std::string::npos) continue;
    std::string variant;
    for (size_t j = 0; j < fields.size(); ++j) {
      if (j) variant += separator;
      variant += j == i ? std::string(edge) : fields[j];
    }
    variants.push_back(variant);
  }
  return variants;
}

struct Harness {
  explicit Harness(const std::string& plant) {
    if (!kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &store).ok() ||
        !store->ImportFixtureText(ReadFile(plant), "plant").ok()) {
      store.reset();
      return;
    }
    _com_ptr_t<IKXQSchema> schema;
    _com_ptr_t<IKXQTemplateLibrary> library;
    store->Database()->get_Schema(&schema);
    store->Database()->get_TemplateLibrary(&library);
    host.application().SetStore(store->Database(), schema, library);
    for (const char16_t* folder : {u"TemplateLibrary", u"Bitmaps", u"Templates", u"Datasheets"}) {
      host.settings().SetFolder(folder, u"/nonexistent-kxq-boundary/" + std::u16string(folder));
    }
    IKXQDataService* service = nullptr;
    if (SUCCEEDED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)))) {
      static_cast<Main*>(service)->UseWorkers(&workers);
      module = kx::host::Ref<IKXQDataService>::Adopt(service);
      host.Attach(module.get());
    }
  }
  ~Harness() {
    host.application().DiscardPendingEvents();
    host.Detach();
  }
  HRESULT Run(const std::u16string& name, const std::string& text) {
    const bool transaction = store->Begin().ok();
    const kx::host::RequestResult result = host.Request(name, kx_utf8_to_utf16_lossy(text));
    host.application().DiscardPendingEvents();
    if (transaction) (void)store->Rollback();
    return result.hr;
  }
  GrammarCapture workers;
  std::unique_ptr<kx::store::Store> store;
  kx::host::Host host;
  kx::host::Ref<IKXQDataService> module;
};

int MapIndex(const std::string& message) {
  const DataServiceMapEntry* map = GetDataServiceMap();
  for (int i = 0; i < kDataServiceMessageCount; ++i) {
    if (Utf8(map[i].name) == message) return i;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 5 && std::string(argv[3]) == "--write")) {
    std::fprintf(stderr, "usage: %s PLANT REQUESTS [--write DIR]\n", argv[0]);
    return 2;
  }
  std::optional<fs::path> out;
  if (argc == 5) {
    out = argv[4];
    fs::create_directories(*out);
  }
  Harness harness(argv[1]);
  if (!harness.store || !harness.module) {
    std::fprintf(stderr, "cannot make the store of %s\n", argv[1]);
    return 1;
  }
  std::vector<fs::path> samples;
  for (const auto& entry : fs::directory_iterator(argv[2])) samples.push_back(entry.path());
  std::sort(samples.begin(), samples.end());

  int requests = 0, failed = 0;
  for (const fs::path& sample : samples) {
    const std::string plain = Plain(ReadFile(sample));
    const std::string message = MessageOf(sample, plain);
    const int index = MapIndex(message);
    if (index < 0) {
      std::fprintf(stderr, "%s: no message of the map\n", sample.filename().c_str());
      return 1;
    }
    const std::u16string name = kx_utf8_to_utf16_lossy(message);
    harness.workers.capturing = true;
    harness.workers.grammar = nullptr;
    (void)harness.Run(name, plain);
    harness.workers.capturing = false;

    std::vector<std::pair<std::string, std::string>> variants;  // file name, text
    const std::string stem = sample.stem().string();
    for (const Edge& edge : kEdges) {
      if (harness.workers.grammar == nullptr) {
        int n = 0;
        for (const std::string& text : BareVariants(plain, edge.text)) {
          variants.emplace_back(stem + "-body" + std::to_string(n++) + '-' + edge.tag, text);
        }
        continue;
      }
      const IntegerValues grammar = ReadGrammar(harness.workers.grammar);
      std::vector<std::pair<std::string, std::string>> bases = {{stem, plain}};
      if (auto moved = OnContinuousList(plain, grammar)) bases.emplace_back(stem + "-list", *moved);
      for (const auto& [base, basis] : bases) {
        for (const auto& [element, attribute] : grammar.attributes) {
          if (auto text = WithAttribute(basis, grammar, element, attribute, edge.text)) {
            variants.emplace_back(base + '-' + element + '-' + attribute + '-' + edge.tag, *text);
          }
        }
        for (const std::string& element : grammar.textElements) {
          if (auto text = WithText(basis, grammar, element, edge.text)) {
            variants.emplace_back(base + '-' + element + '-' + edge.tag, *text);
          }
        }
      }
    }
    for (const auto& [file, text] : variants) {
      if (out) {
        std::ofstream seed(*out / file, std::ios::binary);
        seed.put(static_cast<char>(index));
        seed << text;
      }
      const auto start = std::chrono::steady_clock::now();
      const HRESULT hr = harness.Run(name, text);
      const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
      if (took.count() > 1.0) std::fprintf(stderr, "%s: %.1f s\n", file.c_str(), took.count());
      ++requests;
      if (FAILED(hr)) ++failed;
    }
  }
  std::printf("%d requests, %d refused\n", requests, failed);
  return 0;
}
