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

  // A message that does not read "Status" is not told of it.
  const Outcome copy = Host({"request", "CopyFieldCase"},
                            "<XMLMessage Status=\"0\"><CopyFieldCase PageId=\"1031\" "
                            "FieldId=\"103\" CaseId=\"1\"/></XMLMessage>");
  ASSERT_EQ(copy.status, 0) << copy.err;
  EXPECT_EQ(NoticeOf(copy.err), kNothingDone) << copy.err;

  // A bare text has no envelope to blame.
  const Outcome bare = Host({"request", "ListDatasheetsByField"}, "103\n");
  ASSERT_EQ(bare.status, 0) << bare.err;
  EXPECT_EQ(bare.err, std::string(kNothingDone) + "\n");

  // A request that answered or changed the store has nothing to explain.
  EXPECT_EQ(NoticeOf(Host({"request", "ListHolds"}).err), "");
  const Outcome set = Host({"request", "SetRealField"}, RatedFlow("<XMLMessage Status=\"1\">"));
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out, "");
  EXPECT_EQ(NoticeOf(set.err), "") << set.err;
  EXPECT_NE(RatedFlowNow(), before);
}

}  // namespace
