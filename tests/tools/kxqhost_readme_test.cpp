// The kxqhost examples of the READMEs (README.md, tools/kxqhost/README.md,
// examples/README.md), run as written, in order, from a folder that sees
// the source tree's examples/ as its own: each command line of an indented
// block that starts with "build/bin/kxqhost" (continued by a trailing "\"),
// and each block that is a script (starting with "#"), so that what the
// READMEs show stays true. Each prints something: output, or on standard
// error a failure the README names or a notice. A command of another
// program must be one that another test or CI runs as written
// (kNotRunHere); a bare "kxqhost" command is a mistake (no such command on
// the path).
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

#include "support/host_fixture.h"

namespace {

using kx::test::tools::Outcome;

// The README commands of other programs, and what runs them as written.
const std::map<std::string, std::string> kNotRunHere = {
    {"scripts/run-sample.sh", "tests/examples/run_sample_test.sh"},
    {"scripts/test.sh", ".ci/run"},
    {"scripts/test.sh sanitize", ".ci/run"},
    {"scripts/example-host.sh", ".ci/run"},
    {"scripts/check-format.sh [BASE | --all]", ".ci/run (scripts/check-format.sh)"},
};

struct Example {
  std::string readme;
  std::string text;                // as written, continuation lines joined
  std::vector<std::string> words;  // the program's arguments
  std::string input;               // a here-string's text, with its line end
  bool script = false;             // `text` is a script for `kxqhost run`
};

// The words of a command line as the shell splits them: blanks, '...',
// "..." (with \" and \\), a "#" word ending the line, "<<<WORD" giving
// standard input. False for anything else a shell would do (pipes,
// redirections, variables), which the examples do not use.
bool ShellWords(const std::string& line, std::vector<std::string>* words, std::string* input) {
  std::string word;
  bool in_word = false, here = false;
  auto end_word = [&] {
    if (!in_word) return;
    if (here) {
      *input = word + "\n";
      here = false;
    } else {
      words->push_back(word);
    }
    word.clear();
    in_word = false;
  };
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t') {
      end_word();
    } else if (c == '#' && !in_word) {
      break;
    } else if (c == '\'') {
      const size_t close = line.find('\'', i + 1);
      if (close == std::string::npos) return false;
      word += line.substr(i + 1, close - i - 1);
      in_word = true;
      i = close;
    } else if (c == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        word += line[i];
      }
      if (i >= line.size()) return false;
      in_word = true;
    } else if (line.compare(i, 3, "<<<") == 0 && !in_word) {
      here = true;
      i += 2;
    } else if (c == '|' || c == '<' || c == '>' || c == '$' || c == '`' || c == ';' || c == '&') {
      return false;
    } else {
      word += c;
      in_word = true;
    }
  }
  end_word();
  return !here;
}

std::vector<Example> ExamplesOf(const std::string& readme) {
  std::ifstream file(std::string(KXQHOST_SOURCE_DIR) + "/" + readme);
  std::vector<std::vector<std::string>> blocks;
  bool open = false;
  for (std::string line; std::getline(file, line);) {
    if (line.rfind("    ", 0) != 0) {
      open = false;
      continue;
    }
    if (!open) blocks.emplace_back();
    open = true;
    blocks.back().push_back(line.substr(4));
  }
  std::vector<Example> examples;
  for (const auto& block : blocks) {
    if (block.front().rfind("#", 0) == 0) {
      std::string text;
      for (const std::string& line : block) text += line + "\n";
      examples.push_back({readme, text, {"run", "example.kxq"}, "", true});
      continue;
    }
    for (size_t i = 0; i < block.size(); ++i) {
      std::string text = block[i];
      while (!text.empty() && text.back() == '\\' && i + 1 < block.size()) {
        text.pop_back();
        text += " " + block[++i];
      }
      // A synopsis ("kxqhost [--store FILE] ...", "kxqhost --version |
      // --help") is not an example.
      const bool synopsis =
          text.find(" [") != std::string::npos || text.find(" | ") != std::string::npos;
      if (text.rfind("kxqhost ", 0) == 0 && !synopsis) {
        ADD_FAILURE() << readme << ": a bare kxqhost is not on the path: " << text;
      }
      if (text.rfind("scripts/", 0) == 0 || text.rfind("build-asan/", 0) == 0) {
        EXPECT_TRUE(kNotRunHere.count(text)) << readme << ": nothing runs " << text;
      }
      const std::string program = "build/bin/kxqhost ";
      if (text.rfind(program, 0) != 0) continue;
      Example example{readme, text, {}, "", false};
      EXPECT_TRUE(ShellWords(text.substr(program.size()), &example.words, &example.input))
          << readme << ": " << text;
      examples.push_back(example);
    }
  }
  return examples;
}

TEST(KxqhostReadmeTest, EveryKxqhostExampleOfTheReadmesRunsAsShown) {
  kx::test::tools::TempDir dir;
  std::filesystem::create_directory_symlink(std::string(KXQHOST_SOURCE_DIR) + "/examples",
                                            dir / "examples");
  // The examples the READMEs show failing, with the exit status they name.
  const std::map<std::string, int> failing = {
      {"build/bin/kxqhost --refuse Subscribe:5 registration    # exit status 1: the start-up "
       "failed",
       1},
      {"build/bin/kxqhost service 11 1001 ValidateLabel 1    # exit status 1: 1001 is not a "
       "label",
       1},
      {"build/bin/kxqhost service 10 1007 ProcessSummarySheet template:EQ-SUMMARY '#1007'    # "
       "exit status 1: 1007 holds its members already",
       1}};
  std::map<std::string, int> per_readme;
  for (const char* readme : {"README.md", "tools/kxqhost/README.md", "examples/README.md"}) {
    for (const Example& example : ExamplesOf(readme)) {
      SCOPED_TRACE(example.readme + ": " + example.text);
      ++per_readme[example.readme];
      if (example.script) kx::test::tools::WriteText(dir / "example.kxq", example.text);
      const Outcome outcome =
          kx::test::tools::RunHost(example.words, dir.path(), dir / "registry.xml", example.input);
      const auto expected = failing.find(example.text);
      EXPECT_EQ(outcome.status, expected == failing.end() ? 0 : expected->second)
          << outcome.out << outcome.err;
      EXPECT_EQ(outcome.err.find("usage:"), std::string::npos) << outcome.err;
      // Something to see: output, or a notice saying why there is none.
      EXPECT_TRUE(!outcome.out.empty() || outcome.err.find("notice: ") != std::string::npos ||
                  expected != failing.end())
          << outcome.err;
    }
  }
  // The READMEs hold examples (the default store is made by the first).
  EXPECT_GE(per_readme["README.md"], 6);
  EXPECT_GE(per_readme["tools/kxqhost/README.md"], 15);
  EXPECT_GE(per_readme["examples/README.md"], 4);
}

}  // namespace
