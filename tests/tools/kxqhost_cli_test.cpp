// The command line of kxqhost, run as a subprocess against a store made
// from the small test plant: requests and their failures, init and dump,
// registration, the journal, object services and database events.
#include <filesystem>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "com/registry.h"
#include "support/host_fixture.h"

namespace {

using kx::test::tools::KxqhostTest;
using kx::test::tools::Outcome;

constexpr char kCreateAnnotation[] =
    "<XMLMessage TargetId=\"T\" Status=\"1\"><CreateAnnotation PageId=\"11\" Value=\"note\"/>"
    "</XMLMessage>";

bool HasLine(const std::string& text, const std::string& line) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, end - start, line) == 0) return true;
    start = end + 1;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Requests.

TEST_F(KxqhostTest, UnknownMessageFailsWithItsDescriptionOnStandardError) {
  InitStore();
  const Outcome outcome = Host({"request", "NoSuchMessage"}, "<XMLMessage/>");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err.rfind("<KXError ", 0), 0u) << outcome.err;
  EXPECT_NE(outcome.err.find("Desc=\"Data service request handler not found\""), std::string::npos)
      << outcome.err;
}

// A request that lacks what its message needs fails in the module's words
// (kept as they are), or does nothing: the failed line gives the host
// library's hint first (the attribute and what it takes, once; the names
// a misspelt message may have meant), then the module's words; a request
// that did nothing gets the same as a notice. The module's chain is
// printed once, the failed line last.
TEST_F(KxqhostTest, ARequestIsToldWhatItLacksAndAMisspeltMessageItsNearestNames) {
  InitStore();
  const auto count = [](const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  };
  const Outcome dimensions =
      Host({"request", "ListDatasheetDimensions", "-"},
           "<XMLMessage TargetId=\"10\"><ListDatasheetDimensions/></XMLMessage>");
  EXPECT_EQ(dimensions.status, 1);
  EXPECT_EQ(count(dimensions.err, "Activity=\"Parsing element ListDatasheetDimensions"), 1u)
      << dimensions.err;
  EXPECT_NE(dimensions.err.find("kxqhost: request ListDatasheetDimensions failed: "
                                "\"ListDatasheetDimensions\" needs \"Status\" on "
                                "\"XMLMessage\" (the envelope), which the request lacks: the "
                                "datasheet's page set whose dimensions are listed: 1 the current "
                                "pages, 2 submitted, 3 checked, 4 issued;"),
            std::string::npos)
      << dimensions.err;
  EXPECT_NE(dimensions.err.find("; the module says: Invalid status (0x80070057)\n"),
            std::string::npos)
      << dimensions.err;
  EXPECT_EQ(dimensions.err.find("notice:"), std::string::npos) << dimensions.err;

  const Outcome field = Host({"request", "SetRealField", "-"},
                             "<XMLMessage Status=\"1\"><SetRealField PageId=\"11\" Value=\"3\"/>"
                             "</XMLMessage>");
  EXPECT_EQ(field.status, 1);
  EXPECT_NE(field.err.find("kxqhost: request SetRealField failed: \"SetRealField\" needs "
                           "\"FieldId\" on \"SetRealField\", which the request lacks: the "
                           "field's id in the page's template (\"103\"); the module says: "),
            std::string::npos)
      << field.err;
  EXPECT_EQ(field.err.find("\"PageId\""), std::string::npos) << field.err;
  // A note that begins with "A" reads on in lower case too.
  const Outcome check =
      Host({"request", "CheckDocuments", "-"},
           "<XMLMessage><CheckDocuments><Datasheet/></CheckDocuments></XMLMessage>");
  EXPECT_NE(check.err.find("which the request lacks: a submitted datasheet's object id"),
            std::string::npos)
      << check.err;

  // A setter without "Status" does nothing: the notice of the missing
  // attribute says why, the notice of a request that did nothing does not
  // say it again.
  const Outcome status = Host({"request", "SetRealField", "-"},
                              "<XMLMessage><SetRealField PageId=\"11\" FieldId=\"2\" Value=\"3\"/>"
                              "</XMLMessage>");
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_EQ(status.err,
            "notice: \"SetRealField\" needs \"Status\" on \"XMLMessage\" (the envelope), which the "
            "request lacks: 1, the current pages: with any other value, or none, the request "
            "succeeds and changes nothing.\n"
            "notice: the request changed nothing and wrote no reply\n");

  const Outcome misspelt = Host({"request", "ListHold", "-"}, "");
  EXPECT_EQ(misspelt.status, 1);
  EXPECT_NE(misspelt.err.find("kxqhost: request ListHold failed: the module has no message "
                              "\"ListHold\"; the nearest: \"ListHolds\"; the module says: Data "
                              "service request handler not found (0x80004005)\n"),
            std::string::npos)
      << misspelt.err;
  const Outcome swapped = Host({"request", "SetRealFeild", "-"}, "");
  EXPECT_NE(swapped.err.find("the nearest: \"SetRealField\"; the module says"), std::string::npos)
      << swapped.err;
  const Outcome unknown = Host({"request", "Frobnicate", "-"}, "");
  EXPECT_NE(unknown.err.find("failed: the module has no message \"Frobnicate\"; docs/messages.md "
                             "lists its messages; the module says: "),
            std::string::npos)
      << unknown.err;
  // The module finds a name whatever its letter case.
  const Outcome lower = Host({"request", "listholds", "-"}, "");
  EXPECT_EQ(lower.status, 0) << lower.err;
  EXPECT_EQ(lower.err.find("notice"), std::string::npos) << lower.err;
}

TEST_F(KxqhostTest, RequestTextComesFromAFileOrStandardInput) {
  InitStore();
  kx::test::tools::WriteText(dir_ / "request.xml", kCreateAnnotation);
  // Both reach the parser of the message: its worker names the message.
  for (const Outcome& outcome : {Host({"request", "CreateAnnotation", dir_ / "request.xml"}),
                                 Host({"request", "CreateAnnotation", "-"}, kCreateAnnotation)}) {
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("CreateAnnotation"), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find("cannot read"), std::string::npos);
  }
}

// A request file or a script that cannot be read is refused saying why:
// missing, a folder, or not readable by this user.
TEST_F(KxqhostTest, AFileThatCannotBeReadSaysWhy) {
  namespace fs = std::filesystem;
  InitStore();
  const Outcome missing = Host({"request", "CreateAnnotation", dir_ / "none.xml"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read " + dir_ / "none.xml" + ": No such file or directory"),
            std::string::npos)
      << missing.err;
  const Outcome folder = Host({"request", "CreateAnnotation", dir_.path()});
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("cannot read " + dir_.path() + ": it is a folder, not a file"),
            std::string::npos)
      << folder.err;
  const Outcome script = Host({"run", dir_ / "none.kxq"});
  EXPECT_EQ(script.status, 1);
  EXPECT_NE(script.err.find("cannot read " + dir_ / "none.kxq" + ": No such file or directory"),
            std::string::npos)
      << script.err;
  kx::test::tools::WriteText(dir_ / "secret.xml", kCreateAnnotation);
  fs::permissions(dir_ / "secret.xml", fs::perms::owner_write);
  fs::permissions(dir_.path(),
                  fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
  const Outcome hidden = kx::test::tools::RunHostWith(
      {"request", "CreateAnnotation", dir_ / "secret.xml"}, dir_.path(),
      {"KXQ_REGISTRY=" + Registry()}, "", {.unprivileged = true});
  EXPECT_EQ(hidden.status, 1);
  EXPECT_NE(hidden.err.find("cannot read " + dir_ / "secret.xml" + ": Permission denied"),
            std::string::npos)
      << hidden.err;
}

TEST_F(KxqhostTest, RequestTextThatIsNotUtf8IsRefusedBeforeTheModule) {
  InitStore();
  const Outcome outcome = Host({"request", "CreateAnnotation"}, "<XMLMessage Value=\"\xC3\x28\"/>");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("not valid UTF-8"), std::string::npos) << outcome.err;
}

// A request longer than the XML reader takes (64 MiB) is refused before it
// is read: a 300 MB file is never held in memory.
TEST_F(KxqhostTest, ARequestLargerThanTheReaderTakesIsRefusedBeforeItIsRead) {
  InitStore();
  const std::string big = dir_ / "big.xml";
  kx::test::tools::WriteText(big, "<XMLMessage/>");
  std::filesystem::resize_file(big, 300u << 20);  // sparse: costs no disk
  const Outcome file = Host({"request", "CreateAnnotation", big});
  EXPECT_EQ(file.status, 1);
  EXPECT_NE(file.err.find("the request is larger than 67108864 bytes"), std::string::npos)
      << file.err;
  std::string piped(64u << 20, ' ');
  piped += "<XMLMessage/>";
  const Outcome input = Host({"request", "CreateAnnotation", "-"}, piped);
  EXPECT_EQ(input.status, 1);
  EXPECT_NE(input.err.find("the request is larger than 67108864 bytes"), std::string::npos)
      << input.err;
}

TEST_F(KxqhostTest, FailedRequestLeavesTheStoreUnchanged) {
  InitStore();
  const std::string before = Dump({"10", "11", "20", "21"});
  const Outcome failed = Host({"request", "CreateAnnotation"}, kCreateAnnotation);
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(Dump({"10", "11", "20", "21"}), before);
}

// ---------------------------------------------------------------------------
// init and dump.

TEST_F(KxqhostTest, InitThenDumpShowsTheFixture) {
  const Outcome made = Host({"init", "--fixture", TinyPlant()});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_NE(made.out.find("(5 objects)"), std::string::npos) << made.out;
  EXPECT_EQ(Dump({"20"}),
            "object 20 Pump\n"
            "DataViews[1] = #11\n"
            "Tag = \"P-101\"\n"
            "Length = 1500 mm\n"
            "Started = 2020-01-02\n");
  EXPECT_EQ(Dump({"11"}),
            "object 11 Page\n"
            "owner 10\n"
            "NodeObjects[1] = #20\n"
            "NodeIndices[1] = 1\n"
            "PageNumber = 1\n"
            "TemplateId = \"PUMP\"\n");
}

TEST_F(KxqhostTest, DumpOfAnUnknownObjectFails) {
  InitStore();
  const Outcome outcome = Host({"dump", "99"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("cannot dump object 99"), std::string::npos) << outcome.err;
  EXPECT_EQ(Host({"dump", "x"}).status, 2);
}

TEST_F(KxqhostTest, InitRefusesAnExistingStore) {
  InitStore();
  const Outcome again = Host({"init", "--fixture", TinyPlant()});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("exists"), std::string::npos);
}

TEST_F(KxqhostTest, InitFromABrokenFixtureLeavesNoStore) {
  kx::test::tools::WriteText(dir_ / "broken.xml",
                             "<store>\n<schema>\n<klass name='A'/>\n</schema>\n</store>");
  const Outcome outcome = Host({"init", "--fixture", dir_ / "broken.xml"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("broken.xml:3:"), std::string::npos) << outcome.err;
  EXPECT_FALSE(std::filesystem::exists(Store()));
  // So a corrected fixture can be imported at once.
  EXPECT_EQ(Host({"init", "--fixture", TinyPlant()}).status, 0);
}

TEST_F(KxqhostTest, CommandsOnAMissingStoreExplainHowToMakeIt) {
  const Outcome outcome = Host({"dump", "20"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("init"), std::string::npos) << outcome.err;
}

// Only `init` makes the default store: another command in an empty folder
// says how to make one and leaves no file. The command it names is the
// program as it was called ("build/bin/kxqhost init" from the source tree),
// so it runs as printed.
TEST_F(KxqhostTest, OnlyInitMakesTheDefaultStore) {
  const std::string program = KXQHOST_PROGRAM;
  for (const std::vector<std::string>& command :
       std::vector<std::vector<std::string>>{{"dump", "101"}, {"request", "ListHolds", "-"}}) {
    const Outcome outcome = Bare(command);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "kxqhost: no store at ./kxq-store.db; make one from the sample plant "
              "with: " +
                  program + " init\n");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "kxq-store.db"));
  }
  ASSERT_EQ(Bare({"init"}).status, 0);
  EXPECT_EQ(Bare({"dump", "101"}).status, 0);

  const Outcome named = Bare({"--store", "other.db", "dump", "101"});
  EXPECT_EQ(named.status, 1);
  EXPECT_EQ(named.err, "kxqhost: no store at other.db; make one with: " + program +
                           " --store other.db init\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "other.db"));
}

// A request with no FILE at a terminal is a forgotten text, not an empty
// one: nothing is sent.
TEST_F(KxqhostTest, ARequestWithoutFileAtATerminalAsksForOne) {
  InitStore();
  const Outcome outcome = kx::test::tools::RunHostOnTerminal(
      {"--store", Store(), "request", "ListHolds"}, dir_.path(), Registry());
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err,
            "kxqhost: request ListHolds needs its text: give FILE or - (standard input)\n");
  EXPECT_EQ(outcome.out, "");
}

// An attribute the message's grammar does not know is ignored by the module;
// kxqhost names it and what the element takes, once, whatever the outcome.
TEST_F(KxqhostTest, AnAttributeTheGrammarDoesNotKnowGetsANotice) {
  InitStore();
  const Outcome misspelt =
      Host({"request", "SetRealField", "-"},
           "<XMLMessage Status=\"1\" Sender=\"me\"><SetRealField PageId=\"11\" "
           "FieldID=\"103\" Value=\"5\"/><SetRealField FieldID=\"103\"/>"
           "</XMLMessage>");
  const std::string notice =
      "notice: \"SetRealField\" knows no attribute \"FieldID\" on \"SetRealField\" and ignores "
      "it; \"SetRealField\" takes PageId, FieldId, ";
  const size_t at = misspelt.err.find(notice);
  EXPECT_NE(at, std::string::npos) << misspelt.err;
  EXPECT_EQ(misspelt.err.find(notice, at + 1), std::string::npos) << misspelt.err;
  EXPECT_NE(
      misspelt.err.find("notice: \"SetRealField\" knows no attribute \"Sender\" on "
                        "\"XMLMessage\" and ignores it; \"XMLMessage\" takes TargetId, Status\n"),
      std::string::npos)
      << misspelt.err;
  const Outcome right = Host({"request", "SetRealField", "-"},
                             "<XMLMessage Status=\"1\"><SetRealField PageId=\"11\" FieldId=\"103\" "
                             "Value=\"5\"/></XMLMessage>");
  EXPECT_EQ(right.err.find("knows no attribute"), std::string::npos) << right.err;
}

// A --deny name that is no privilege withholds nothing: a notice says so
// and names the privileges there are; a right name gets none.
TEST_F(KxqhostTest, ADenyOfNoPrivilegeGetsANoticeNamingThePrivileges) {
  InitStore();
  const Outcome wrong = Host({"--deny", "CheckDocuments", "registration"});
  EXPECT_EQ(wrong.status, 0) << wrong.err;
  EXPECT_NE(wrong.err.find("notice: --deny CheckDocuments names no privilege, so it withholds "
                           "nothing; they are \"SecureAttribute\", \"LockAttribute\", "
                           "\"CheckDocument\", \"IssueDocument\", \"Modify Non-Project "
                           "Summary\", \"Globally Change Display Units\"\n"),
            std::string::npos)
      << wrong.err;
  const Outcome right =
      Host({"--deny", "CheckDocument", "--deny", "Modify Non-Project Summary", "registration"});
  EXPECT_EQ(right.status, 0) << right.err;
  EXPECT_EQ(right.err.find("notice:"), std::string::npos) << right.err;
}

// A mistyped option or command costs one line, which points at --help.
TEST_F(KxqhostTest, AnOptionTypoPrintsOneLineNotTheUsage) {
  const Outcome option = Bare({"--evnets", "dump", "1"});
  EXPECT_EQ(option.status, 2);
  const std::string program = KXQHOST_PROGRAM;
  EXPECT_EQ(option.err,
            "kxqhost: unknown option --evnets (" + program + " --help lists the options)\n");
  const Outcome command = Bare({"dupm", "1"});
  EXPECT_EQ(command.status, 2);
  EXPECT_EQ(command.err,
            "kxqhost: unknown command dupm (" + program + " --help lists the commands)\n");
}

TEST_F(KxqhostTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Bare({}).status, 2);
  EXPECT_EQ(Bare({"--store"}).status, 2);
  EXPECT_EQ(Bare({"--bogus", "dump", "1"}).status, 2);
  EXPECT_EQ(Bare({"frobnicate"}).status, 2);
  EXPECT_EQ(Bare({"--set", "NoEquals", "dump", "1"}).status, 2);
  EXPECT_EQ(Host({"request"}).status, 2);
  EXPECT_EQ(Host({"event", "1"}).status, 2);
  EXPECT_EQ(Host({"dump", "\xC3\x28"}).status, 2);
  const Outcome help = Bare({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: kxqhost"), std::string::npos);
  // Each option says what it does; a command's --help is the same help,
  // not a message named "--help".
  EXPECT_NE(help.out.find("  --hold-events                  run: change events wait for"),
            std::string::npos)
      << help.out;
  const Outcome request_help = Host({"request", "--help"});
  EXPECT_EQ(request_help.status, 0) << request_help.err;
  EXPECT_EQ(request_help.out, help.out);
  EXPECT_EQ(request_help.err, "");
}

// ---------------------------------------------------------------------------
// Registration.

class RegistryView {
 public:
  explicit RegistryView(const std::string& path) { ::setenv("KXQ_REGISTRY", path.c_str(), 1); }
  bool Has(const char16_t* key) const { return kx_reg_key_exists(key) == S_OK; }
};

TEST_F(KxqhostTest, RegisterAndUnregisterShowInTheRegistrationStore) {
  const RegistryView registry(Registry());
  const Outcome registered = Bare({"register"});
  ASSERT_EQ(registered.status, 0) << registered.err;
  EXPECT_TRUE(registry.Has(u"HKEY_CLASSES_ROOT\\KXDBDatasheetSvcs.Main\\CLSID"));
  std::u16string clsid;
  ASSERT_EQ(kx_reg_get_value(u"HKEY_CLASSES_ROOT\\KXDBDatasheetSvcs.Main\\CLSID", u"", &clsid),
            S_OK);
  std::u16string server;
  ASSERT_EQ(
      kx_reg_get_value(u"HKEY_CLASSES_ROOT\\CLSID\\" + clsid + u"\\InprocServer32", u"", &server),
      S_OK);
  EXPECT_NE(server.find(u"libKXDBDatasheetSvcs.so"), std::u16string::npos);

  const Outcome unregistered = Bare({"unregister"});
  ASSERT_EQ(unregistered.status, 0) << unregistered.err;
  EXPECT_FALSE(registry.Has(u"HKEY_CLASSES_ROOT\\KXDBDatasheetSvcs.Main"));
  EXPECT_FALSE(registry.Has((u"HKEY_CLASSES_ROOT\\CLSID\\" + clsid).c_str()));
  EXPECT_EQ(Bare({"register", "extra"}).status, 2);
}

TEST_F(KxqhostTest, ServingACommandRegistersTheModuleWhenItIsNot) {
  const RegistryView registry(Registry());
  InitStore();
  EXPECT_FALSE(registry.Has(u"HKEY_CLASSES_ROOT\\KXDBDatasheetSvcs.Main"));
  EXPECT_EQ(Host({"request", "NoSuchMessage"}).status, 1);
  EXPECT_TRUE(registry.Has(u"HKEY_CLASSES_ROOT\\KXDBDatasheetSvcs.Main"));
}

TEST_F(KxqhostTest, AStaleRegistrationIsReplacedByTheBuiltModule) {
  const RegistryView registry(Registry());
  InitStore();
  ASSERT_EQ(Bare({"register"}).status, 0);
  std::u16string clsid;
  ASSERT_EQ(kx_reg_get_value(u"HKEY_CLASSES_ROOT\\KXDBDatasheetSvcs.Main\\CLSID", u"", &clsid),
            S_OK);
  const std::u16string server = u"HKEY_CLASSES_ROOT\\CLSID\\" + clsid + u"\\InprocServer32";
  ASSERT_EQ(kx_reg_set_value(server, u"", u"/nowhere/libKXDBDatasheetSvcs.so"), S_OK);
  const Outcome outcome = Host({"request", "NoSuchMessage"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Data service request handler not found"), std::string::npos)
      << outcome.err;
}

TEST_F(KxqhostTest, ARegisteredLibraryThatCannotBeLoadedIsReplacedByTheBuiltModule) {
  const RegistryView registry(Registry());
  InitStore();
  ASSERT_EQ(Bare({"register"}).status, 0);
  std::u16string clsid;
  ASSERT_EQ(kx_reg_get_value(u"HKEY_CLASSES_ROOT\\KXDBDatasheetSvcs.Main\\CLSID", u"", &clsid),
            S_OK);
  const std::u16string server = u"HKEY_CLASSES_ROOT\\CLSID\\" + clsid + u"\\InprocServer32";
  kx::test::tools::WriteText(dir_ / "libKXDBDatasheetSvcs.so", "not a library");
  const std::string broken = dir_ / "libKXDBDatasheetSvcs.so";
  ASSERT_EQ(kx_reg_set_value(server, u"", std::u16string(broken.begin(), broken.end())), S_OK);
  // Told to load the registered one, the program finds it broken and
  // registers its build's in its place.
  const Outcome outcome = Host({"--registered-module", "request", "NoSuchMessage"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("could not be loaded"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("Data service request handler not found"), std::string::npos)
      << outcome.err;
  std::u16string now;
  ASSERT_EQ(kx_reg_get_value(server, u"", &now), S_OK);
  EXPECT_NE(now, std::u16string(broken.begin(), broken.end()));
}

// ---------------------------------------------------------------------------
// The journal.

TEST_F(KxqhostTest, JournalFileReceivesTheHandlerEntryLineWhole) {
  InitStore();
  const Outcome outcome =
      Host({"--journal", dir_ / "journal.log", "--set", "TraceLevel::JournalTrace=yes", "--set",
            "TraceLevel::General=high", "request", "CreateAnnotation"},
           kCreateAnnotation);
  EXPECT_EQ(outcome.status, 1);
  const std::string journal = kx::test::tools::ReadText(dir_ / "journal.log");
  EXPECT_TRUE(HasLine(journal, "&KXCE& >>>> Enter KXDBDatasheetSvcs::CreateAnnotation()"))
      << journal;
  // Trace lines went to the file, not to standard error.
  EXPECT_EQ(outcome.err.find(">>>> Enter"), std::string::npos) << outcome.err;
}

TEST_F(KxqhostTest, JournalGoesToStandardErrorByDefault) {
  InitStore();
  const Outcome outcome = Host({"--set", "TraceLevel::JournalTrace=yes", "--set",
                                "TraceLevel::General=high", "request", "CreateAnnotation"},
                               kCreateAnnotation);
  EXPECT_TRUE(HasLine(outcome.err, "&KXCE& >>>> Enter KXDBDatasheetSvcs::CreateAnnotation()"))
      << outcome.err;
}

TEST_F(KxqhostTest, SettingsFileSwitchesTracingOnAndCommandLineOverridesIt) {
  InitStore();
  kx::test::tools::WriteText(dir_ / "host.settings",
                             "# tracing\nTraceLevel::JournalTrace=yes\nTraceLevel::General=high\n");
  const std::string journal = dir_ / "journal.log";
  Host({"--settings", dir_ / "host.settings", "--journal", journal, "request", "CreateAnnotation"},
       kCreateAnnotation);
  EXPECT_NE(
      kx::test::tools::ReadText(journal).find(">>>> Enter KXDBDatasheetSvcs::CreateAnnotation()"),
      std::string::npos);
  std::filesystem::remove(journal);
  Host({"--settings", dir_ / "host.settings", "--set", "TraceLevel::JournalTrace=no", "--journal",
        journal, "request", "CreateAnnotation"},
       kCreateAnnotation);
  EXPECT_EQ(kx::test::tools::ReadText(journal).find(">>>> Enter"), std::string::npos);
  const Outcome missing = Host({"--settings", dir_ / "none.settings", "request", "X"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.settings"), std::string::npos) << missing.err;
}

// ---------------------------------------------------------------------------
// Object services.

TEST_F(KxqhostTest, DatasheetNameIsServed) {
  InitStore();
  const Outcome outcome = Host({"service", "10", "10", "DatasheetName"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "Pump datasheet P-101\n");
}

// The datasheet object service on the sample plant: a pump datasheet, and
// the project-wide pump summary with one row per pump.
TEST_F(KxqhostTest, SamplePlantDatasheetsAnswerTheirAutomationMethods) {
  const Outcome made =
      Host({"init", "--fixture", std::string(KXQHOST_SOURCE_DIR) + "/examples/plant.xml"});
  ASSERT_EQ(made.status, 0) << made.err;
  auto call = [&](const std::string& id, const std::string& method) {
    const Outcome outcome = Host({"service", "10", id, method});
    EXPECT_EQ(outcome.status, 0) << id << " " << method << ": " << outcome.err;
    return outcome.out;
  };
  EXPECT_EQ(call("1001", "DatasheetName"), "P-101A: Crude charge pump (Normal)\n");
  EXPECT_EQ(call("1001", "IsSummarySheet"), "false\n");
  EXPECT_EQ(call("1001", "DatasheetObjects"), "[1] #101 Pump: P-101A\n");
  EXPECT_EQ(call("1007", "DatasheetName"), "P-101A->P-104: Pump summary (Normal)\n");
  EXPECT_EQ(call("1007", "IsSummarySheet"), "true\n");
  EXPECT_EQ(call("1007", "GetSummarySheetProject"), "project #1 CDU-1 Revamp\n");
  // Six rows, lower bound 1; the order of the elements carries no meaning.
  const std::string rows = call("1007", "DatasheetObjects");
  EXPECT_EQ(rows.rfind("[1] ", 0), 0u) << rows;
  EXPECT_NE(rows.find("[6] "), std::string::npos) << rows;
  EXPECT_EQ(rows.find("[7] "), std::string::npos) << rows;
  for (const char* tag : {"P-101A", "P-101B", "P-102A", "P-102B", "P-103", "P-104"}) {
    EXPECT_NE(rows.find(std::string("Pump: ") + tag + "\n"), std::string::npos) << tag;
  }
  // A document that is no summary sheet has no project filter: its own
  // project is still found by id.
  EXPECT_EQ(call("1001", "GetSummarySheetProject"), "project #2 Area 100 Crude Preheat\n");
}

TEST_F(KxqhostTest, ObjectServiceFailuresNameTheirCause) {
  InitStore();
  const Outcome unknown_method = Host({"service", "10", "10", "NoSuchMethod"});
  EXPECT_EQ(unknown_method.status, 1);
  EXPECT_NE(unknown_method.err.find("no method NoSuchMethod"), std::string::npos)
      << unknown_method.err;
  const Outcome unknown_kind = Host({"service", "12", "10", "DatasheetName"});
  EXPECT_EQ(unknown_kind.status, 1);
  EXPECT_NE(unknown_kind.err.find("0x8000FFFF"), std::string::npos) << unknown_kind.err;
  const Outcome unknown_object = Host({"service", "10", "99", "DatasheetName"});
  EXPECT_EQ(unknown_object.status, 1);
  EXPECT_NE(unknown_object.err.find("no object 99"), std::string::npos) << unknown_object.err;
}

// ---------------------------------------------------------------------------
// Database events.

// Store kinds 0 to 10 on a pump: the module subscribed kind 2 (delete) and
// kind 5 (change class) for every object; the others reach no subscription.
TEST_F(KxqhostTest, DatabaseEventsOfKindsZeroToTenGoWhereTheModuleSubscribed) {
  InitStore();
  for (int kind = 0; kind <= 10; ++kind) {
    const Outcome outcome = Host({"event", std::to_string(kind), "20"});
    EXPECT_EQ(outcome.status, 0) << "kind " << kind << ": " << outcome.err;
    const bool subscribed = kind == 2 || kind == 5;
    EXPECT_EQ(outcome.err.find("nothing was delivered") == std::string::npos, subscribed)
        << "kind " << kind << ": " << outcome.err;
  }
}

// The module's own kinds 0 to 10, each with the argument it needs.
TEST_F(KxqhostTest, LocalEventKindsZeroToTenReachTheModule) {
  InitStore();
  for (int kind = 0; kind <= 10; ++kind) {
    std::vector<std::string> arguments{"event", "--local", std::to_string(kind), "20"};
    if (kind == 5) arguments.push_back("1");  // the deleted case
    if (kind == 7) arguments.push_back("2");  // the deleted project
    const Outcome outcome = Host(arguments);
    EXPECT_EQ(outcome.status, 0) << "kind " << kind << ": " << outcome.err;
  }
  const Outcome no_case = Host({"event", "--local", "5", "10"});
  EXPECT_EQ(no_case.status, 1);
  EXPECT_NE(no_case.err.find("carries no case number"), std::string::npos) << no_case.err;
}

TEST_F(KxqhostTest, EventArgumentsThatNameNothingAreRefused) {
  InitStore();
  EXPECT_NE(Host({"event", "5", "20", "NoSuchClass"}).err.find("no class NoSuchClass"),
            std::string::npos);
  EXPECT_NE(Host({"event", "15", "20", "77"}).err.find("no project 77"), std::string::npos);
  EXPECT_NE(Host({"event", "1", "99"}).err.find("no object 99"), std::string::npos);
}

}  // namespace
