// What the reference of the messages says each message reads of its
// request (tools/kxqhost/grammars/message_notes.cpp), held against the
// module: every sample request of examples/requests/ is sent with each
// noted attribute it carries and without it, each time on a fresh store of
// the sample plant.
#include "grammars/message_notes.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

#include "support/host_fixture.h"

namespace {

namespace fs = std::filesystem;
using kx::kxqhost::AttributeNote;
using kx::test::tools::KxqhostTest;
using kx::test::tools::Outcome;

// The message a sample request holds: its first element inside "XMLMessage".
std::string MessageOf(const std::string& text) {
  const std::string bare = std::regex_replace(text, std::regex("<!--[\\s\\S]*?-->"), "");
  const std::regex tag("<([A-Za-z_][A-Za-z0-9_]*)");
  for (auto it = std::sregex_iterator(bare.begin(), bare.end(), tag); it != std::sregex_iterator();
       ++it) {
    if ((*it)[1] != "XMLMessage") return (*it)[1];
  }
  return "";
}

// `text` without `attribute` on `element`: on the root only for the
// envelope, else on every such element. Unchanged when none carries it.
std::string Without(const std::string& text, const AttributeNote& note) {
  const bool envelope = std::string(note.element) == "XMLMessage";
  const std::regex pattern("(<" + std::string(note.element) + "\\b[^>]*?)\\s+" + note.attribute +
                           "\\s*=\\s*\"[^\"]*\"");
  return std::regex_replace(
      text, pattern, "$1",
      envelope ? std::regex_constants::format_first_only : std::regex_constants::format_default);
}

// The output with the reply's "TargetId" and "Status" left out, for the
// messages that only give them back.
std::string WithoutEcho(std::string out) {
  const std::regex echo("(<XMLMessage[^>]*?) (TargetId|Status)=\"[^\"]*\"");
  for (std::string less; (less = std::regex_replace(out, echo, "$1")) != out;) out = less;
  return out;
}

class MessageNotesTest : public KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  // The request on a fresh copy of the store, with what it changed; `before`:
  // steps of another client of the store first.
  Outcome Send(const std::string& message, const std::string& text,
               const std::vector<std::string>& options = {}, const std::string& before = "") {
    const std::string store = dir_ / "sent.db";
    fs::remove(store);
    fs::copy_file(Store(), store);
    if (!before.empty()) {
      kx::test::tools::WriteText(dir_ / "before.kxq", before);
      const Outcome ran = Bare({"--store", store, "run", dir_ / "before.kxq"});
      EXPECT_EQ(ran.status, 0) << ran.err;
    }
    kx::test::tools::WriteText(dir_ / "request.xml", text);
    std::vector<std::string> arguments = {
        "--store", store, "--settings",
        std::string(KXQHOST_SOURCE_DIR) + "/examples/templates/folders.cfg", "--events"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), {"request", message, dir_ / "request.xml"});
    return Bare(arguments);
  }
};

TEST_F(MessageNotesTest, TheSampleRequestsBearOutWhatTheNotesSay) {
  int needed = 0, unread = 0, echoed = 0;
  for (const auto& entry :
       fs::directory_iterator(std::string(KXQHOST_SOURCE_DIR) + "/examples/requests")) {
    if (entry.path().extension() != ".xml") continue;
    const std::string text = kx::test::tools::ReadText(entry.path().string());
    const std::string message = MessageOf(text);
    const Outcome full = Send(message, text);
    for (const AttributeNote& note : kx::kxqhost::AttributeNotes()) {
      if (message != note.message) continue;
      const std::string without = Without(text, note);
      if (without == text) continue;
      const std::string use = note.use;
      const std::string what = entry.path().filename().string() + " without \"" + note.attribute +
                               "\" on \"" + note.element + "\"";
      const Outcome less = Send(message, without);
      if (note.needed) {
        // It fails, or succeeds and changes nothing.
        ++needed;
        if (less.status == 0) {
          EXPECT_EQ(less.out.find("== store changed"), std::string::npos) << what << "\n"
                                                                          << less.out;
          EXPECT_EQ(less.out.find("== event"), std::string::npos) << what << "\n" << less.out;
        }
      } else if (use == "Not read.") {
        // The same answer, change for change.
        ++unread;
        EXPECT_EQ(less.status, full.status) << what << "\n" << less.err;
        EXPECT_EQ(less.out, full.out) << what;
      } else if (use.starts_with("Not read; given back")) {
        ++echoed;
        EXPECT_EQ(less.status, full.status) << what << "\n" << less.err;
        EXPECT_EQ(WithoutEcho(less.out), WithoutEcho(full.out)) << what;
        // What the reply gave back is gone with it.
        if (WithoutEcho(full.out) != full.out) {
          EXPECT_NE(less.out, full.out) << what;
        }
      }
    }
  }
  // The samples carry most of what the notes say.
  EXPECT_GT(needed, 80);
  EXPECT_GT(unread, 60);
  EXPECT_GT(echoed, 20);
}

// The reference's section of a message ("" for its introduction), its
// lines joined into one.
std::string ReferenceOf(const std::string& message) {
  const std::string text =
      kx::test::tools::ReadText(std::string(KXQHOST_SOURCE_DIR) + "/docs/messages.md");
  size_t from = 0;
  if (!message.empty()) from = text.find("\n## " + message + "\n");
  if (from == std::string::npos) return "";
  const std::string section = text.substr(from, text.find("\n## ", from + 1) - from);
  return std::regex_replace(section, std::regex("\\s+"), " ");
}

// The parts of `list` between "|"s; none of "".
std::vector<std::string> Parts(const std::string& list) {
  std::vector<std::string> parts;
  for (size_t at = 0; at < list.size();) {
    const size_t end = std::min(list.find('|', at), list.size());
    parts.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

// Where the reference misled readers: what it says now, and the module doing it.
TEST_F(MessageNotesTest, TheReferenceSaysWhatTheModuleDoesWhereReadersWereMisled) {
  struct Case {
    std::string message, says, request;
    int status;
    std::string shows = "", lacks = "", error = "";  // shows and lacks: "|" between texts
    std::vector<std::string> options = {};
    std::string before = "";
  };
  const std::string deleted =
      R"(<XMLMessage TargetId="Editor" Status="1"><DeleteFieldObjects PageId="1011" )"
      R"(Confirmed="1"><Field FieldId="103"/></DeleteFieldObjects></XMLMessage>)";
  const Case cases[] = {
      {"GetInfoForReport", "shifts the pairing",
       R"(<XMLMessage><GetInfoForReport><Field FieldId="103"/><Field FieldId="104" )"
       R"(PageId="1011"/></GetInfoForReport></XMLMessage>)",
       0, "<AttributeName>RatedFlow</AttributeName>", "SuctionPressure"},
      {"PageLayout",
       R"(stands before "PageId" (as a writer that sorts attributes puts "Orientation") is not )"
       "stored",
       R"(<XMLMessage TargetId="1002"><PageLayout Orientation="2" PageId="1021" )"
       R"(PaperSize="8"/></XMLMessage>)",
       0, "== store changed #1021: PaperSize\n|== event Datasheet [D1 1002]", R"(Orientation="2")"},
      {"PageLayout", R"(Without "PageId" the request stores nothing, succeeds and still sends)",
       R"(<XMLMessage TargetId="1002"><PageLayout PaperSize="8"/></XMLMessage>)", 0,
       "== event Datasheet [D1 1002]", "== store changed"},
      {"SetQMFDBTemplate", R"(one "!::!" only, no data) or data that is not Base64 fails)",
       "PUMP-DS!::!4", 1, "", "== store",
       "is not of the form TEMPLATEID!::!CHECKNUM!::!BASE64DATA"},
      {"SetQMFDBTemplate", "names no stored template version succeeds and stores nothing",
       "PUMP-XX!::!4!::!AAAA", 0, "", "== store changed"},
      {"WithdrawDocuments", R"(with "Confirmed" only (without it nothing is done)",
       R"(<XMLMessage><WithdrawDocuments><Datasheet DocumentId="1002" Status="2"/>)"
       R"(</WithdrawDocuments></XMLMessage>)",
       0, R"(<XMLMessage TargetId="App"></XMLMessage>)", "== store changed"},
      {"DeleteFieldObjects", R"(no reply is written, not even an "XMLMessage")", deleted, 0,
       "== store changed #1011", R"(<XMLMessage TargetId="Editor")"},
      {"DeleteFieldObjects",
       "a summary sheet that listed a deleted object is composed again and its clients get its "
       "change events; the page the field is on gets none",
       deleted, 0, "== event DataField [F1 1071]", "[F1 1011]|[D1 1001]|[P1 1011]"},
      {"ApplyDatasheetFilter", "0, or none: the filter in force is detached",
       R"(<XMLMessage><ApplyDatasheetFilter PageId="1071" FilterId="Pumps"/></XMLMessage>)", 0,
       "Filtered 20 objects|== store changed #1071: NodeObjects, Fields, Revisions, "
       "ObjectFilter\n"},
      {"ComparePages", "Any value, none too, gives the same reply",
       R"(<XMLMessage Status="9"><ComparePages PageId="1011" DocumentId2="1001" )"
       R"(Status2="4"/></XMLMessage>)",
       0, R"(<XMLMessage TargetId="1001" Status="1"><OpenPage PageId="1011")"},
      {"InsertPages", R"(the clients still get the "Datasheet" change event)",
       R"(<XMLMessage TargetId="1007"><InsertPages PageId="1071"><Page TemplateId="PUMP-DS" )"
       R"(TemplatePageId="P1"/></InsertPages></XMLMessage>)",
       0, "Pages cannot be added to summary sheets.|== event Datasheet [D1 1007]",
       "== store changed"},
      {"CheckDocuments",
       "the request fails (\"You do not have CheckDocument privilege\")",
       R"(<XMLMessage><CheckDocuments><Datasheet DocumentId="1002"/></CheckDocuments>)"
       R"(</XMLMessage>)",
       1,
       "",
       "== store",
       "You do not have CheckDocument privilege",
       {"--deny", "CheckDocument"}},
      {"ListTemplatePages",
       R"(a "Pages" without "ObjectId" whose pages are named "TEMPLATE - )"
       R"(PAGE")",
       "1001", 0,
       R"(<Pages TemplateId="EQ-SUMMARY"><Page TemplatePageId="S1" )"
       R"(Name="Equipment summary - Equipment list"/></Pages></XMLMessage>)"},
      {"GetFieldProperties", R"("Pump: Driver.RatedPower")",
       R"(<XMLMessage><GetFieldProperties PageId="1012" FieldId="207"/></XMLMessage>)", 0,
       R"(Class="Pump"|Attribute="Pump: Driver.RatedPower")"},
      {"ListTemplatePages",
       "when no page holds such an object: per class of the datasheet's template, the same "
       R"(without "ObjectId")",
       "1001",
       0,
       R"(<Pages TemplateId="PUMP-DS"><Page TemplatePageId="P1" Name="Centrifugal pump )"
       R"(datasheet - Process conditions"/>)",
       "ObjectId=",
       "",
       {},
       "set 1011 NodeObjects[1]\nset 1012 NodeObjects[1]\nset 1012 NodeObjects[2]\n"},
      {"GetFieldProperties", R"("Equipment: DesignPressure" on the equipment list)",
       R"(<XMLMessage><GetFieldProperties PageId="1071" FieldId="404" Index="0"/></XMLMessage>)", 0,
       R"(Class="Pump"|Attribute="Equipment: DesignPressure")"},
      {"GetFieldProperties",
       "on a document never issued for every field but a check box not ticked",
       R"(<XMLMessage><GetFieldProperties PageId="1061" FieldId="511"/></XMLMessage>)", 0,
       R"(Type="Check"|State="0"|IssuedValue="")"},
      {"GetInfoForReport", "every pump for a pump's motor's power, not only the page's",
       R"(<XMLMessage><GetInfoForReport><Field FieldId="207" PageId="1012"/>)"
       R"(</GetInfoForReport></XMLMessage>)",
       0,
       R"(<ObjectInfo Name="P-101A"><AttributeName>RatedPower</AttributeName><Value>400<)"
       R"(|<ObjectInfo Name="P-104">)"},
      {"", "An empty text is read as 0",
       R"(<XMLMessage><GetFieldProperties PageId="1011" FieldId="103" Index=""/></XMLMessage>)", 0,
       R"(FieldId="103" Index="0")"},
      {"", R"("103abc" and "103.9" are read as 103)",
       R"(<XMLMessage><GetFieldProperties PageId="1011" FieldId="103abc"/></XMLMessage>)", 0,
       R"(FieldId="103")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message + ": " + c.request);
    EXPECT_NE(ReferenceOf(c.message).find(c.says), std::string::npos) << ReferenceOf(c.message);
    const Outcome sent =
        Send(c.message.empty() ? "GetFieldProperties" : c.message, c.request, c.options, c.before);
    EXPECT_EQ(sent.status, c.status) << sent.err;
    EXPECT_NE(sent.err.find(c.error), std::string::npos) << sent.err;
    for (const std::string& shown : Parts(c.shows))
      EXPECT_NE(sent.out.find(shown), std::string::npos) << shown << "\n" << sent.out;
    for (const std::string& lacking : Parts(c.lacks))
      EXPECT_EQ(sent.out.find(lacking), std::string::npos) << lacking << "\n" << sent.out;
  }
}

}  // namespace
