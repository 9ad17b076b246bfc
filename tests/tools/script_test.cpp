// The script format of `kxqhost run` and the command line options.
#include "script.h"

#include <gtest/gtest.h>

#include "options.h"

namespace {

using kx::kxqhost::Options;
using kx::kxqhost::ParseOptions;
using kx::kxqhost::ParseScript;
using kx::kxqhost::SplitWords;
using kx::kxqhost::Step;

TEST(ScriptParse, StepsKeepTheirLinesWordsAndExpectations) {
  std::vector<Step> steps;
  ASSERT_EQ(ParseScript("# head\n\n  dump 1 2\r\n! set 20 Tag \"a \\\"b\\\" c\"\n", "s", &steps),
            "");
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].line, 3);
  EXPECT_EQ(steps[0].text, "dump 1 2");
  EXPECT_EQ(steps[0].words, (std::vector<std::string>{"dump", "1", "2"}));
  EXPECT_FALSE(steps[0].expect_failure);
  EXPECT_EQ(steps[1].line, 4);
  EXPECT_TRUE(steps[1].expect_failure);
  EXPECT_EQ(steps[1].text, "set 20 Tag \"a \\\"b\\\" c\"");
  EXPECT_EQ(steps[1].words, (std::vector<std::string>{"set", "20", "Tag", "a \"b\" c"}));
}

TEST(ScriptParse, HereTextBecomesTheRequestBody) {
  std::vector<Step> steps;
  ASSERT_EQ(ParseScript("request A <<END\n<X>\n  two\nEND\ndump 1\n", "s", &steps), "");
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].words, (std::vector<std::string>{"request", "A"}));
  ASSERT_TRUE(steps[0].body.has_value());
  EXPECT_EQ(*steps[0].body, "<X>\n  two\n");
  EXPECT_EQ(steps[1].line, 5);
  ASSERT_EQ(ParseScript("request A <<E\nE\n", "s", &steps), "");
  EXPECT_EQ(*steps[0].body, "");
}

TEST(ScriptParse, MistakesNameTheLineAndKeepNoStep) {
  std::vector<Step> steps;
  EXPECT_EQ(ParseScript("dump 1\nfly away\n", "s.kxq", &steps), "s.kxq:2: unknown step \"fly\"");
  EXPECT_TRUE(steps.empty());
  EXPECT_EQ(ParseScript("dump\n", "s", &steps), "s:1: wrong number of arguments for \"dump\"");
  EXPECT_EQ(ParseScript("set 1 A \"open\n", "s", &steps), "s:1: unterminated quote");
  EXPECT_EQ(ParseScript("request A <<END\n<X/>\n", "s", &steps),
            "s:1: no line \"END\" ends the text");
  EXPECT_EQ(ParseScript("request A <<\n", "s", &steps), "s:1: \"<<\" needs an end word");
  EXPECT_EQ(ParseScript("!\n", "s", &steps), "s:1: a step needs a command");
  EXPECT_EQ(ParseScript("trigger 1 A B\n", "s", &steps),
            "s:1: wrong number of arguments for \"trigger\"");
}

// "--local" is a flag, not the kind: without it counted out, "event
// --local 5" (no object id) passed the check and the step read past its
// words.
TEST(ScriptParse, EventCountsItsArgumentsWithoutTheLocalFlag) {
  std::vector<Step> steps;
  EXPECT_EQ(ParseScript("event --local 5\n", "s", &steps),
            "s:1: wrong number of arguments for \"event\"");
  EXPECT_EQ(ParseScript("event 5 6 7 8\n", "s", &steps),
            "s:1: wrong number of arguments for \"event\"");
  EXPECT_TRUE(steps.empty());
  ASSERT_EQ(
      ParseScript("event --local 5 6\nevent --local 5 6 7\nevent 5 6\nevent 5 6 7\n", "s", &steps),
      "");
  EXPECT_EQ(steps.size(), 4u);
}

TEST(ScriptParse, WordsSplitOnBlanksAndTabs) {
  std::vector<std::string> words;
  ASSERT_TRUE(SplitWords(" a\tb  \"\" \"c\\\\d\"", &words));
  EXPECT_EQ(words, (std::vector<std::string>{"a", "b", "", "c\\d"}));
}

std::string Parse(std::vector<const char*> args, Options* options) {
  args.insert(args.begin(), "kxqhost");
  return ParseOptions(static_cast<int>(args.size()), args.data(), options);
}

// "--extra" is likewise a flag of "request", also before a here text.
TEST(ScriptParse, RequestCountsItsArgumentsWithoutTheExtraFlag) {
  std::vector<Step> steps;
  EXPECT_EQ(ParseScript("request --extra\n", "s", &steps),
            "s:1: wrong number of arguments for \"request\"");
  EXPECT_EQ(ParseScript("deliver now\n", "s", &steps),
            "s:1: wrong number of arguments for \"deliver\"");
  ASSERT_EQ(ParseScript("request --extra OpenPage <<END\n<X/>\nEND\nrequest --extra A f.xml\n"
                        "deliver\ndetach\nattach A=1 B=2\nreserved 3\n",
                        "s", &steps),
            "");
  ASSERT_EQ(steps.size(), 6u);
  EXPECT_EQ(steps[0].words, (std::vector<std::string>{"request", "--extra", "OpenPage"}));
  EXPECT_EQ(steps[0].body, "<X/>\n");
}

TEST(CommandLine, GlobalOptionsComeBeforeTheCommand) {
  Options options;
  ASSERT_EQ(Parse({"--store", "a.db", "--set=A=1", "--set", "B=2", "--events", "--journal=j",
                   "--user", "ann", "--deny", "P", "--settings", "s", "request", "X", "--events"},
                  &options),
            "");
  EXPECT_EQ(options.store, "a.db");
  EXPECT_EQ(options.overrides, (std::vector<std::string>{"A=1", "B=2"}));
  EXPECT_TRUE(options.events);
  EXPECT_EQ(options.journal, "j");
  EXPECT_EQ(options.user, "ann");
  EXPECT_EQ(options.denied, (std::vector<std::string>{"P"}));
  EXPECT_EQ(options.settings_files, (std::vector<std::string>{"s"}));
  EXPECT_EQ(options.command, "request");
  EXPECT_EQ(options.arguments, (std::vector<std::string>{"X", "--events"}));
}

TEST(CommandLine, MistakesAreReported) {
  Options options;
  EXPECT_EQ(Parse({}, &options), "no command given");
  EXPECT_EQ(Parse({"--store"}, &options), "option --store needs a value");
  EXPECT_EQ(Parse({"--nope", "dump"}, &options), "unknown option --nope");
  EXPECT_EQ(Parse({"--set", "X", "dump"}, &options), "--set needs NAME=VALUE, not X");
  EXPECT_EQ(Parse({"--help"}, &options), "help");
  EXPECT_EQ(Parse({"request", "--help"}, &options), "help");
  EXPECT_EQ(Parse({"request", "SetRealField", "--help"}, &options), "help");
  EXPECT_EQ(Parse({"dump", "-h"}, &options), "help");
}

}  // namespace
