// The whole-list and whole-document requests at plant scale, in each state a
// client meets them, at 1,000 and 4,000 rows, pages or datasheets. Each
// benchmark runs one request (or one change by another client) on a fresh
// plant, set up as the host program sets one up (the host library's store
// session, ConnectStore, StartModule), and reports its processor time alone.
// Names are REQUEST/STATE/SIZE; scripts/plant-scale.sh --table prints the
// ratios the sizes and states make (bench/README.md says how to read it).
//
// The plants, each the sample plant (examples/plant.xml) with more:
// - list: the pump summary (datasheet 1007, page 1071) with SIZE more pumps
//   as rows, each with its four field records (and, for "ShowFieldObjects"
//   and "ApplyDatasheetFilter", SIZE pumps on no list to take in);
// - sheets: the pump sheets (datasheet 1009, a page a pump) with SIZE more
//   pumps, each on a page of its own;
// - datasheets: SIZE more pump datasheets, a page each.
// The states:
// - closed: nobody has it open (it was printed first, so that its objects
//   are read as opening reads them and the two differ only in what opening
//   records; the users state is printed first too);
// - open: "OpenDocuments" with "Status" 1 opened it for editing, which
//   recorded its page's trigger items (checked: a value changed by another
//   client fires the page's "Field" trigger);
// - held: open, and the host holds the change events ("--hold-events"):
//   an edit of the page left one pending before the request (checked);
// - submitted, checked, issued: the pump sheets taken that far;
// - users: every datasheet held by a user (and for open, opened for editing
//   in one "OpenDocuments").
//
// KX_SCALE_SIZES (default "1000 4000") chooses the sizes; KX_SCALE_VERBOSE
// prints what each request left (events and the characters of their XML,
// objects changed, events pending, the start of its reply) on standard
// error.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "benchsupport.h"
#include "com/comutil.h"
#include "com/wstr.h"
#include "host/host.h"
#include "host/startup.h"
#include "host/store_host_session.h"
#include "store/admin.h"

namespace {

constexpr int kRow = 200000;        // pumps added as rows, or on the added pages
constexpr int kUnlisted = 300000;   // pumps on no list
constexpr int kSheetPage = 400000;  // pages added to the pump sheets
constexpr int kDatasheet = 500000;  // datasheets added, page kDatasheet + 1 + 2 d

enum class PlantKind { kList, kListAndMore, kSheets, kDatasheets };
enum class State { kClosed, kOpen, kHeld, kSubmitted, kChecked, kIssued, kUsers };

const char* StateName(State state) {
  switch (state) {
    case State::kClosed: return "closed";
    case State::kOpen: return "open";
    case State::kHeld: return "held";
    case State::kSubmitted: return "submitted";
    case State::kChecked: return "checked";
    case State::kIssued: return "issued";
    case State::kUsers: return "users";
  }
  return "?";
}

std::string SamplePlant() {
  std::ifstream file(std::string(KX_EXAMPLES_DIR) + "/plant.xml");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Inserts `text` after the first `anchor` of `xml`; aborts when there is none.
void InsertAfter(std::string& xml, const std::string& anchor, const std::string& text) {
  const size_t at = xml.find(anchor);
  if (at == std::string::npos) {
    std::fprintf(stderr, "the sample plant has no %s\n", anchor.c_str());
    std::abort();
  }
  xml.insert(at + anchor.size(), text);
}

// A pump of the project 2 with the values the summary's columns show.
std::string Pump(int id, const std::string& name, int k) {
  return "<object id=\"" + std::to_string(id) + "\" class=\"Pump\"><value attribute=\"Name\">" +
         name + "</value><value attribute=\"Service\">Transfer " + std::to_string(k % 7) +
         "</value><value attribute=\"DesignPressure\" unit=\"kPa\">" +
         std::to_string(1000 + k % 997) +
         "</value><value attribute=\"DesignTemperature\" unit=\"degC\">" +
         std::to_string(20 + k % 100) + "</value><claim project=\"2\"/></object>\n";
}

std::string ListPlant(int rows, bool unlisted) {
  std::string xml = SamplePlant();
  std::string pumps, refs, fields;
  for (int r = 0; r < rows; ++r) {
    pumps += Pump(kRow + r, "G-" + std::to_string(r), r);
    if (unlisted) pumps += Pump(kUnlisted + r, "N-" + std::to_string(r), r);
    refs += "<value attribute=\"NodeObjects\" ref=\"" + std::to_string(kRow + r) + "\"/>";
    const std::string index = std::to_string(6 + r);
    for (const char* field : {"String FieldId=\"402\"", "String FieldId=\"403\"",
                              "Real FieldId=\"404\"", "Real FieldId=\"405\""}) {
      fields += std::string("<value attribute=\"Fields\">&lt;") + field + " Index=\"" + index +
                "\"/&gt;</value>";
    }
  }
  // From the end, so that the earlier places stay where they are.
  const std::string revisions = "<value attribute=\"Revisions\" position=\"25\" empty=\"true\"/>";
  const size_t revision = xml.find(revisions);
  if (revision == std::string::npos) std::abort();
  xml.replace(revision, revisions.size(),
              "<value attribute=\"Revisions\" position=\"" + std::to_string(25 + 4 * rows) +
                  "\" empty=\"true\"/>");
  InsertAfter(xml, "<value attribute=\"Fields\">&lt;Real FieldId=\"405\" Index=\"5\"/&gt;</value>",
              fields);
  InsertAfter(xml, "<value attribute=\"NodeObjects\" ref=\"106\"/>", refs);
  InsertAfter(xml, "<objects>", pumps);
  return xml;
}

std::string SheetsPlant(int pages) {
  std::string xml = SamplePlant();
  std::string objects, refs;
  for (int p = 0; p < pages; ++p) {
    const std::string page = std::to_string(kSheetPage + p);
    objects += Pump(kRow + p, "G-" + std::to_string(p), p);
    objects += "<object id=\"" + page +
               "\" class=\"Page\" owner=\"1009\"><value attribute=\"TemplateId\">PUMP-SHEETS"
               "</value><value attribute=\"PageId\">S1</value><value attribute=\"Checknum\">1"
               "</value><value attribute=\"PageNumber\">" +
               std::to_string(4 + p) +
               "</value><value attribute=\"DefaultCase\">1</value><value attribute=\"Cases\">1"
               "</value><value attribute=\"NodeObjects\" ref=\"" +
               std::to_string(kRow + p) +
               "\"/><value attribute=\"NodeIndices\">1</value><value attribute=\"Fields\">"
               "&lt;String FieldId=\"501\"/&gt;</value><value attribute=\"Fields\">&lt;String "
               "FieldId=\"502\"/&gt;</value></object>\n";
    refs += "<value attribute=\"CurrentPages\" ref=\"" + page + "\"/>";
  }
  const size_t at = xml.find("<value attribute=\"CurrentPages\" ref=\"1093\"/>");
  if (at == std::string::npos) std::abort();
  xml.insert(at, refs);
  const std::string number = "<value attribute=\"NumberOfPages\">3</value>";
  const size_t numbered = xml.rfind(number, at);
  if (numbered == std::string::npos) std::abort();
  xml.replace(numbered, number.size(),
              "<value attribute=\"NumberOfPages\">" + std::to_string(3 + pages) + "</value>");
  InsertAfter(xml, "<objects>", objects);
  return xml;
}

// `count` pump datasheets of one page each (PUMP-DS "P1"), each showing a
// pump of its own; each held by "bob" when `users`.
std::string DatasheetsPlant(int count, bool users) {
  std::string xml = SamplePlant();
  std::string objects;
  for (int d = 0; d < count; ++d) {
    const std::string sheet = std::to_string(kDatasheet + 2 * d);
    const std::string page = std::to_string(kDatasheet + 2 * d + 1);
    objects += Pump(kRow + d, "G-" + std::to_string(d), d);
    objects += "<object id=\"" + sheet + "\" class=\"Datasheet\">" +
               (users ? "<user name=\"bob\" status=\"1\"/>" : "") +
               "<value attribute=\"DocumentName\">Pump G-" + std::to_string(d) +
               "</value><value attribute=\"TemplateId\">PUMP-DS</value><value "
               "attribute=\"Checknum\">4</value><value attribute=\"NumberOfPages\">1</value>"
               "<value attribute=\"DefaultCase\">1</value><value attribute=\"CaseName\">Normal"
               "</value><value attribute=\"ProjectId\">2</value><value "
               "attribute=\"BaseDimensionSet\">SI</value><value attribute=\"Status\">1</value>"
               "<value attribute=\"CurrentPages\" ref=\"" +
               page + "\"/><claim project=\"2\"/></object>\n";
    objects += "<object id=\"" + page + "\" class=\"Page\" owner=\"" + sheet +
               "\"><value attribute=\"TemplateId\">PUMP-DS</value><value attribute=\"PageId\">P1"
               "</value><value attribute=\"Checknum\">4</value><value "
               "attribute=\"PageNumber\">1</value><value attribute=\"DefaultCase\">1</value>"
               "<value attribute=\"Cases\">1</value><value attribute=\"NodeObjects\" ref=\"" +
               std::to_string(kRow + d) + "\"/><value attribute=\"NodeIndices\">1</value>";
    for (const char* field :
         {"String FieldId=\"101\"", "String FieldId=\"102\"", "Real FieldId=\"103\"",
          "Real FieldId=\"104\"", "Real FieldId=\"105\"", "Real FieldId=\"106\"",
          "Real FieldId=\"107\"", "Real FieldId=\"108\""}) {
      objects += std::string("<value attribute=\"Fields\">&lt;") + field + "/&gt;</value>";
    }
    for (const char* unit : {"m3/h", "kPa", "degC", "kg/m3", "m"}) {
      objects += std::string("<value attribute=\"Units\">") + unit + "</value>";
    }
    objects += "</object>\n";
  }
  InsertAfter(xml, "<objects>", objects);
  return xml;
}

// A plant run as the host program runs one: the store's session, the module
// connected and started for user "bench", its trigger callbacks delivered.
class ScalePlant {
 public:
  ScalePlant(const std::string& fixture, int size) : size_(size) {
    store_ = kxbench::OpenStore(fixture, "plant-scale");
    if (!store_) Die("the store could not be made");
    session_ = std::make_unique<kx::host::StoreHostSession>(*store_);
    if (FAILED(kx::host::ConnectStore(host_, *store_, *session_, CLSID{}))) {
      Die("the store could not be connected");
    }
    // The module is made in-process, not activated: its ProgID names it.
    const kx::host::Registrar& registrar = host_.registrar();
    session_->SetHandlerTest([&registrar](const std::u16string& handler) {
      if (kx_wcsicmp(handler, u"KXDBDatasheetSvcs.Main") == 0) return true;
      for (const std::u16string& service : registrar.services()) {
        if (kx_wcsicmp(service, handler) == 0) return true;
      }
      return false;
    });
    module_ = kxbench::MakeMain();
    if (!module_) Die("the module could not be made");
    const kx::host::CallResult started =
        kx::host::StartModule(host_, module_.get(), {u"bench", u"", {}});
    if (!started.succeeded()) Die("the module did not start: " + Text(started.error));
  }
  ~ScalePlant() {
    host_.Detach();
    host_.SetStoreSession(nullptr);
  }
  ScalePlant(const ScalePlant&) = delete;
  ScalePlant& operator=(const ScalePlant&) = delete;

  [[noreturn]] static void Die(const std::string& why) {
    std::fprintf(stderr, "plant-scale bench: %s\n", why.c_str());
    std::exit(1);
  }
  static std::string Text(const std::u16string& text) { return kx_utf16_to_utf8_lossy(text); }

  int size() const { return size_; }
  kx::host::Host& host() { return host_; }
  kx::host::StoreHostSession& session() { return *session_; }
  IKXQDatabase* database() const { return store_->Database(); }

  // A request of the set-up; dies when it fails.
  kx::host::RequestResult Prepare(std::u16string_view message, const std::string& text) {
    kx::host::RequestResult result = host_.Request(message, kx_utf8_to_utf16_lossy(text));
    if (!result.succeeded()) Die(Text(std::u16string(message)) + " failed: " + Text(result.error));
    return result;
  }

  // Another client's change, then what the host delivers for it, as the
  // `set` step of `kxqhost run` does.
  kx::host::CallResult Change(LONG id, const char16_t* attribute, const _variant_t& value) {
    (void)session_->BeginHostChange();
    IKXQObjectPtr object;
    IKXQAttributePtr held;
    (void)database()->get_Object(id, &object);
    if (object) (void)object->get_Attribute(_bstr_t(attribute), _variant_t(-1L), &held);
    if (!held) Die("object " + std::to_string(id) + " has no such attribute");
    (void)held->PutValue(_variant_t(), _variant_t(), value);
    kx::host::CallResult result = host_.DatabaseEvent(-1, nullptr, _variant_t());
    session_->AbandonHostChange();
    return result;
  }

  // Whether a delivered line of the last call names `text`.
  bool Delivered(const std::string& text) const {
    for (const std::string& line : session_->delivered()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  // The number of values of `attribute` of object `id`; -1 when it has none.
  LONG Count(LONG id, const char16_t* attribute) const {
    IKXQObjectPtr object;
    IKXQAttributePtr values;
    LONG count = -1;
    (void)database()->get_Object(id, &object);
    if (object) (void)object->get_Attribute(_bstr_t(attribute), _variant_t(), &values);
    if (values) (void)values->get_Count(&count);
    return count;
  }
  bool Exists(LONG id) const {
    IKXQObjectPtr object;
    return SUCCEEDED(database()->get_Object(id, &object)) && object;
  }
  bool Changed(LONG id) const {
    for (const auto& change : session_->changes()) {
      if (change.id == id) return true;
    }
    return false;
  }

 private:
  int size_;
  std::unique_ptr<kx::store::Store> store_;
  std::unique_ptr<kx::host::StoreHostSession> session_;
  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> module_;
};

// The profiler's window on the timed step: KX_SCALE_PERF_CONTROL names the
// control and acknowledgement fifos of `perf record --control` ("CTL,ACK"),
// which scripts/plant-scale.sh --profile starts disabled; the step is
// profiled alone, without its set-up.
class ProfileWindow {
 public:
  ProfileWindow() {
    const char* fifos = std::getenv("KX_SCALE_PERF_CONTROL");
    if (fifos == nullptr) return;
    const std::string names(fifos);
    const size_t comma = names.find(',');
    if (comma == std::string::npos) return;
    control_ = std::fopen(names.substr(0, comma).c_str(), "w");
    ack_ = std::fopen(names.substr(comma + 1).c_str(), "r");
  }
  ~ProfileWindow() {
    if (control_) std::fclose(control_);
    if (ack_) std::fclose(ack_);
  }
  ProfileWindow(const ProfileWindow&) = delete;
  ProfileWindow& operator=(const ProfileWindow&) = delete;
  void Enable() { Tell("enable"); }
  void Disable() { Tell("disable"); }

 private:
  void Tell(const char* command) {
    if (!control_ || !ack_) return;
    std::fprintf(control_, "%s\n", command);
    std::fflush(control_);
    char answer[16];
    if (std::fgets(answer, sizeof answer, ack_) == nullptr) ack_ = nullptr;
  }
  std::FILE* control_ = nullptr;
  std::FILE* ack_ = nullptr;
};

double ProcessSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// What a timed step left: its processor time, and why it does not count
// (empty when it does).
struct Outcome {
  double seconds = 0;
  std::string failure;
};

// Sends one request, timed; a failed request, or one that only asks the
// user, does not count.
Outcome Send(ScalePlant& plant, std::u16string_view message, const std::string& text,
             kx::host::RequestResult* kept = nullptr) {
  const std::u16string request = kx_utf8_to_utf16_lossy(text);
  const double start = ProcessSeconds();
  kx::host::RequestResult result = plant.host().Request(message, request);
  Outcome outcome{ProcessSeconds() - start, {}};
  if (!result.succeeded()) {
    outcome.failure = "failed: " + ScalePlant::Text(result.error);
  } else if (result.reply.find(u"QUESTION") != std::u16string::npos) {
    outcome.failure = "it only asked: " + ScalePlant::Text(result.reply.substr(0, 300));
  }
  if (std::getenv("KX_SCALE_VERBOSE") != nullptr) {
    size_t event_chars = 0;
    for (const auto& event : result.events) {
      if (event.xml) event_chars += event.xml->size();
    }
    std::fprintf(
        stderr,
        "%s: %zu events (%zu characters of XML), %zu objects changed, %zu pending; reply: %s\n",
        ScalePlant::Text(std::u16string(message)).c_str(), result.events.size(), event_chars,
        plant.session().changes().size(), plant.host().application().pending_count(),
        ScalePlant::Text(result.reply.substr(0, 200)).c_str());
  }
  if (kept) *kept = std::move(result);
  return outcome;
}

std::string Envelope(const std::string& target, const std::string& body) {
  return "<XMLMessage TargetId=\"" + target + "\" Status=\"1\">" + body + "</XMLMessage>";
}

std::string Documents(const std::string& message, const std::string& attributes, int status,
                      LONG datasheet = 1009) {
  return Envelope("App", "<" + message + attributes + "><Datasheet DocumentId=\"" +
                             std::to_string(datasheet) + "\"" +
                             (status > 0 ? " Status=\"" + std::to_string(status) + "\"" : "") +
                             "/></" + message + ">");
}

// The datasheet a plant's open, held and workflow states work on.
bool IsList(PlantKind kind) { return kind == PlantKind::kList || kind == PlantKind::kListAndMore; }
LONG DatasheetOf(PlantKind kind) {
  return IsList(kind) ? 1007 : kind == PlantKind::kSheets ? 1009 : kDatasheet;
}

// "OpenDocuments" (or `message` of the same grammar) of the list, of the
// pump sheets, or of every datasheet added, their current pages.
std::string OpenText(PlantKind kind, int size, const std::string& message = "OpenDocuments") {
  const int count = kind == PlantKind::kDatasheets ? size : 1;
  std::string text = "<" + message + ">";
  for (int d = 0; d < count; ++d) {
    text += "<Datasheet DocumentId=\"" + std::to_string(DatasheetOf(kind) + 2 * d) +
            "\" Status=\"1\"/>";
  }
  return Envelope("App", text + "</" + message + ">");
}

// Why the first page's trigger items are not recorded: a value it shows,
// changed by another client, must fire its "Field" trigger and bring an
// event. Empty when they are.
std::string NotRecorded(ScalePlant& plant, PlantKind kind) {
  const LONG page = IsList(kind) ? 1071 : kind == PlantKind::kSheets ? 1091 : kDatasheet + 1;
  const LONG shown = kind == PlantKind::kSheets ? 103 : kRow;
  const kx::host::CallResult changed = plant.Change(shown, u"Service", _variant_t(u"Changed"));
  const std::string fired = "trigger Field on #" + std::to_string(page) + " fired";
  if (changed.succeeded() && plant.Delivered(fired) && !changed.events.empty()) return {};
  return "opening #" + std::to_string(DatasheetOf(kind)) + " recorded no trigger item";
}

void Open(ScalePlant& plant, PlantKind kind) {
  plant.Prepare(u"OpenDocuments", OpenText(kind, plant.size()));
  if (const std::string why = NotRecorded(plant, kind); !why.empty()) ScalePlant::Die(why);
}

// Open, with the change events held from now on and one pending.
void Hold(ScalePlant& plant, PlantKind kind) {
  Open(plant, kind);
  plant.host().SetHoldEvents(true);
  if (IsList(kind)) {
    plant.Prepare(u"SetRealField",
                  Envelope("Editor",
                           "<SetRealField PageId=\"1071\" FieldId=\"405\" Index=\"0\" "
                           "Value=\"45\"/>"));
  } else {
    plant.Prepare(
        u"SetStringField",
        Envelope("Editor", "<SetStringField PageId=\"1091\" FieldId=\"502\" Value=\"Held\"/>"));
  }
  if (plant.host().application().pending_count() == 0) {
    ScalePlant::Die("no change event is held");
  }
}

void Workflow(ScalePlant& plant, State state) {
  const LONG pages = plant.size() + 3;
  plant.Prepare(u"SubmitDocuments", Documents("SubmitDocuments", " Confirmed=\"1\"", 0));
  if (plant.Count(1009, u"SubmittedPages") < pages) ScalePlant::Die("the submit left pages out");
  if (state == State::kSubmitted) return;
  plant.Prepare(u"CheckDocuments", Documents("CheckDocuments", "", 0));
  if (plant.Count(1009, u"CheckedPages") < pages) ScalePlant::Die("the check left pages out");
  if (state == State::kChecked) return;
  plant.Prepare(u"IssueDocuments",
                Documents("IssueDocuments", " Revision=\"B\" IssueReason=\"Bench\"", 0));
  if (plant.Count(1009, u"IssuedPages") < pages) ScalePlant::Die("the issue left pages out");
}

// One benchmark: a plant of a kind in a state, and the step timed on it.
struct Case {
  std::string name;
  PlantKind plant;
  std::vector<State> states;
  // The step alone, without the set-up: scripts/plant-scale.sh
  // --instructions counts what this call runs.
  std::function<Outcome(ScalePlant&, State)> step;
};

std::unique_ptr<ScalePlant> MakePlant(PlantKind kind, State state, int size) {
  std::unique_ptr<ScalePlant> plant;
  switch (kind) {
    case PlantKind::kList:
    case PlantKind::kListAndMore:
      plant = std::make_unique<ScalePlant>(ListPlant(size, kind == PlantKind::kListAndMore), size);
      break;
    case PlantKind::kSheets: plant = std::make_unique<ScalePlant>(SheetsPlant(size), size); break;
    case PlantKind::kDatasheets:
      plant = std::make_unique<ScalePlant>(
          DatasheetsPlant(size, state == State::kUsers || state == State::kOpen), size);
      break;
  }
  switch (state) {
    case State::kOpen: Open(*plant, kind); break;
    case State::kHeld: Hold(*plant, kind); break;
    case State::kSubmitted:
    case State::kChecked:
    case State::kIssued: Workflow(*plant, state); break;
    case State::kClosed:
    case State::kUsers:
      // Printed first: its objects are read, as opening it reads them, and
      // nothing is recorded.
      plant->Prepare(u"PrintDocuments", OpenText(kind, size, "PrintDocuments"));
      break;
  }
  return plant;
}

// A timed request that must have changed object `id`.
std::function<Outcome(ScalePlant&, State)> Changes(std::u16string message, std::string text,
                                                   LONG id) {
  return [message, text, id](ScalePlant& plant, State) {
    Outcome outcome = Send(plant, message, text);
    if (outcome.failure.empty() && !plant.Changed(id)) {
      outcome.failure = "#" + std::to_string(id) + " did not change";
    }
    return outcome;
  };
}

// Which rows of the list a field-object message names: the added ones, or
// rows 0 on, each with a pump on no list.
std::string FieldObjects(const std::string& message, int rows) {
  std::string text = "<" + message + " PageId=\"1071\" Confirmed=\"1\">";
  for (int r = 0; r < rows; ++r) {
    text += message == "ShowFieldObjects"
                ? "<Field FieldId=\"402\" Index=\"" + std::to_string(r) + "\" ObjectId=\"" +
                      std::to_string(kUnlisted + r) + "\"/>"
                : "<Field FieldId=\"402\" Index=\"" + std::to_string(6 + r) + "\"/>";
  }
  return Envelope("1007", text + "</" + message + ">");
}

std::function<Outcome(ScalePlant&, State)> FieldObjectStep(const std::string& message) {
  return [message](ScalePlant& plant, State) {
    const int rows = plant.size();
    Outcome outcome = Send(plant, kx_utf8_to_utf16_lossy(message), FieldObjects(message, rows));
    // The globals object and the plant's six rows, and the rows shown.
    const LONG expected = message == "ShowFieldObjects" ? 7 + 2 * rows : 7;
    const LONG held = plant.Count(1071, u"NodeObjects");
    if (outcome.failure.empty() && held != expected) {
      outcome.failure =
          "the list holds " + std::to_string(held) + " objects, not " + std::to_string(expected);
    }
    if (outcome.failure.empty() && message == "DeleteFieldObjects" && plant.Exists(kRow)) {
      outcome.failure = "the pumps are still there";
    }
    return outcome;
  };
}

// The pump sheets' page count after a step.
std::function<Outcome(ScalePlant&, State)> SheetsStep(std::u16string message, std::string text,
                                                      int added) {
  return [message, text, added](ScalePlant& plant, State) {
    Outcome outcome = Send(plant, message, text);
    const LONG expected = plant.size() + 3 + added;
    const LONG pages = plant.Count(1009, u"CurrentPages");
    if (outcome.failure.empty() && pages != expected) {
      outcome.failure = "the pump sheets have " + std::to_string(pages) + " pages, not " +
                        std::to_string(expected);
    }
    return outcome;
  };
}

// A reading request whose reply must grow with the plant.
std::function<Outcome(ScalePlant&, State)> Reads(std::u16string message,
                                                 std::function<std::string(State)> text) {
  return [message, text](ScalePlant& plant, State state) {
    kx::host::RequestResult result;
    Outcome outcome = Send(plant, message, text(state), &result);
    const size_t least = static_cast<size_t>(plant.size()) * 20;
    if (outcome.failure.empty() && result.reply.size() < least && result.files.empty()) {
      outcome.failure = "the reply holds " + std::to_string(result.reply.size()) + " characters";
    }
    return outcome;
  };
}

// The workflow step out of the state before it.
std::function<Outcome(ScalePlant&, State)> WorkflowStep(std::u16string message,
                                                        std::string attributes,
                                                        const char16_t* pages, bool emptied) {
  return [message, attributes, pages, emptied](ScalePlant& plant, State) {
    const std::string name = ScalePlant::Text(message);
    Outcome outcome = Send(plant, message, Documents(name, attributes, 0));
    const LONG count = plant.Count(1009, pages);
    const bool done = emptied ? count <= 0 : count >= plant.size() + 3;
    if (outcome.failure.empty() && !done) {
      outcome.failure = ScalePlant::Text(pages) + " holds " + std::to_string(count);
    }
    return outcome;
  };
}

std::vector<Case> Cases() {
  using P = PlantKind;
  using S = State;
  const std::vector<S> list = {S::kClosed, S::kOpen, S::kHeld};
  std::vector<Case> cases;
  // Opening for editing, which records the first page's trigger items.
  for (const P kind : {P::kList, P::kSheets}) {
    cases.push_back({kind == P::kList ? "OpenDocuments" : "OpenDocuments-sheets",
                     kind,
                     {S::kClosed},
                     [kind](ScalePlant& plant, State) {
                       Outcome outcome =
                           Send(plant, u"OpenDocuments", OpenText(kind, plant.size()));
                       if (outcome.failure.empty()) outcome.failure = NotRecorded(plant, kind);
                       return outcome;
                     }});
  }
  // The list, a column and the whole list at once.
  cases.push_back({"SetFieldFormat", P::kList, list,
                   Changes(u"SetFieldFormat",
                           Envelope("Editor",
                                    "<SetFieldFormat PageId=\"1071\" Alignment=\"2\" "
                                    "RealFormat=\"0.0\"><FieldId ID=\"404\" "
                                    "Index=\"2\"/></SetFieldFormat>"),
                           1071)});
  cases.push_back({"ApplyDatasheetSort", P::kList, list,
                   Changes(u"ApplyDatasheetSort",
                           Envelope("1007",
                                    "<ApplyDatasheetSort PageId=\"1071\" FieldId=\"402\" "
                                    "SortId=\"CLD\"/>"),
                           1071)});
  // The filter takes the pumps on no list in: the list doubles.
  cases.push_back({"ApplyDatasheetFilter", P::kListAndMore, list,
                   Changes(u"ApplyDatasheetFilter",
                           Envelope("1007",
                                    "<ApplyDatasheetFilter PageId=\"1071\" FieldId=\"402\" "
                                    "FilterId=\"Pumps\" Attach=\"1\"/>"),
                           1071)});
  for (const char* message : {"HideFieldObjects", "DeleteFieldObjects"}) {
    cases.push_back({message, P::kList, list, FieldObjectStep(message)});
  }
  cases.push_back({"ShowFieldObjects", P::kListAndMore, list, FieldObjectStep("ShowFieldObjects")});
  cases.push_back({"ChangeDatasheetDimensionSet", P::kList, list,
                   Changes(u"ChangeDatasheetDimensionSet",
                           Envelope("1007", "<ChangeDatasheetDimensionSet Name=\"US\"/>"), 1071)});
  cases.push_back({"ChangeDatasheetDimensionUnit", P::kList, list,
                   Changes(u"ChangeDatasheetDimensionUnit",
                           Envelope("1007",
                                    "<ChangeDatasheetDimensionUnit Name=\"Pressure\" "
                                    "UnitId=\"bar\"/>"),
                           1071)});
  // A single edit: one row's value.
  cases.push_back({"SetRealField", P::kList, list,
                   Changes(u"SetRealField",
                           Envelope("Editor",
                                    "<SetRealField PageId=\"1071\" FieldId=\"404\" Index=\"2\" "
                                    "Value=\"3150\"/>"),
                           103)});
  // A row added at the end: a new pump at the first blank row. It changes
  // no entry the rows above read, so the open list's items stay quiet and
  // its event shows the new row alone.
  cases.push_back(
      {"SetStringField-new-row", P::kList, list, [](ScalePlant& plant, State state) {
         const std::string row = std::to_string(plant.size() + 6);
         kx::host::RequestResult result;
         Outcome outcome =
             Send(plant, u"SetStringField",
                  Envelope("Editor", "<SetStringField PageId=\"1071\" FieldId=\"402\" Index=\"" +
                                         row + "\" Value=\"New\" ConfirmedClass=\"Pump\"/>"),
                  &result);
         size_t chars = 0;
         for (const auto& event : result.events) chars += event.xml ? event.xml->size() : 0;
         if (outcome.failure.empty() && plant.Count(1071, u"NodeObjects") != plant.size() + 8) {
           outcome.failure = "no row was added";
         } else if (outcome.failure.empty() && state == State::kOpen &&
                    (chars == 0 || chars > 2000)) {
           outcome.failure = "its events hold " + std::to_string(chars) + " characters";
         }
         return outcome;
       }});
  // The trigger callbacks: another client changes one row's pump, or every
  // added row's pump in one change.
  cases.push_back(
      {"TriggerOneRow", P::kList, {S::kOpen, S::kHeld}, [](ScalePlant& plant, State state) {
         const double start = ProcessSeconds();
         const kx::host::CallResult result =
             plant.Change(kRow + plant.size() / 2, u"Service", _variant_t(u"One"));
         Outcome outcome{ProcessSeconds() - start, {}};
         if (!result.succeeded() || !plant.Delivered("trigger Field on #1071") ||
             (state == State::kOpen && result.events.empty())) {
           outcome.failure = "the change reached no page";
         }
         return outcome;
       }});
  cases.push_back(
      {"TriggerEveryRow", P::kList, {S::kOpen, S::kHeld}, [](ScalePlant& plant, State state) {
         std::vector<IKXQAttributePtr> services;
         for (int r = 0; r < plant.size(); ++r) {
           IKXQObjectPtr pump;
           IKXQAttributePtr service;
           (void)plant.database()->get_Object(kRow + r, &pump);
           if (pump) (void)pump->get_Attribute(_bstr_t(u"Service"), _variant_t(-1L), &service);
           services.push_back(service);
         }
         const double start = ProcessSeconds();
         (void)plant.session().BeginHostChange();
         for (const IKXQAttributePtr& service : services) {
           if (service) (void)service->PutValue(_variant_t(), _variant_t(), _variant_t(u"All"));
         }
         const kx::host::CallResult result = plant.host().DatabaseEvent(-1, nullptr, _variant_t());
         plant.session().AbandonHostChange();
         Outcome outcome{ProcessSeconds() - start, {}};
         if (!result.succeeded() || !plant.Delivered("trigger Field on #1071") ||
             (state == State::kOpen && result.events.empty())) {
           outcome.failure = "the change reached no page";
         }
         return outcome;
       }});
  // The pump sheets: the whole document.
  const std::vector<S> sheets = {S::kClosed, S::kOpen, S::kHeld};
  // Composed again: every pump of the plant on a page, the three the plant
  // has besides those on its pages too.
  cases.push_back({"ApplyDatasheetFilter-sheets", P::kSheets, sheets,
                   SheetsStep(u"ApplyDatasheetFilter",
                              Envelope("1009",
                                       "<ApplyDatasheetFilter PageId=\"1091\" FilterId=\"\" "
                                       "Attach=\"0\"/>"),
                              3)});
  cases.push_back(
      {"PackObjects", P::kSheets, sheets,
       SheetsStep(u"PackObjects",
                  Envelope("1009", "<PackObjects PageId=\"1091\" FieldId=\"501\"/>"), -1)});
  cases.push_back({"DatasheetOverspill", P::kSheets, sheets,
                   SheetsStep(u"DatasheetOverspill",
                              Envelope("1009", "<DatasheetOverspill PageId=\"1091\"/>"), 1)});
  cases.push_back(
      {"RecaseDocuments",
       P::kSheets,
       {S::kClosed, S::kOpen, S::kHeld, S::kIssued},
       Changes(u"RecaseDocuments", Envelope("1009", "<RecaseDocuments CaseId=\"2\"/>"), 1009)});
  cases.push_back({"SubmitDocuments", P::kSheets, sheets,
                   WorkflowStep(u"SubmitDocuments", " Confirmed=\"1\"", u"SubmittedPages", false)});
  cases.push_back({"CheckDocuments",
                   P::kSheets,
                   {S::kSubmitted},
                   WorkflowStep(u"CheckDocuments", "", u"CheckedPages", false)});
  cases.push_back({"IssueDocuments",
                   P::kSheets,
                   {S::kChecked},
                   WorkflowStep(u"IssueDocuments", " Revision=\"B\" IssueReason=\"Bench\"",
                                u"IssuedPages", false)});
  cases.push_back(
      {"WithdrawDocuments",
       P::kSheets,
       {S::kSubmitted},
       WorkflowStep(u"WithdrawDocuments", " Confirmed=\"1\"", u"SubmittedPages", true)});
  const auto status = [](State state) { return state == State::kIssued ? 4 : 1; };
  cases.push_back({"PrintDocuments",
                   P::kSheets,
                   {S::kClosed, S::kIssued},
                   Reads(u"PrintDocuments", [status](State state) {
                     return Documents("PrintDocuments", "", status(state));
                   })});
  cases.push_back({"ExportDocuments",
                   P::kSheets,
                   {S::kClosed, S::kIssued},
                   Reads(u"ExportDocuments", [status](State state) {
                     return Documents("ExportDocuments", "", status(state));
                   })});
  // Every datasheet of the plant.
  cases.push_back({"ChangeDimensionSet",
                   P::kDatasheets,
                   {S::kClosed, S::kUsers, S::kOpen},
                   Changes(u"ChangeDimensionSet", "US", kDatasheet + 1)});
  cases.push_back({"ChangeDimensionUnit",
                   P::kDatasheets,
                   {S::kClosed, S::kUsers, S::kOpen},
                   Changes(u"ChangeDimensionUnit",
                           Envelope("App",
                                    "<ChangeDimensionUnit Name=\"Pressure\" "
                                    "UnitId=\"bar\"/>"),
                           kDatasheet + 1)});
  return cases;
}

std::vector<int> Sizes() {
  std::vector<int> sizes;
  const char* text = std::getenv("KX_SCALE_SIZES");
  std::istringstream words(text != nullptr ? text : "1000 4000");
  for (int size = 0; words >> size;) {
    if (size > 0) sizes.push_back(size);
  }
  return sizes;
}

// One benchmark's run: the plant made and put in its state, then the step
// timed; `*failed` set when the step did not count.
void Run(benchmark::State& bench, const Case& c, State state, int size, bool* failed) {
  static ProfileWindow profile;
  for (auto _ : bench) {
    bench.PauseTiming();
    std::unique_ptr<ScalePlant> plant = MakePlant(c.plant, state, size);
    bench.ResumeTiming();
    profile.Enable();
    const Outcome outcome = c.step(*plant, state);
    profile.Disable();
    if (!outcome.failure.empty()) {
      *failed = true;
      bench.SkipWithError(outcome.failure.c_str());
      break;
    }
    bench.SetIterationTime(outcome.seconds);
    bench.PauseTiming();
    plant.reset();
    bench.ResumeTiming();
  }
}

}  // namespace

// Exit status 1 when a step failed or did not do what it should (its
// benchmark shows why), so that a script sees it.
int main(int argc, char** argv) {
  bool failed = false;
  for (const Case& c : Cases()) {
    for (State state : c.states) {
      for (int size : Sizes()) {
        const std::string name = c.name + "/" + StateName(state) + "/" + std::to_string(size);
        benchmark::RegisterBenchmark(name.c_str(), Run, c, state, size, &failed)
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return failed ? 1 : 0;
}
