// What kxqhost prints around the module's answers, run as a subprocess on
// the sample plant: "--version", replies and event XML indented by
// "--pretty", the line end after a reply, and the notice for a request that
// succeeded without doing anything.
#include <filesystem>
#include <gtest/gtest.h>

#include "support/host_fixture.h"

namespace {

using kx::test::tools::Outcome;

constexpr char kNothingDone[] = "notice: the request changed nothing and wrote no reply";
constexpr char kHolds[] =
    "<XMLMessage TargetId=\"App\"><Holds><Hold HoldId=\"1191\" Name=\"HOLD-01 Pump curves awaited "
    "from vendor\"/></Holds></XMLMessage>";

// A "SetRealField" on P-101A's rated flow with the envelope given.
std::string RatedFlow(const std::string& envelope, const std::string& message = "SetRealField") {
  return envelope + "<" + message + " PageId=\"1011\" FieldId=\"103\" Value=\"395\"/>" +
         (envelope.empty() ? "" : "</XMLMessage>");
}

class KxqhostOutputTest : public kx::test::tools::KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made =
        Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  // The notice line of `err`, "" when there is none.
  static std::string NoticeOf(const std::string& err) {
    const size_t at = err.find(kNothingDone);
    if (at == std::string::npos) return "";
    return err.substr(at, err.find('\n', at) - at);
  }
  std::string RatedFlowNow() {
    const std::string dump = Dump({"101"});
    const size_t at = dump.find("RatedFlow = ");
    return at == std::string::npos ? "" : dump.substr(at, dump.find('\n', at) - at);
  }
};

TEST_F(KxqhostOutputTest, VersionNamesTheProgramAndItsModuleAndNeedsNoStore) {
  const Outcome outcome = Bare({"--version"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out.rfind("kxqhost 1.0\nmodule library: /", 0), 0u) << outcome.out;
  EXPECT_NE(outcome.out.find("/libKXDBDatasheetSvcs.so\n"), std::string::npos) << outcome.out;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "kxq-store.db"));
  // Before a command it still answers alone.
  EXPECT_EQ(Host({"--version", "dump", "101"}).out, outcome.out);
}

TEST_F(KxqhostOutputTest, AReplyEndsWithALineEndAndPrettyIndentsIt) {
  const Outcome plain = Host({"request", "ListHolds"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out, std::string(kHolds) + "\n");

  const Outcome pretty = Host({"--pretty", "request", "ListHolds"});
  ASSERT_EQ(pretty.status, 0) << pretty.err;
  EXPECT_EQ(pretty.out,
            "<XMLMessage TargetId=\"App\">\n"
            "  <Holds>\n"
            "    <Hold HoldId=\"1191\" Name=\"HOLD-01 Pump curves awaited from vendor\"/>\n"
            "  </Holds>\n"
            "</XMLMessage>\n");

  // An element holding text keeps it on its line, as it is.
  const Outcome alert =
      Host({"--pretty", "request", "SubmitDocuments"},
           "<XMLMessage><SubmitDocuments Confirmed=\"1\"><Datasheet DocumentId=\"1001\"/>"
           "</SubmitDocuments></XMLMessage>");
  ASSERT_EQ(alert.status, 0) << alert.err;
  EXPECT_EQ(alert.out,
            "<XMLMessage TargetId=\"App\">\n"
            "  <Message MessageType=\"ALERT\">Submitted 1 Document</Message>\n"
            "</XMLMessage>\n");

  // A sent text is not XML: printed as it is.
  const Outcome text = Host({"--pretty", "request", "GetTemplateFromDB"},
                            "<XMLMessage TargetId=\"T\"><GetTemplateFromDB TemplateId=\"HX-DS\" "
                            "Checknum=\"3\"/></XMLMessage>");
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out, "HX-DS version 3\n");
}

TEST_F(KxqhostOutputTest, PrettyIndentsTheEventXml) {
  const Outcome outcome = Host({"--pretty", "--events", "request", "SetRealField"},
                               RatedFlow("<XMLMessage TargetId=\"Editor\" Status=\"1\">"));
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("== event DataField [F1 1011] to bob\n"
                             "<?xml version=\"1.0\"?>\n"
                             "<XMLMessage TargetId=\"1001\" Status=\"1\">\n"
                             "  <ShowRealField PageId=\"1011\" FieldId=\"103\" "),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("Value=\"395\"/>\n</XMLMessage>\n== current datasheet"),
            std::string::npos)
      << outcome.out;
  EXPECT_EQ(NoticeOf(outcome.err), "");
}

TEST_F(KxqhostOutputTest, ARequestThatDidNothingSaysWhyItMayHaveDoneNothing) {
  const std::string before = RatedFlowNow();
  const std::string hint = " (the value setters act only when it is 1)";
  struct Case {
    std::string text;
    std::string notice;
  };
  const Case cases[] = {
      // The missing "Status" is named by a notice of its own, once.
      {RatedFlow("<XMLMessage TargetId=\"Editor\">"), std::string(kNothingDone)},
      {RatedFlow("<XMLMessage TargetId=\"Editor\" Status=\"0\">"),
       std::string(kNothingDone) + ": its \"Status\" is 0" + hint},
      {RatedFlow(""),
       std::string(kNothingDone) + ": it has no \"XMLMessage\" and so no \"Status\"" + hint},
      {RatedFlow("<XMLMessage Status=\"1\">", "SetStringField"),
       std::string(kNothingDone) +
           ": its message element is \"SetStringField\", not \"SetRealField\""},
      // A setter acts on "Status" 1 alone; the module finds the message in
      // any letter case, its element only as the grammar spells it.
      {RatedFlow("<XMLMessage TargetId=\"Editor\" Status=\"3\">"),
       std::string(kNothingDone) + ": its \"Status\" is 3" + hint},
      {RatedFlow("<XMLMessage Status=\"1\">", "setRealField"),
       std::string(kNothingDone) +
           ": its message element is \"setRealField\"; the module finds the message in any "
           "letter case, but reads its element only as \"SetRealField\""},
      // "01" is 1 to the module: the element's letter case alone explains.
      {RatedFlow("<XMLMessage Status=\"01\">", "setRealField"),
       std::string(kNothingDone) +
           ": its message element is \"setRealField\"; the module finds the message in any "
           "letter case, but reads its element only as \"SetRealField\""},
      // An envelope in other letter case is passed over with all it holds.
      {"<xmlmessage Status=\"1\"><SetRealField PageId=\"1011\" FieldId=\"103\" "
       "Value=\"395\"/></xmlmessage>",
       std::string(kNothingDone) +
           ": its envelope is \"xmlmessage\"; the module reads it only as \"XMLMessage\" and "
           "passes over all it holds"},
      {"<?xml version=\"1.0\"?>\n<!-- a note -->\n<Request Status=\"1\"/>",
       std::string(kNothingDone) +
           ": its root element is \"Request\", neither \"XMLMessage\" nor "
           "\"SetRealField\"; it has no \"XMLMessage\" and so no \"Status\"" +
           hint},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome outcome = Host({"request", "SetRealField"}, c.text);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(NoticeOf(outcome.err), c.notice) << outcome.err;
  }
  EXPECT_EQ(RatedFlowNow(), before);

  // An envelope the module does not read is not taken for a missing one:
  // nothing added to it would be read.
  for (const std::string& text :
       {std::string("<xmlmessage><SetRealField PageId=\"1011\" FieldId=\"103\" Value=\"395\"/>"
                    "</xmlmessage>"),
        "<Request>" + RatedFlow("<XMLMessage>") + "</Request>"}) {
    SCOPED_TRACE(text);
    const Outcome outcome = Host({"request", "SetRealField"}, text);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err.find("needs"), std::string::npos) << outcome.err;
  }

  // A message that does not read "Status" is not told of it.
  const Outcome copy = Host({"request", "CopyFieldCase"},
                            "<XMLMessage Status=\"0\"><CopyFieldCase PageId=\"1031\" "
                            "FieldId=\"103\" CaseId=\"1\"/></XMLMessage>");
  ASSERT_EQ(copy.status, 0) << copy.err;
  EXPECT_EQ(NoticeOf(copy.err), kNothingDone) << copy.err;

  // A bare text has no envelope to blame, nor has a message that reads its
  // text not at all, even sent in one.
  const Outcome bare = Host({"request", "ListDatasheetsByField"}, "103\n");
  ASSERT_EQ(bare.status, 0) << bare.err;
  EXPECT_EQ(bare.err, std::string(kNothingDone) + "\n");
  const Outcome unread = Host({"request", "AddFieldObjects"},
                              "<XMLMessage TargetId=\"1001\"><AddFieldObjects/></XMLMessage>");
  ASSERT_EQ(unread.status, 0) << unread.err;
  EXPECT_EQ(unread.err, std::string(kNothingDone) + "\n");

  // A request that answered or changed the store has nothing to explain.
  EXPECT_EQ(NoticeOf(Host({"request", "ListHolds"}).err), "");
  const Outcome set = Host({"request", "SetRealField"}, RatedFlow("<XMLMessage Status=\"1\">"));
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out, "");
  EXPECT_EQ(NoticeOf(set.err), "") << set.err;
  EXPECT_NE(RatedFlowNow(), before);
}

// A failed request's line is the host library's hint and the module's
// description, on one line: the hint first where the module names only a
// symptom, after it where the module's text is the point.
TEST_F(KxqhostOutputTest, AFailedRequestsLineCarriesTheHostLibrarysHint) {
  struct Case {
    std::string name, text, line;
  };
  const Case cases[] = {
      {"ChangeDatasheetDimensionSet", "<ChangeDatasheetDimensionSet Name=\"US\"/>",
       "failed: \"ChangeDatasheetDimensionSet\" needs \"TargetId\" on \"XMLMessage\" (the "
       "envelope), which the request lacks (it has no \"XMLMessage\" envelope): the datasheet's "
       "object id, in decimal (\"1003\"): its pages take the set's units; the module says: No "
       "object with id 0 (0x8004B001)"},
      {"setrealfield",
       "<XMLMessage Status=\"1\"><SetRealField PageId=\"1011\" Value=\"3\"/></XMLMessage>",
       "failed: \"SetRealField\" needs \"FieldId\" on \"SetRealField\", which the request lacks: "
       "the field's id in the page's template (\"103\"); the module says: Type mismatch. "
       "(0x80020005)"},
      {"ListDatasheetDimensions",
       "<XMLMessage TargetId=\"1001\" Status=\"7\"><ListDatasheetDimensions/></XMLMessage>",
       "failed: Invalid status; a version's \"Status\" is 1 (current), 2 (submitted), 3 "
       "(checked) or 4 (issued) (0x80070057)"},
      {"ChangeDatasheetDimensionUnit",
       "<XMLMessage TargetId=\"1001\"><ChangeDatasheetDimensionUnit Name=\"Presure\" "
       "UnitId=\"bar\"/></XMLMessage>",
       "failed: Unknown dimension 'Presure' for unit 'bar'; the store's dimensions: \"Length\", "
       "\"Area\", \"Volume\", \"Pressure\", \"Temperature\", \"VolumeFlow\", \"Power\", "
       "\"Density\" (0x80070057)"},
      {"ChangeDatasheetDimensionUnit",
       "<XMLMessage TargetId=\"1001\"><ChangeDatasheetDimensionUnit Name=\"Pressure\" "
       "UnitId=\"bra\"/></XMLMessage>",
       "failed: Unit 'bra' is not a unit of dimension 'Pressure'; the units of \"Pressure\": "
       "\"Pa\", \"kPa\", \"bar\", \"psi\" (0x80070057)"},
      {"SetRealField",
       "<XMLMessage Status=\"1\"><SetRealField PageId=\"1071\" FieldId=\"404\" "
       "Value=\"3150\"/></XMLMessage>",
       "failed: Field 404 of page 1071 is a list column: row -1 is no row of the list; the "
       "request has no \"Index\": name the row with it (0 the first) (0x8002000B)"},
      // The module's description holds a line end: the line stays whole.
      {"CompareDocuments",
       "<XMLMessage TargetId=\"1001\" Status=\"1\"><CompareDocuments/></XMLMessage>",
       "failed: Datasheet1 no longer exists in the workspace. It may have been deleted by another "
       "user. (0x80004005)"},
  };
  const std::string before = Dump({"1001", "1011", "1071"});
  // A message name holding a line end keeps the line whole too.
  const Outcome named = Host({"request", "ListHold\n", "-"}, "");
  EXPECT_EQ(named.status, 1);
  const std::string last =
      "\nkxqhost: request ListHold failed: the module has no message \"ListHold \"; the "
      "nearest: \"ListHolds\"; the module says: Data service request handler not found "
      "(0x80004005)\n";
  ASSERT_GE(named.err.size(), last.size()) << named.err;
  EXPECT_EQ(named.err.substr(named.err.size() - last.size()), last) << named.err;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome outcome = Host({"request", c.name, "-"}, c.text);
    EXPECT_EQ(outcome.status, 1);
    const std::string line = "kxqhost: request " + c.name + " " + c.line + "\n";
    ASSERT_GE(outcome.err.size(), line.size()) << outcome.err;
    EXPECT_EQ(outcome.err.substr(outcome.err.size() - line.size()), line) << outcome.err;
    EXPECT_EQ(outcome.err.find("notice:"), std::string::npos) << outcome.err;
  }
  EXPECT_EQ(Dump({"1001", "1011", "1071"}), before);
}

// "PageLayout" takes a layout attribute only once it has read "PageId": a
// request that names one before it, or has none, succeeds, stores nothing
// of it and sends its event; kxqhost says so.
TEST_F(KxqhostOutputTest, APageLayoutWithALayoutAttributeBeforePageIdIsToldSo) {
  const auto orientation = [this] {
    const std::string dump = Dump({"1021"});
    const size_t at = dump.find("Orientation = ");
    return at == std::string::npos ? std::string() : dump.substr(at, dump.find('\n', at) - at);
  };
  const std::string before = orientation();
  const Outcome late =
      Host({"request", "PageLayout", "-"},
           "<XMLMessage TargetId=\"1002\" Status=\"1\"><PageLayout Orientation=\"2\" "
           "ScaleMode=\"1\" PageId=\"1021\"/></XMLMessage>");
  ASSERT_EQ(late.status, 0) << late.err;
  EXPECT_EQ(late.err,
            "notice: \"PageLayout\" takes a layout attribute only after \"PageId\": Orientation, "
            "ScaleMode come before it and are not stored; name \"PageId\" first\n");
  const Outcome none = Host({"request", "PageLayout", "-"},
                            "<XMLMessage TargetId=\"1002\" Status=\"1\"><PageLayout "
                            "Orientation=\"2\"/></XMLMessage>");
  ASSERT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(none.err,
            "notice: \"PageLayout\" has no \"PageId\": its layout reaches no page and nothing is "
            "stored (the change event is sent all the same)\n");
  EXPECT_EQ(orientation(), before);
  // A page named by an earlier "PageLayout" of the request takes what
  // follows it; an unknown attribute is no layout attribute.
  const Outcome later = Host({"request", "PageLayout", "-"},
                             "<XMLMessage TargetId=\"1002\" Status=\"1\"><PageLayout Foo=\"1\" "
                             "Orientation=\"2\"/><PageLayout PageId=\"1021\" PaperSize=\"7\"/>"
                             "</XMLMessage>");
  ASSERT_EQ(later.status, 0) << later.err;
  EXPECT_NE(later.err.find("notice: \"PageLayout\" takes a layout attribute only after "
                           "\"PageId\": Orientation comes before it and is not stored; name "
                           "\"PageId\" first\n"),
            std::string::npos)
      << later.err;
  EXPECT_EQ(orientation(), before);
  EXPECT_NE(Dump({"1021"}).find("PaperSize = 7\n"), std::string::npos);
  const Outcome first =
      Host({"request", "PageLayout", "-"},
           "<XMLMessage TargetId=\"1002\" Status=\"1\"><PageLayout PageId=\"1021\" "
           "Orientation=\"2\"/></XMLMessage>");
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.err, "");
  EXPECT_NE(orientation(), before);
}

}  // namespace
