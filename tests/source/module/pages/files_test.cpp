// The file messages end to end: the host sends each to a Main attached to
// a small template store whose folders hold real files; what the host sent
// (files with their bytes, texts), the store and the failures are checked.
#include "pages/files.h"

#include <gtest/gtest.h>

#include "com/wstr.h"
#include "support/moduletestsupport.h"
#include "support/templatestore.h"

using namespace kx::test::inprocess;

namespace {

std::string Text(const std::u16string& text) { return Narrow(text); }

class FileMessages : public ::testing::Test {
 protected:
  // Sends the request and expects it to succeed with exactly one file sent.
  kx::host::SentFile SentOneFile(std::u16string_view name, std::u16string_view text) {
    last_ = plant_.Request(name, text);
    EXPECT_EQ(S_OK, last_.hr) << ErrorText(last_);
    EXPECT_EQ(u"", last_.reply);
    EXPECT_EQ(1u, last_.files.size());
    return last_.files.empty() ? kx::host::SentFile{} : last_.files[0];
  }
  // Sends the request and expects it to fail with `hr`, nothing sent.
  std::string Refused(std::u16string_view name, std::u16string_view text, HRESULT hr) {
    last_ = plant_.Request(name, text);
    EXPECT_EQ(hr, last_.hr) << Narrow(text);
    EXPECT_TRUE(last_.files.empty());
    EXPECT_EQ(u"", last_.reply);
    return FirstDescription(last_);
  }
  std::string Path(const char* folder, const char* name) {
    return Narrow(plant_.Folder(folder)) + "/" + name;
  }

  TemplateStore plant_;
  kx::host::RequestResult last_;
};

TEST_F(FileMessages, GetTemplateFileSendsTheTemplatesFileAsText) {
  const auto file = SentOneFile(u"GetTemplateFile", u"PUMP");
  EXPECT_EQ(Path("TemplateLibrary", "Rotating/pump.xls"), Text(file.path));
  EXPECT_FALSE(file.binary);
  EXPECT_EQ("<Workbook of=\"PUMP\"/>\n", file.content);
}

TEST_F(FileMessages, GetTemplateFileOfAnUnknownTemplateOrAPathOutOfTheLibrary) {
  EXPECT_EQ("Unable to find template NOPE", Refused(u"GetTemplateFile", u"NOPE", E_FAIL));
  EXPECT_EQ("Unable to find template pump", Refused(u"GetTemplateFile", u"pump", E_FAIL));
  EXPECT_EQ("Unable to open template file ..\\secret.txt: the name must stay inside its folder",
            Refused(u"GetTemplateFile", u"ESC", E_ACCESSDENIED));
  // A template whose file is missing.
  EXPECT_EQ("Unable to open template file ves.xls",
            Refused(u"GetTemplateFile", u"VES", STG_E_FILENOTFOUND));
  EXPECT_NE(std::string::npos, Text(last_.error).find("there is no such file"))
      << Text(last_.error);
}

TEST_F(FileMessages, GetBitmapFileFromTheBitmapFolderElseTheLibrary) {
  auto file = SentOneFile(u"GetBitmapFile", u"pump.bmp");
  EXPECT_EQ(Path("Bitmaps", "pump.bmp"), Text(file.path));
  EXPECT_TRUE(file.binary);
  EXPECT_EQ(std::string("BM\0\1\2", 5), file.content);
  // Without a bitmap folder the library's root folder serves.
  plant_.host().settings().SetFolder(u"Bitmaps", u"");
  file = SentOneFile(u"GetBitmapFile", u"logo.bmp");
  EXPECT_EQ(Path("TemplateLibrary", "logo.bmp"), Text(file.path));
}

TEST_F(FileMessages, NamesThatClimbOutOfTheirFolderSendNothing) {
  const std::string bitmaps = Narrow(plant_.Folder("Bitmaps"));
  EXPECT_EQ("Unable to open bitmap file " + bitmaps +
                "\\..\\..\\etc\\passwd: the name must stay inside its folder",
            Refused(u"GetBitmapFile", u"..\\..\\etc\\passwd", E_ACCESSDENIED));
  EXPECT_EQ("Unable to open bitmap file " + bitmaps +
                "\\/etc/passwd: the name must stay inside its folder",
            Refused(u"GetBitmapFile", u"/etc/passwd", E_ACCESSDENIED));
  Refused(u"GetBitmapFile", u"C:\\Windows\\win.ini", E_ACCESSDENIED);
  Refused(u"GetBitmapFile", u"", E_ACCESSDENIED);
  Refused(u"GetSourceFile", u"..\\secret.txt", E_ACCESSDENIED);
  Refused(u"GetSourceFile", u"sub/../../secret.txt", E_ACCESSDENIED);
  // A symbolic link out of the folder passes the name test; the host
  // refuses it.
  EXPECT_EQ("Unable to open bitmap file " + bitmaps + "\\escape.bmp",
            Refused(u"GetBitmapFile", u"escape.bmp", E_ACCESSDENIED));
  EXPECT_NE(std::string::npos, Text(last_.error).find("a symbolic link leads out of its folder"))
      << Text(last_.error);
  EXPECT_EQ("Unable to open QMF template up\\secret.txt",
            Refused(u"GetSourceFile", u"up\\secret.txt", E_ACCESSDENIED));
}

TEST_F(FileMessages, GetSourceFileTakesQmfNamesFromTemplatesAndOthersFromDatasheets) {
  auto file = SentOneFile(u"GetSourceFile", u"UPPER.QMF");
  EXPECT_EQ(Path("Templates", "UPPER.QMF"), Text(file.path));
  EXPECT_TRUE(file.binary);
  file = SentOneFile(u"GetSourceFile", u"notes.txt");
  EXPECT_EQ(Path("Datasheets", "notes.txt"), Text(file.path));
  EXPECT_EQ("notes", file.content);
  // The bare three letters are no ".qmf" name.
  EXPECT_EQ("Unable to open QMF template qmf",
            Refused(u"GetSourceFile", u"qmf", STG_E_FILENOTFOUND));
  EXPECT_NE(std::string::npos, Text(last_.error).find(Path("Datasheets", "qmf")))
      << Text(last_.error);
}

TEST_F(FileMessages, GetTemplateFromDBSendsTheCachedTextElseTheFile) {
  last_ = plant_.Request(u"GetTemplateFromDB",
                         u"<XMLMessage TargetId=\"T\"><GetTemplateFromDB TemplateId=\"PUMP\" "
                         u"Checknum=\"2\"/></XMLMessage>");
  ASSERT_EQ(S_OK, last_.hr) << ErrorText(last_);
  EXPECT_EQ("<Template Id=\"PUMP\" Checknum=\"2\"/>", Text(last_.reply));
  EXPECT_TRUE(last_.files.empty());
  const auto file = SentOneFile(
      u"GetTemplateFromDB",
      u"<XMLMessage><GetTemplateFromDB TemplateId=\"PUMP\" Checknum=\"1\"/></XMLMessage>");
  EXPECT_EQ(Path("TemplateLibrary", "Rotating/pump.xls"), Text(file.path));
  EXPECT_FALSE(file.binary);
  EXPECT_EQ(
      "Unable to find template NOPE",
      Refused(u"GetTemplateFromDB",
              u"<XMLMessage><GetTemplateFromDB TemplateId=\"NOPE\" Checknum=\"1\"/></XMLMessage>",
              E_FAIL));
}

TEST_F(FileMessages, GetSourceFromDBSendsTheCachedSourceElseTheQmfFileOfAMatchingVersion) {
  last_ = plant_.Request(
      u"GetSourceFromDB",
      u"<XMLMessage><GetSourceFromDB TemplateId=\"PUMP\" Checknum=\"2\"/></XMLMessage>");
  ASSERT_EQ(S_OK, last_.hr) << ErrorText(last_);
  EXPECT_EQ("source of PUMP 2", Text(last_.reply));
  // Version 1 has no cached source and is not the current version.
  const std::string stale = Refused(
      u"GetSourceFromDB",
      u"<XMLMessage><GetSourceFromDB TemplateId=\"PUMP\" Checknum=\"1\"/></XMLMessage>", E_FAIL);
  EXPECT_EQ(0u, stale.find("Unable to retrieve XLS template for PUMP. ")) << stale;
  // pump-b is current at 1 but has no QMF file.
  EXPECT_EQ(
      "Unable to open excel source file pump-b",
      Refused(u"GetSourceFromDB",
              u"<XMLMessage><GetSourceFromDB TemplateId=\"pump-b\" Checknum=\"1\"/></XMLMessage>",
              STG_E_FILENOTFOUND));
  EXPECT_NE(std::string::npos, Text(last_.error).find(Path("Templates", "pump-b.qmf")))
      << Text(last_.error);
}

TEST_F(FileMessages, GetSourceFromDBWithoutCacheSendsTheQmfFile) {
  // LIST has no cached source; its current version is the one asked for.
  std::filesystem::copy_file(plant_.root() / "sources" / "PUMP.qmf",
                             plant_.root() / "sources" / "LIST.qmf");
  const auto file = SentOneFile(
      u"GetSourceFromDB",
      u"<XMLMessage><GetSourceFromDB TemplateId=\"LIST\" Checknum=\"1\"/></XMLMessage>");
  EXPECT_EQ(Path("Templates", "LIST.qmf"), Text(file.path));
  EXPECT_TRUE(file.binary);
  EXPECT_EQ(std::string("QMF\0pump", 8), file.content);
}

TEST_F(FileMessages, SetQMFDBTemplateStoresTheDecodedWorkbook) {
  // "pump" matches the record "PUMP" without regard to case.
  last_ = plant_.Request(u"SetQMFDBTemplate", u"pump!::!2!::!V29ya2Jvb2s=");
  ASSERT_EQ(S_OK, last_.hr) << ErrorText(last_);
  EXPECT_EQ(u"", last_.reply);
  EXPECT_TRUE(last_.files.empty());
  EXPECT_EQ("V29ya2Jvb2s=", plant_.ExcelFile(900));
  // Further markers belong to the data; they are no Base64.
  EXPECT_EQ(E_INVALIDARG, plant_.Request(u"SetQMFDBTemplate", u"PUMP!::!2!::!QUJD!::!").hr);
  // Two or three characters left at the end are unpadded Base64; blanks
  // skipped.
  ASSERT_EQ(S_OK, plant_.Request(u"SetQMFDBTemplate", u"PUMP!::!2!::!QUJD\r\nREVG\r\nRw").hr);
  EXPECT_EQ("QUJDREVGRw==", plant_.ExcelFile(900));
}

TEST_F(FileMessages, SetQMFDBTemplateNeverStoresGarbage) {
  ASSERT_EQ(S_OK, plant_.Request(u"SetQMFDBTemplate", u"PUMP!::!2!::!QUJD").hr);
  const std::string invalid =
      Refused(u"SetQMFDBTemplate", u"PUMP!::!2!::!QUJDREVG\u00e9RQ==", E_INVALIDARG);
  EXPECT_EQ(
      "The workbook of template PUMP is not Base64: character 9 is not allowed there; nothing was "
      "stored",
      invalid);
  Refused(u"SetQMFDBTemplate", u"PUMP!::!2!::!QU=D", E_INVALIDARG);
  Refused(u"SetQMFDBTemplate", u"PUMP!::!2!::!QUJD\u4e00", E_INVALIDARG);
  EXPECT_EQ("QUJD", plant_.ExcelFile(900));
}

TEST_F(FileMessages, SetQMFDBTemplateOfTheWrongFormIsRefused) {
  for (const char16_t* text :
       {u"", u"PUMP", u"!::!2!::!QUJD", u"PUMP!::!2", u"PUMP!::!2!::!", u"PUMP!::!!::!"}) {
    const std::string why = Refused(u"SetQMFDBTemplate", text, E_INVALIDARG);
    EXPECT_EQ(0u, why.find("The request of SetQMFDBTemplate is not of the form")) << why;
  }
  EXPECT_EQ("", plant_.ExcelFile(900));
}

TEST_F(FileMessages, SetQMFDBTemplateWithoutARecordWarnsAndStoresNothing) {
  // The markers side by side: an empty checknum, which no record has.
  last_ = plant_.Request(u"SetQMFDBTemplate", u"PUMP!::!!::!QUJD");
  ASSERT_EQ(S_OK, last_.hr) << ErrorText(last_);
  ASSERT_EQ(1u, last_.warnings.size());
  EXPECT_EQ(
      "No template record PUMP with checknum \"\" to store the workbook in: nothing was stored",
      Text(last_.warnings[0]));
  EXPECT_EQ("", plant_.ExcelFile(900));
  // "VES" has a record without checknum: the empty checknum finds it.
  ASSERT_EQ(S_OK, plant_.Request(u"SetQMFDBTemplate", u"VES!::!!::!QUJD").hr);
  EXPECT_EQ("QUJD", plant_.ExcelFile(902));
}

TEST(FileNames, StayInsideTheirFolder) {
  for (const char16_t* name : {u"a.bmp", u"sub\\a.bmp", u"sub/a.bmp", u"..a", u"a..", u"a\\..b"}) {
    EXPECT_TRUE(KXDBDatasheetSvcs::IsNameInsideFolder(name)) << Narrow(name);
  }
  for (const char16_t* name :
       {u"", u"..", u"..\\a", u"a\\..", u"a/../b", u"\\a", u"/a", u"C:a", u"c:\\a"}) {
    EXPECT_FALSE(KXDBDatasheetSvcs::IsNameInsideFolder(name)) << Narrow(name);
  }
  EXPECT_FALSE(KXDBDatasheetSvcs::IsNameInsideFolder(nullptr));
}

}  // namespace
