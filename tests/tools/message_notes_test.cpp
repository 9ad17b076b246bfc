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
  // The request on a fresh copy of the store, with what it changed.
  Outcome Send(const std::string& message, const std::string& text) {
    const std::string store = dir_ / "sent.db";
    fs::remove(store);
    fs::copy_file(Store(), store);
    kx::test::tools::WriteText(dir_ / "request.xml", text);
    return Bare({"--store", store, "--settings",
                 std::string(KXQHOST_SOURCE_DIR) + "/examples/templates/folders.cfg", "--events",
                 "request", message, dir_ / "request.xml"});
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

}  // namespace
