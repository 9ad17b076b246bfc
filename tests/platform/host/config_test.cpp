// Settings (file, overrides, folders), privileges and the journal as modules
// reach them.
#include "host/config.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>

#include "test_util.h"

namespace kx::host::test {
namespace {

using test::Bstr;
using test::U8;
using test::Var;

std::u16string Value(IKXQSettings* settings, std::u16string_view name) {
  BSTR value = nullptr;
  EXPECT_EQ(S_OK, settings->GetValue(Bstr(name), &value));
  std::u16string text = value ? std::u16string(value, SysStringLen(value)) : u"";
  SysFreeString(value);
  return text;
}

std::u16string Folder(IKXQSettings* settings, std::u16string_view name) {
  BSTR path = nullptr;
  EXPECT_EQ(S_OK, settings->GetFolder(Bstr(name), &path));
  std::u16string text = path ? std::u16string(path, SysStringLen(path)) : u"";
  SysFreeString(path);
  return text;
}

TEST(SettingsTest, ReadsNameValueLinesSkippingCommentsAndBlanks) {
  Ref<Settings> settings = MakeRef<Settings>();
  std::string error;
  ASSERT_TRUE(
      settings->LoadText("# trace\n\n  TraceLevel::General = high \r\n"
                         "TraceLevel::JournalTrace=yes\nIDWF=TRUE=1\nEmpty=\n",
                         "test.cfg", &error))
      << error;
  EXPECT_EQ(u"high", Value(settings.get(), u"TraceLevel::General"));
  EXPECT_EQ(u"yes", Value(settings.get(), u"TraceLevel::JournalTrace"));
  EXPECT_EQ(u"TRUE=1", Value(settings.get(), u"IDWF"));  // only the first "=" splits
  EXPECT_EQ(u"", Value(settings.get(), u"Empty"));
  EXPECT_EQ(u"", Value(settings.get(), u"Unknown"));
}

TEST(SettingsTest, NamesIgnoreAsciiCase) {
  Ref<Settings> settings = MakeRef<Settings>();
  settings->Set(u"DefaultFilter", u"Pumps");
  EXPECT_EQ(u"Pumps", Value(settings.get(), u"defaultfilter"));
  EXPECT_EQ(u"Pumps", Value(settings.get(), u"DEFAULTFILTER"));
}

TEST(SettingsTest, OverridesReplaceFileValuesWhateverTheOrder) {
  Ref<Settings> settings = MakeRef<Settings>();
  std::string error;
  ASSERT_TRUE(settings->LoadText("IDWF=false\n", "a.cfg", &error));
  ASSERT_TRUE(settings->Override("IDWF=TRUE", &error)) << error;
  EXPECT_EQ(u"TRUE", Value(settings.get(), u"IDWF"));
  ASSERT_TRUE(settings->LoadText("Other=1\n", "b.cfg", &error));
  EXPECT_EQ(u"TRUE", Value(settings.get(), u"IDWF"));
  EXPECT_FALSE(settings->Override("no-equals-sign", &error));
  EXPECT_NE(std::string::npos, error.find("no-equals-sign"));
}

TEST(SettingsTest, BadLineNamesFileAndLineAndKeepsNothingOfTheFile) {
  Ref<Settings> settings = MakeRef<Settings>();
  std::string error;
  EXPECT_FALSE(settings->LoadText("A=1\n# fine\nB\n", "site.cfg", &error));
  EXPECT_EQ("site.cfg:3: expected NAME=VALUE", error);
  EXPECT_FALSE(settings->Get(u"A"));
  EXPECT_FALSE(settings->LoadText("=1\n", "site.cfg", &error));
  EXPECT_EQ("site.cfg:1: empty setting name", error);
  EXPECT_FALSE(settings->LoadText("A=\xC3\x28\n", "site.cfg", &error));
  EXPECT_EQ("site.cfg:1: invalid UTF-8", error);
}

TEST(SettingsTest, LoadsAFileAndReportsAMissingOne) {
  const std::string path = ::testing::TempDir() + "kxhost_settings_test.cfg";
  {
    std::ofstream file(path);
    file << "Folder::Templates=/plant/templates\nName=\xC3\xA4\n";
  }
  Ref<Settings> settings = MakeRef<Settings>();
  std::string error;
  ASSERT_TRUE(settings->LoadFile(path, &error)) << error;
  EXPECT_EQ(u"\u00E4", Value(settings.get(), u"Name"));
  EXPECT_EQ(u"/plant/templates", Folder(settings.get(), u"Templates"));
  std::remove(path.c_str());
  EXPECT_FALSE(settings->LoadFile(path, &error));
  EXPECT_EQ(path + ": cannot open the settings file", error);
}

TEST(SettingsTest, FoldersComeBackWithHostSeparatorsAndNoTrailingOne) {
  Ref<Settings> settings = MakeRef<Settings>();
  settings->SetFolder(u"Datasheets", u"C:\\plant\\sheets\\");
  settings->SetFolder(u"Root", u"/");
  EXPECT_EQ(u"C:/plant/sheets", Folder(settings.get(), u"Datasheets"));
  EXPECT_EQ(u"/", Folder(settings.get(), u"Root"));
  EXPECT_EQ(u"", Folder(settings.get(), u"Unknown"));
}

TEST(PrivilegesTest, AnswersNamesDisciplineAndGrantedPrivileges) {
  Ref<Privileges> privileges = MakeRef<Privileges>();
  privileges->SetLoginName(u"jdoe");
  privileges->SetDiscipline(u"Process");
  privileges->Grant(u"CheckDocument");
  BSTR text = nullptr;
  ASSERT_EQ(S_OK, privileges->get_UserName(&text));
  EXPECT_EQ(nullptr, text);  // unknown full name: empty
  ASSERT_EQ(S_OK, privileges->get_LoginName(&text));
  EXPECT_EQ(u"jdoe", std::u16string(text));
  SysFreeString(text);
  ASSERT_EQ(S_OK, privileges->get_Discipline(&text));
  EXPECT_EQ(u"Process", std::u16string(text));
  SysFreeString(text);
  VARIANT_BOOL granted = VARIANT_FALSE;
  ASSERT_EQ(S_OK, privileges->HasPrivilege(Bstr(u"CheckDocument"), &granted));
  EXPECT_EQ(VARIANT_TRUE, granted);
  ASSERT_EQ(S_OK, privileges->HasPrivilege(Bstr(u"checkdocument"), &granted));
  EXPECT_EQ(VARIANT_FALSE, granted);
  ASSERT_EQ(S_OK, privileges->HasPrivilege(Bstr(u"IssueDocument"), &granted));
  EXPECT_EQ(VARIANT_FALSE, granted);
}

class JournalTest : public ::testing::Test {
 protected:
  // The call modules make: through IDispatch only.
  HRESULT InvokeWrite(IDispatch* journal, VARIANT* arguments, UINT count,
                      DISPID member = KXQ_DISPID_JOURNAL_WRITE) {
    DISPPARAMS params{};
    params.rgvarg = arguments;
    params.cArgs = count;
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = journal->Invoke(member, IID_NULL, 2, 0, &params, &result, nullptr, nullptr);
    VariantClear(&result);
    return hr;
  }

  Ref<Journal> journal_ = MakeRef<Journal>();
};

TEST_F(JournalTest, WritesThroughInvokeAreKeptVerbatim) {
  journal_->Capture();
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(S_OK, journal_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
  Var line = Var::Str(u" >>>> Enter Main::Attach \u00E4");
  EXPECT_EQ(S_OK, InvokeWrite(dispatch, line.get(), 1));
  Var second = Var::Str(u"()\n");
  EXPECT_EQ(S_OK, InvokeWrite(dispatch, second.get(), 1));
  dispatch->Release();
  EXPECT_EQ(" >>>> Enter Main::Attach \xC3\xA4()\n", journal_->text());
}

TEST_F(JournalTest, RefusesOtherMembersAndArgumentCounts) {
  journal_->Capture();
  Var args[2] = {Var::Str(u"a"), Var::Str(u"b")};
  VARIANT raw[2] = {*args[0], *args[1]};
  EXPECT_EQ(DISP_E_BADPARAMCOUNT, InvokeWrite(journal_.get(), raw, 2));
  EXPECT_EQ(DISP_E_BADPARAMCOUNT, InvokeWrite(journal_.get(), nullptr, 0));
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, InvokeWrite(journal_.get(), raw, 1, 1));
  EXPECT_EQ("", journal_->text());
}

TEST_F(JournalTest, WriteIsFoundByName) {
  std::u16string name = u"Write";
  LPOLESTR names[1] = {name.data()};
  DISPID id = 0;
  ASSERT_EQ(S_OK, journal_->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
  EXPECT_EQ(KXQ_DISPID_JOURNAL_WRITE, id);
  std::u16string other = u"Read";
  names[0] = other.data();
  EXPECT_EQ(DISP_E_UNKNOWNNAME, journal_->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
}

TEST_F(JournalTest, WritesToAStream) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(nullptr, file);
  journal_->WriteTo(file);
  ASSERT_EQ(S_OK, journal_->Write(Bstr(u"line\n")));
  std::rewind(file);
  char buffer[16] = {};
  const size_t read = std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  EXPECT_EQ("line\n", std::string(buffer, read));
}

}  // namespace
}  // namespace kx::host::test
