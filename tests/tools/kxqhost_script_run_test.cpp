// `kxqhost run`: steps in one process, in order, with the output of each;
// changes made by steps and the notifications they raise; and durability
// when the process is killed in the middle of a call.
#include <chrono>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/host_fixture.h"

namespace {

using kx::test::tools::KxqhostTest;
using kx::test::tools::Outcome;

class ScriptTest : public KxqhostTest {
 protected:
  // Until the output file of a started kxqhost shows it stalling in a change.
  static void WaitForStalling(const std::string& out) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (kx::test::tools::ReadText(out).find("stalling") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  Outcome RunScript(const std::string& script, std::vector<std::string> options = {}) {
    kx::test::tools::WriteText(dir_ / "steps.kxq", script);
    options.push_back("run");
    options.push_back(dir_ / "steps.kxq");
    return Host(options);
  }
};

TEST_F(ScriptTest, StepsRunInOrderWithTheOutputOfEach) {
  InitStore();
  kx::test::tools::WriteText(dir_ / "unknown.xml", "<XMLMessage/>");
  const Outcome outcome = RunScript(
      "# a comment\n"
      "\n"
      "set 20 Tag \"P-101 A\"\n"
      "dump 20\n"
      "! request NoSuchMessage unknown.xml\n"
      "! request DeletePage <<END\n"
      "999999\n"
      "END\n"
      "create Pump\n"
      "set 21 Length 2 m\n"
      "set 20 Length\n"
      "set 11 NodeObjects[2] #21\n"
      "dump 21 11\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out,
            "## set 20 Tag \"P-101 A\"\n"
            "## dump 20\n"
            "object 20 Pump\n"
            "DataViews[1] = #11\n"
            "Tag = \"P-101 A\"\n"
            "Length = 1500 mm\n"
            "Started = 2020-01-02\n"
            "## ! request NoSuchMessage unknown.xml\n"
            "## ! request DeletePage <<END\n"
            "999999\n"
            "END\n"
            "## create Pump\n"
            "created #31\n"
            "## set 21 Length 2 m\n"
            "## set 20 Length\n"
            "## set 11 NodeObjects[2] #21\n"
            "## dump 21 11\n"
            "object 21 Pump\n"
            "Tag = \"P-102\"\n"
            "Length = 2 m\n"
            "object 11 Page\n"
            "owner 10\n"
            "NodeObjects[1] = #20\n"
            "NodeObjects[2] = #21\n"
            "NodeIndices[1] = 1\n"
            "PageNumber = 1\n"
            "TemplateId = \"PUMP\"\n");
  EXPECT_NE(outcome.err.find("Data service request handler not found"), std::string::npos);
  EXPECT_NE(outcome.err.find("No object with id 999999"), std::string::npos);
  // The steps' changes were committed one by one.
  EXPECT_NE(Dump({"20"}).find("Tag = \"P-101 A\"\n"), std::string::npos);
  EXPECT_EQ(Dump({"20"}).find("Length"), std::string::npos);
  EXPECT_EQ(Dump({"31"}), "object 31 Pump\n");
}

TEST_F(ScriptTest, AnUnexpectedFailureStopsTheScript) {
  InitStore();
  const Outcome outcome =
      RunScript("set 20 Tag First\nrequest NoSuchMessage <<E\nE\nset 20 Tag Second\n");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("steps.kxq:2: the step failed"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.out.find("Second"), std::string::npos);
  EXPECT_NE(Dump({"20"}).find("Tag = \"First\""), std::string::npos);
}

TEST_F(ScriptTest, AnExpectedFailureThatSucceedsFailsTheScript) {
  InitStore();
  const Outcome outcome = RunScript("! set 20 Tag Fine\n");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("expected to fail"), std::string::npos) << outcome.err;
}

TEST_F(ScriptTest, AMistakeInTheScriptRunsNoStep) {
  InitStore();
  const std::string before = Dump({"20"});
  const Outcome outcome = RunScript("set 20 Tag Changed\nset 20\n");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("steps.kxq:2: wrong number of arguments"), std::string::npos)
      << outcome.err;
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(Dump({"20"}), before);
}

TEST_F(ScriptTest, AScriptThatIsNotUtf8RunsNoStep) {
  InitStore();
  const Outcome outcome = RunScript("set 20 Tag \xC3\x28\n");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("not valid UTF-8"), std::string::npos) << outcome.err;
  EXPECT_NE(Dump({"20"}).find("Tag = \"P-101\""), std::string::npos);
}

TEST_F(ScriptTest, FailedChangesLeaveTheStoreUnchanged) {
  InitStore();
  const std::string before = Dump({"10", "11", "20", "21"});
  const Outcome outcome = RunScript(
      "! set 20 NoSuchAttribute 1\n"
      "! set 20 Speed fast\n"
      "! set 20 Length 3 kg\n"
      "! set 99 Tag X\n"
      "! create NoSuchClass\n"
      "! delete 99\n");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(Dump({"10", "11", "20", "21"}), before);
  EXPECT_NE(outcome.err.find("has no attribute NoSuchAttribute"), std::string::npos);
}

TEST_F(ScriptTest, TriggersBoundToTheModuleFireWhenAWatchedValueChanges) {
  InitStore();
  const Outcome outcome = RunScript(
      "watch 10 Datasheet k1 20 Tag\n"
      "watch 10 Datasheet k2 20 Length\n"
      "set 21 Tag Unwatched\n"
      "set 20 Tag Watched\n"
      "trigger 10 Datasheet\n"
      "! trigger 10 NoSuchTrigger\n"
      "create Pump\n",
      {"--events"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out,
            "## watch 10 Datasheet k1 20 Tag\n"
            "## watch 10 Datasheet k2 20 Length\n"
            "## set 21 Tag Unwatched\n"
            "== store changed #21: Tag\n"
            "## set 20 Tag Watched\n"
            "== store changed #20: Tag\n"
            "== store trigger Datasheet on #10 fired (keys: k1)\n"
            "## trigger 10 Datasheet\n"
            "## ! trigger 10 NoSuchTrigger\n"
            "## create Pump\n"
            "created #31\n"
            "== store created #31 (database event 1)\n");
  EXPECT_NE(outcome.err.find("object 10 has no trigger NoSuchTrigger"), std::string::npos);
}

TEST_F(ScriptTest, DatabaseEventStepsMatchTheEventCommand) {
  InitStore();
  const Outcome outcome = RunScript("event 2 20\nevent 7 20\nevent --local 6 30\n", {"--events"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.err.find("database event 7 for object 20; nothing was delivered"),
            std::string::npos);
  EXPECT_EQ(outcome.err.find("database event 2 for object 20; nothing"), std::string::npos);
}

// A process killed while a change waits for its commit loses that change
// only: what earlier steps committed is in the store, which opens cleanly.
TEST_F(ScriptTest, KilledInTheMiddleOfACallLosesNoCommittedChange) {
  InitStore();
  kx::test::tools::WriteText(dir_ / "steps.kxq",
                             "set 20 Tag Committed\n"
                             "stall 60 20 Tag Uncommitted\n");
  const std::string out = dir_ / "run.out";
  const int pid = kx::test::tools::StartHost({"--store", Store(), "run", dir_ / "steps.kxq"},
                                             dir_.path(), Registry(), out, dir_ / "run.err");
  ASSERT_GT(pid, 0);
  WaitForStalling(out);
  ASSERT_NE(kx::test::tools::ReadText(out).find("stalling"), std::string::npos)
      << kx::test::tools::ReadText(dir_ / "run.err");
  ::kill(pid, SIGKILL);
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(raw));
  const std::string after = Dump({"20"});
  EXPECT_NE(after.find("Tag = \"Committed\"\n"), std::string::npos) << after;
  EXPECT_EQ(after.find("Uncommitted"), std::string::npos) << after;
  // The store takes new changes after the crash.
  EXPECT_EQ(RunScript("set 20 Tag Again\n").status, 0);
  EXPECT_NE(Dump({"20"}).find("Tag = \"Again\""), std::string::npos);
}

}  // namespace

// Putting a page into a collection changes its holder: the object's row is
// rewritten, and its values and triggers must stay in the file.
TEST_F(ScriptTest, APageKeepsItsValuesAndTriggerWhenItsHolderChanges) {
  const Outcome made = Host({"init"});  // the sample plant
  ASSERT_EQ(made.status, 0) << made.err;
  Outcome step = RunScript("create Page 1001\n");
  ASSERT_EQ(step.status, 0) << step.err;
  ASSERT_NE(step.out.find("created #1204"), std::string::npos) << step.out;
  step = RunScript(
      "set 1204 TemplateId PUMP-DS\n"
      "set 1204 PageNumber 7\n"
      "watch 1204 Datasheet k1 1204 PageNumber\n");
  ASSERT_EQ(step.status, 0) << step.err;
  step = RunScript("set 1001 CurrentPages[9] #1204\ndump 1204\n");
  ASSERT_EQ(step.status, 0) << step.err;
  const std::string dumped = Dump({"1204"});
  EXPECT_EQ(dumped.rfind("object 1204 Page\nowner 1001\n", 0), 0u) << dumped;
  EXPECT_NE(dumped.find("TemplateId = \"PUMP-DS\"\n"), std::string::npos) << dumped;
  EXPECT_NE(dumped.find("PageNumber = 7\n"), std::string::npos) << dumped;
  // The trigger is still there for a new process.
  step = Host({"trigger", "1204", "Datasheet"});
  EXPECT_EQ(step.status, 0) << step.err;
  EXPECT_EQ(step.err.find("has no trigger"), std::string::npos) << step.err;
}

// Two processes on one store: the second waits for the first's lock, then
// works on what the first committed; the first, at its next transaction,
// sees the second's commits and its trigger fires for the value it read.
TEST_F(ScriptTest, TwoProcessesKeepEachOthersCommitsAndTriggersFireAcrossThem) {
  InitStore();
  kx::test::tools::WriteText(dir_ / "first.kxq",
                             "watch 10 Datasheet k1 20 Tag\n"
                             "stall 2 21 Speed 5\n"
                             "wait 4\n"
                             "create Pump\n"
                             "set 31 Speed 8\n");
  const std::string out = dir_ / "first.out";
  const int pid =
      kx::test::tools::StartHost({"--store", Store(), "--events", "run", dir_ / "first.kxq"},
                                 dir_.path(), Registry(), out, dir_ / "first.err");
  ASSERT_GT(pid, 0);
  WaitForStalling(out);
  ASSERT_NE(kx::test::tools::ReadText(out).find("stalling"), std::string::npos)
      << kx::test::tools::ReadText(dir_ / "first.err");
  const Outcome second = RunScript("create Pump\nset 20 Tag FromSecond\n");
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_NE(second.out.find("created #31\n"), std::string::npos) << second.out;
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0) << kx::test::tools::ReadText(dir_ / "first.err");
  const std::string first = kx::test::tools::ReadText(out);
  EXPECT_NE(first.find("created #32\n"), std::string::npos) << first;
  EXPECT_NE(first.find("## create Pump\ncreated #32\n== store created #32 (database event 1)\n"
                       "== store trigger Datasheet on #10 fired (keys: k1)\n"),
            std::string::npos)
      << first;
  EXPECT_EQ(
      Dump({"20", "21", "31", "32"}),
      "object 20 Pump\nDataViews[1] = #11\nTag = \"FromSecond\"\nLength = 1500 mm\nStarted = "
      "2020-01-02\n"
      "object 21 Pump\nTag = \"P-102\"\nSpeed = 5\nobject 31 Pump\nSpeed = 8\nobject 32 Pump\n");
}
