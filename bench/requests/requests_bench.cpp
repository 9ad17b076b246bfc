// Every message whose grammar lets an element or a text value repeat, sent
// through the host driver with one entry named n = 10,000 and 100,000 times
// against the sample plant (examples/plant.xml). Each request runs in a
// child process of its own, on a fresh store, so that its peak memory can
// be read from the child's resource usage: "peak_MB" is the child's maximum
// resident set (store, request text, reply and all), "request_MB" the
// request's text. Time and memory should grow linearly with n: the ratio of
// the two sizes about 10 or less.
//
// The message element itself may repeat too, each one with an entry of its
// own (the rows labelled "message elements"): each element's worker runs
// for its own entries only. Every message below is also sent as 1,000 and
// 4,000 such elements (its head, one entry and its tail, repeated): the
// cost of an element must not depend on the elements before it, so 4,000
// should take about four times 1,000 (within five times).
//
// A few messages do new work for every entry even when the entries are
// alike ("CreateDocuments" makes a document each, "InsertPages" a page
// each) and are run with 1,000 and 10,000 entries; "CheckDocuments" and
// "IssueDocuments" fail at a document's second entry (it was checked or
// issued by the first), so their cost is the parse.
#include <benchmark/benchmark.h>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "benchsupport.h"
#include "com/wstr.h"
#include "host/host.h"

namespace {

struct Message {
  const char* name;    // the message sent
  const char* target;  // the envelope's "TargetId"
  const char* head;    // the message element's start
  const char* entry;   // the repeated entry
  const char* tail;    // what follows the entries
  bool mayFail = false;
};

const Message kMessages[] = {
    {"SubmitDocuments", "App", "<SubmitDocuments Confirmed=\"1\">",
     "<Datasheet DocumentId=\"1001\"/>", "</SubmitDocuments>"},
    {"SubmitDocuments", "App", "<SubmitDocuments>", "<Datasheet DocumentId=\"1002\"/>",
     "</SubmitDocuments>"},
    {"CheckDocuments", "App", "<CheckDocuments>", "<Datasheet DocumentId=\"1002\"/>",
     "</CheckDocuments>", true},
    {"IssueDocuments", "App", "<IssueDocuments Revision=\"B\">", "<Datasheet DocumentId=\"1002\"/>",
     "</IssueDocuments>", true},
    {"WithdrawDocuments", "App", "<WithdrawDocuments Confirmed=\"1\">",
     "<Datasheet DocumentId=\"1002\" Status=\"2\"/>", "</WithdrawDocuments>"},
    {"OpenDocuments", "App", "<OpenDocuments>", "<Datasheet DocumentId=\"1001\" Status=\"1\"/>",
     "<Diagram DocumentId=\"1101\" Status=\"1\"/></OpenDocuments>"},
    {"PrintDocuments", "App", "<PrintDocuments>", "<Datasheet DocumentId=\"1002\" Status=\"2\"/>",
     "</PrintDocuments>"},
    {"ExportDocuments", "App", "<ExportDocuments>", "<Datasheet DocumentId=\"1001\" Status=\"4\"/>",
     "</ExportDocuments>"},
    {"CloseDocuments", "App", "<CloseDocuments>", "<Datasheet DocumentId=\"1001\" Status=\"1\"/>",
     "</CloseDocuments>"},
    {"RenameDocuments", "App", "<RenameDocuments>",
     "<Datasheet DocumentId=\"1002\" Status=\"1\" Name=\"B\"/>", "</RenameDocuments>"},
    {"CompareDocuments", "App", "<CompareDocuments>",
     "<Datasheet1 DocumentId1=\"1004\" Status1=\"1\"/>",
     "<Datasheet2 DocumentId2=\"1005\" Status2=\"1\"/></CompareDocuments>"},
    {"UpdateTemplates", "App", "<UpdateTemplates Delete=\"false\">",
     "<DocumentId>1005</DocumentId>", "</UpdateTemplates>"},
    {"ListDatasheetsByObject", "Browser", "<ListDatasheetsByObject>", "<ObjectId>101</ObjectId>",
     "</ListDatasheetsByObject>"},
    {"ListDatasheetsByTemplate", "Browser", "<ListDatasheetsByTemplate>",
     "<TemplateId>PUMP-DS</TemplateId>", "</ListDatasheetsByTemplate>"},
    {"ListDiagramsByObject", "Browser", "<ListDiagramsByObject CaseId=\"1\">",
     "<ObjectId>101</ObjectId>", "</ListDiagramsByObject>"},
    {"ListTemplatePagesByObject", "Insert", "<ListTemplatePagesByObject>",
     "<ObjectId>101</ObjectId>", "</ListTemplatePagesByObject>"},
    {"GetFieldFormat", "Editor", "<GetFieldFormat PageId=\"1011\">", "<FieldId ID=\"103\"/>",
     "</GetFieldFormat>"},
    {"SetFieldFormat", "Editor", "<SetFieldFormat PageId=\"1011\" Alignment=\"2\">",
     "<FieldId ID=\"103\"/>", "</SetFieldFormat>"},
    {"GetFieldStatus", "Editor", "<GetFieldStatus PageId=\"1011\">", "<FieldId ID=\"103\"/>",
     "</GetFieldStatus>"},
    {"SetFieldStatus", "Editor", "<SetFieldStatus PageId=\"1011\" IsLocked=\"1\">",
     "<FieldId ID=\"103\"/>", "</SetFieldStatus>"},
    {"ShowFieldObjects", "Editor", "<ShowFieldObjects PageId=\"1011\">", "<Field FieldId=\"103\"/>",
     "</ShowFieldObjects>"},
    {"HideFieldObjects", "Editor", "<HideFieldObjects PageId=\"1011\" Confirmed=\"1\">",
     "<Field FieldId=\"103\"/>", "</HideFieldObjects>"},
    {"AddFieldObjects", "Editor", "<AddFieldObjects PageId=\"1011\" Confirmed=\"1\">",
     "<Field FieldId=\"103\" ObjectId=\"102\"/>", "</AddFieldObjects>"},
    {"RemoveFieldObjects", "Editor", "<RemoveFieldObjects PageId=\"1011\" Confirmed=\"1\">",
     "<Field FieldId=\"103\" ObjectId=\"101\"/>", "</RemoveFieldObjects>"},
    {"DeleteFieldObjects", "Editor", "<DeleteFieldObjects PageId=\"1011\">",
     "<Field FieldId=\"103\"/>", "</DeleteFieldObjects>"},
    {"ShowPrimaryObjects", "Editor", "<ShowPrimaryObjects PageId=\"1011\">",
     "<Field FieldId=\"103\"/>", "</ShowPrimaryObjects>"},
    {"GetInfoForReport", "Editor", "<GetInfoForReport>", "<Field FieldId=\"103\" PageId=\"1011\"/>",
     "</GetInfoForReport>"},
    {"InsertPages", "1002", "<InsertPages PageId=\"1021\" Before=\"0\">",
     "<Page TemplateId=\"PUMP-DS\" TemplatePageId=\"P2\"/>", "</InsertPages>"},
    {"CreateDocuments", "App", "<CreateDocuments CaseId=\"1\">",
     "<Datasheet ObjectId=\"132\" TemplateId=\"VESSEL-DS\"/>", "</CreateDocuments>"},
    // The message element repeated, with one entry each.
    {"SubmitDocuments", "App", "",
     "<SubmitDocuments Confirmed=\"1\"><Datasheet DocumentId=\"1001\"/></SubmitDocuments>", ""},
    {"OpenDocuments", "App", "",
     "<OpenDocuments><Datasheet DocumentId=\"1001\" Status=\"1\"/></OpenDocuments>", ""},
    {"CompareDocuments", "App", "",
     "<CompareDocuments><Datasheet1 DocumentId1=\"1004\" Status1=\"1\"/>"
     "<Datasheet2 DocumentId2=\"1005\" Status2=\"1\"/></CompareDocuments>",
     ""},
    {"UpdateTemplates", "App", "",
     "<UpdateTemplates><DocumentId>1005</DocumentId></UpdateTemplates>", ""},
    {"ListDatasheetsByObject", "Browser", "",
     "<ListDatasheetsByObject><ObjectId>101</ObjectId></ListDatasheetsByObject>", ""},
    {"ListTemplatePagesByObject", "Insert", "",
     "<ListTemplatePagesByObject><ObjectId>101</ObjectId></ListTemplatePagesByObject>", ""},
    {"GetFieldFormat", "Editor", "",
     "<GetFieldFormat PageId=\"1011\"><FieldId ID=\"103\"/></GetFieldFormat>", ""},
    {"GetFieldStatus", "Editor", "",
     "<GetFieldStatus PageId=\"1011\"><FieldId ID=\"103\"/></GetFieldStatus>", ""},
    {"ShowFieldObjects", "Editor", "",
     "<ShowFieldObjects PageId=\"1011\"><Field FieldId=\"103\"/></ShowFieldObjects>", ""},
    {"GetInfoForReport", "Editor", "",
     "<GetInfoForReport><Field FieldId=\"103\" PageId=\"1011\"/></GetInfoForReport>", ""},
    // Each element's page goes after the page the element before it placed.
    {"InsertPages", "1002", "",
     "<InsertPages><Page TemplateId=\"PUMP-DS\" TemplatePageId=\"P2\"/></InsertPages>", ""},
    // Each element adds an annotation to the page; the change event shows
    // them all.
    {"CreateAnnotation", "Editor", "",
     "<CreateAnnotation PageId=\"1012\" Value=\"Motor rating\" X=\"80\" Y=\"410\" "
     "Markup=\"0\"/>",
     ""},
    {"SetAnnotation", "Editor", "",
     "<SetAnnotation PageId=\"1011\" AnnotationId=\"1\" Value=\"NPSH margin\"/>", ""},
    {"MoveAnnotation", "Editor", "",
     "<MoveAnnotation PageId=\"1011\" AnnotationId=\"1\" X=\"140\" Y=\"360\"/>", ""},
};

std::string PlantText() {
  std::ifstream file(std::string(KX_EXAMPLES_DIR) + "/plant.xml");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// `entries` entries in one message element, or (elements) as many message
// elements of one entry each.
std::u16string Request(const Message& message, int entries, bool elements) {
  std::string text = std::string("<XMLMessage TargetId=\"") + message.target + "\" Status=\"1\">";
  if (!elements) text += message.head;
  const std::string entry =
      elements ? std::string(message.head) + message.entry + message.tail : message.entry;
  text.reserve(text.size() + entry.size() * static_cast<size_t>(entries) + 256);
  for (int i = 0; i < entries; ++i) text += entry;
  if (!elements) text += message.tail;
  text += "</XMLMessage>";
  return kx_utf8_to_utf16_lossy(text);
}

struct Outcome {
  double seconds = 0;
  bool ok = false;
  char error[200] = {};
};

// In the child: a fresh store and Main, the request timed.
Outcome RunChild(const Message& message, const std::u16string& request) {
  Outcome outcome;
  auto store = kxbench::OpenStore(PlantText(), "sample plant");
  if (!store) return outcome;
  kx::host::Ref<IKXQDataService> module = kxbench::MakeMain();
  if (!module) return outcome;
  kx::host::Host host;
  kx::test::UseStore(host.application(), store->Database(), kx::test::Projects::kActive);
  host.Attach(module.get());
  const auto start = std::chrono::steady_clock::now();
  const auto result = host.Request(kx_utf8_to_utf16_lossy(message.name), request);
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.ok = SUCCEEDED(result.hr) || message.mayFail;
  if (!outcome.ok) {
    const std::string error = kx_utf16_to_utf8_lossy(result.error);
    error.copy(outcome.error, sizeof(outcome.error) - 1);
  }
  host.Detach();
  return outcome;
}

void BM_RepeatedEntries(benchmark::State& state) {
  const Message& message = kMessages[state.range(0)];
  const int entries = static_cast<int>(state.range(1));
  const bool elements = state.range(2) != 0;
  const std::string head = message.head;
  state.SetLabel(std::string(message.name) + (head.empty() || elements ? " (message elements)"
                                              : head.find("Confirmed") != std::string::npos ||
                                                      std::string(message.name) != "SubmitDocuments"
                                                  ? ""
                                                  : " (questions)"));
  const std::u16string request = Request(message, entries, elements);
  long peakKB = 0;
  for (auto _ : state) {
    int channel[2];
    if (pipe(channel) != 0) {
      state.SkipWithError("no pipe");
      break;
    }
    const pid_t child = fork();
    if (child == 0) {
      close(channel[0]);
      const Outcome outcome = RunChild(message, request);
      (void)!write(channel[1], &outcome, sizeof(outcome));
      _exit(0);
    }
    close(channel[1]);
    Outcome outcome;
    const bool read_ok =
        read(channel[0], &outcome, sizeof(outcome)) == static_cast<ssize_t>(sizeof(outcome));
    close(channel[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!read_ok || !outcome.ok) {
      state.SkipWithError(read_ok ? outcome.error : "the child died");
      break;
    }
    state.SetIterationTime(outcome.seconds);
    if (usage.ru_maxrss > peakKB) peakKB = usage.ru_maxrss;
  }
  state.counters["entries"] = entries;
  state.counters["peak_MB"] = static_cast<double>(peakKB) / 1024.0;
  state.counters["request_MB"] =
      static_cast<double>(request.size() * sizeof(char16_t)) / (1024.0 * 1024.0);
}

void Sizes(benchmark::internal::Benchmark* bench) {
  for (int64_t i = 0; i < static_cast<int64_t>(std::size(kMessages)); ++i) {
    const std::string name = kMessages[i].name;
    const bool elementsOnly = kMessages[i].head[0] == '\0';
    // A repeated message element is a whole message with its own reply.
    const bool perEntryWork = name == "InsertPages" || name == "CreateDocuments" || elementsOnly;
    const int64_t small = perEntryWork ? 1000 : 10000;
    bench->Args({i, small, elementsOnly});
    bench->Args({i, small * 10, elementsOnly});
    // Every message as 1,000 and 4,000 message elements.
    if (!elementsOnly) bench->Args({i, 1000, 1});
    bench->Args({i, 4000, 1});
  }
}

BENCHMARK(BM_RepeatedEntries)
    ->Apply(Sizes)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
