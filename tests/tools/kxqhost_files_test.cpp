// The template and file messages through kxqhost, against the sample plant
// and the sample template folders of examples/: what the program prints for
// sent files and texts, and that a name leaving its folder sends nothing.
#include <filesystem>
#include <gtest/gtest.h>

#include "support/host_fixture.h"

namespace {

using kx::test::tools::Outcome;

class KxqhostFilesTest : public kx::test::tools::KxqhostTest {
 protected:
  void SetUp() override {
    const Outcome made = Host({"init", "--fixture", Examples() + "/plant.xml"});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  static std::string Examples() { return std::string(KXQHOST_SOURCE_DIR) + "/examples"; }
  static std::string Templates() { return Examples() + "/templates"; }
  // A request with the sample folders set.
  Outcome Send(const std::string& message, const std::string& text,
               std::vector<std::string> more = {}) {
    std::vector<std::string> arguments{
        "--set", "Folder::TemplateLibrary=" + Templates() + "/library",
        "--set", "Folder::Bitmaps=" + Templates() + "/bitmaps",
        "--set", "Folder::Templates=" + Templates() + "/sources",
        "--set", "Folder::Datasheets=" + Templates() + "/datasheets"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.insert(arguments.end(), {"request", message, "-"});
    return Host(arguments, text);
  }
};

TEST_F(KxqhostFilesTest, ASentBinaryFileIsShownWithItsSizeAndFirstBytes) {
  const Outcome outcome = Send("GetBitmapFile", "pump.bmp");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "== sent file " + Templates() +
                             "/bitmaps/pump.bmp (binary, 70 bytes)\n"
                             "42 4d 46 00 00 00 00 00 00 00 36 00 00 00 28 00 00 00 02 00 00 00 02 "
                             "00 00 00 01 00 18 00 00 00 ...\n");
}

TEST_F(KxqhostFilesTest, ASentTextFileIsShownWhole) {
  const Outcome outcome = Send("GetTemplateFile", "PUMP-DS");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(
      outcome.out.rfind("== sent file " + Templates() + "/library/Rotating/PumpDS.xlsx (text, ", 0),
      0u)
      << outcome.out;
  EXPECT_NE(outcome.out.find("\nTemplate workbook of PUMP-DS"), std::string::npos) << outcome.out;
}

TEST_F(KxqhostFilesTest, ASentTextIsTheReply) {
  const Outcome outcome = Send("GetTemplateFromDB",
                               "<XMLMessage TargetId=\"T\"><GetTemplateFromDB TemplateId=\"HX-DS\" "
                               "Checknum=\"3\"/></XMLMessage>");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "HX-DS version 3\n");
}

TEST_F(KxqhostFilesTest, ABareNameEndingInALineEndNamesTheSameFile) {
  // As a file or a here-string leaves it.
  const struct {
    const char* message;
    const char* text;
    std::string path;
  } cases[] = {{"GetBitmapFile", "pump.bmp\n", "/bitmaps/pump.bmp (binary"},
               {"GetSourceFile", "PUMP-DS.qmf\r\n", "/sources/PUMP-DS.qmf (binary"},
               {"GetTemplateFile", "PUMP-DS\n", "/library/Rotating/PumpDS.xlsx (text"}};
  for (const auto& c : cases) {
    const Outcome outcome = Send(c.message, c.text);
    ASSERT_EQ(outcome.status, 0) << c.message << ": " << outcome.err;
    EXPECT_EQ(outcome.out.rfind("== sent file " + Templates() + c.path, 0), 0u) << outcome.out;
  }
}

TEST_F(KxqhostFilesTest, NamesLeavingTheirFolderSendNothing) {
  for (const char* name : {"..\\..\\etc\\passwd", "/etc/passwd"}) {
    const Outcome outcome = Send("GetBitmapFile", name);
    EXPECT_EQ(outcome.status, 1) << name;
    EXPECT_EQ(outcome.out, "") << name;
    EXPECT_EQ(outcome.err.rfind("<KXError ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find("Unable to open bitmap file"), std::string::npos) << outcome.err;
  }
  // A symbolic link out of the folder passes the module; the host refuses.
  std::filesystem::create_directories(dir_ / "bitmaps");
  std::filesystem::create_symlink("/etc/passwd", dir_ / "bitmaps/escape.bmp");
  const Outcome link =
      Send("GetBitmapFile", "escape.bmp", {"--set", "Folder::Bitmaps=" + (dir_ / "bitmaps")});
  EXPECT_EQ(link.status, 1);
  EXPECT_EQ(link.out, "");
  EXPECT_NE(link.err.find("a symbolic link leads out of its folder"), std::string::npos)
      << link.err;
}

TEST_F(KxqhostFilesTest, SetQMFDBTemplateStoresTheWorkbookAndRefusesGarbage) {
  const Outcome stored = Send("SetQMFDBTemplate", "PUMP-DS!::!4!::!V29ya2Jvb2s=", {"--events"});
  ASSERT_EQ(stored.status, 0) << stored.err;
  EXPECT_NE(stored.out.find("== store changed #901: ExcelFile"), std::string::npos) << stored.out;
  const std::string after = Dump({"901"});
  EXPECT_NE(after.find("ExcelFile = \"V29ya2Jvb2s=\""), std::string::npos) << after;
  const Outcome garbage = Send("SetQMFDBTemplate", "PUMP-DS!::!4!::!V29y*2Jvb2s=");
  EXPECT_EQ(garbage.status, 1);
  EXPECT_NE(garbage.err.find("is not Base64"), std::string::npos) << garbage.err;
  EXPECT_EQ(Dump({"901"}), after);
}

// Each group of four is decoded on its own, also after a padded one.
TEST_F(KxqhostFilesTest, SetQMFDBTemplateDecodesTheGroupsAfterAPaddedGroup) {
  const struct {
    const char* data;
    const char* stored;                            // as dump shows it, in Base64 again
  } cases[] = {{"QQ==QUJD", "QUFCQw=="},           // "A", "ABC"
               {"QUI=QQ==", "QUJB"},               // "AB", "A"
               {"QQ==\r\nQQ==QUI=", "QUFBQg=="}};  // "A", "A", "AB"
  for (const auto& c : cases) {
    const Outcome stored = Send("SetQMFDBTemplate", std::string("PUMP-DS!::!4!::!") + c.data);
    ASSERT_EQ(stored.status, 0) << c.data << ": " << stored.err;
    const std::string after = Dump({"901"});
    EXPECT_NE(after.find(std::string("ExcelFile = \"") + c.stored + "\"\n"), std::string::npos)
        << c.data << "\n"
        << after;
  }
  // "=" inside a group, and characters outside the alphabet, are refused.
  const std::string before = Dump({"901"});
  for (const char* data : {"QQ==Q=JD", "QQ===QUJD", "QQ==QU*D"}) {
    const Outcome refused = Send("SetQMFDBTemplate", std::string("PUMP-DS!::!4!::!") + data);
    EXPECT_EQ(refused.status, 1) << data;
    EXPECT_NE(refused.err.find("is not Base64"), std::string::npos) << refused.err;
  }
  EXPECT_EQ(Dump({"901"}), before);
}

// Unpadded Base64 keeps its last bytes (past a chunk of 2,016 characters
// too); a lone last character holds no byte: refused, nothing stored.
TEST_F(KxqhostFilesTest, SetQMFDBTemplateKeepsTheLastBytesOfUnpaddedBase64) {
  std::string longer;
  for (int i = 0; i < 1001; ++i) longer += "QUJD";
  for (const std::string& data : {std::string("QUJDREU"), longer + "RA"}) {
    ASSERT_EQ(Send("SetQMFDBTemplate", "PUMP-DS!::!4!::!" + data).status, 0);
    const std::string padded = data + std::string(4 - data.size() % 4, '=');
    EXPECT_NE(Dump({"901"}).find("ExcelFile = \"" + padded + "\"\n"), std::string::npos) << data;
  }
  const std::string before = Dump({"901"});
  const Outcome lone = Send("SetQMFDBTemplate", "PUMP-DS!::!4!::!QUJDR");
  EXPECT_EQ(lone.status, 1);
  EXPECT_NE(lone.err.find("character 5 is not allowed there; nothing was stored"),
            std::string::npos)
      << lone.err;
  EXPECT_EQ(Dump({"901"}), before);
}

// The failures of "SetQMFDBTemplate" are located in the file messages'
// source, also where it shares the walk of the template records.
TEST_F(KxqhostFilesTest, SetQMFDBTemplateWithoutTheTemplateClassFailsInTheFilesSource) {
  const std::string store = dir_ / "tiny.db";
  const Outcome made = Bare({"--store", store, "init", "--fixture", TinyPlant()});
  ASSERT_EQ(made.status, 0) << made.err;
  const Outcome failed =
      Bare({"--store", store, "request", "SetQMFDBTemplate", "-"}, "PUMP-DS!::!4!::!QUJD");
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("<KXError Desc=\"Failed to find template class representing QMF "
                            "template\" HR=\"E_FAIL\" File=\"kxdbdatasheetsvcs/files\" Line="),
            std::string::npos)
      << failed.err;
  EXPECT_EQ(failed.err.find("listtemplates"), std::string::npos) << failed.err;
}

TEST_F(KxqhostFilesTest, ListTemplatesWarnsOfNothingOnTheSamplePlant) {
  const Outcome outcome = Send("ListTemplates", "");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(
      outcome.out.rfind(
          "<XMLMessage TargetId=\"App\"><Templates><Template Name=\"Centrifugal pump datasheet\" "
          "TemplateId=\"PUMP-DS\" Class=\"Pump\" DatasheetCategory=\"Rotating equipment\"/>",
          0),
      0u)
      << outcome.out;
  EXPECT_EQ(outcome.err.find("message:"), std::string::npos) << outcome.err;
}

}  // namespace
