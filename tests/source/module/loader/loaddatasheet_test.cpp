// The datasheet loader, driven inside a request served by hand (it has no
// message of its own), and the page set-up writer.
#include "loader/loaddatasheet.h"

#include <gtest/gtest.h>
#include <string>

#include "com/errorinfo.h"
#include "kxcomexception.h"
#include "main/main.h"
#include "support/pagesfixture.h"

using namespace kx::test::pages;

namespace {

class LoaderTest : public ::testing::Test {
 protected:
  // Loads datasheet `id` into a fresh reply; the HRESULT in *hr.
  std::string Load(LONG id, int32_t status, bool openForEditing, HRESULT* hr = nullptr) {
    host_.BeginHandRequest();
    host_.app().ClearTexts();
    PageLoadContext context(&host_.main());
    const HRESULT result =
        KXDBDatasheetSvcs::LoadDatasheet(context, host_.Object(id), status, openForEditing);
    if (hr != nullptr) *hr = result;
    if (FAILED(result)) error_ = ThreadError();
    return host_.HandReply();
  }
  static std::string ThreadError() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return std::string();
    BSTR description = nullptr;
    (void)info->GetDescription(&description);
    info->Release();
    _bstr_t held(description, false);
    return FirstDesc(std::u16string(held.view()));
  }
  std::string PageSetup(LONG id) {
    BSTR text = nullptr;
    EXPECT_EQ(WritePageSetup(host_.Object(id), &text), S_OK);
    _bstr_t held(text, false);
    return Narrow(held.view());
  }

  PagesHost host_;
  std::string error_;
};

TEST_F(LoaderTest, OpeningForEditingSendsEverySetUpAndTheFirstPagesContents) {
  host_.SetCurrent(kSummary, kSummaryPage);
  const std::string reply = Load(kSheet, 1, true);
  EXPECT_EQ(reply.rfind("<Datasheet CurrentDimensionSet=\"SI\" DocumentId=\"100\" Status=\"1\" "
                        "Title=\"",
                        0),
            0u)
      << reply;
  EXPECT_NE(reply.find("\" Name=\"Pump sheet\" Type=\"1\" Scoped=\"0\" ShowClaimed=\"0\" "
                       "Watermark=\"Draft\" ReadOnly=\"0\">"),
            std::string::npos)
      << reply;
  EXPECT_EQ(Count(reply, "<Page "), 3u);
  const size_t second = reply.find("<Page PageId=\"102\"");
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(reply.find("<ShowUnit PageId=\"101\""), std::string::npos);
  EXPECT_EQ(reply.find("<Show", second), std::string::npos) << reply;
  EXPECT_EQ(reply.substr(reply.size() - 12), "</Datasheet>");
  EXPECT_EQ(host_.Current(), "#400 #401");
}

TEST_F(LoaderTest, PrintingSendsTheContentsOfEveryPage) {
  const std::string reply = Load(kSheet, 4, false);
  EXPECT_NE(reply.find("Watermark=\"Issued\" ReadOnly=\"0\">"), std::string::npos) << reply;
  EXPECT_EQ(Count(reply, "<Page "), 1u);
  EXPECT_NE(reply.find("<ShowStringField PageId=\"111\""), std::string::npos);

  const std::string current = Load(kSheet, 1, false);
  EXPECT_EQ(Count(current, "<Page "), 3u);
  // Page 3's unit field follows its set-up element.
  EXPECT_NE(current.find("<Page PageId=\"103\" Name=\"Last\" TemplatePageId=\"A\" "
                         "TemplateId=\"TP\" Checknum=\"2\"/><ShowUnit PageId=\"103\""),
            std::string::npos)
      << current;
}

TEST_F(LoaderTest, ADatasheetBelowARetrievableFolderIsReadOnly) {
  const std::string reply = Load(kFolded, 1, true);
  EXPECT_NE(reply.find("Title=\"[ReadOnly] "), std::string::npos) << reply;
  EXPECT_NE(reply.find("ReadOnly=\"1\">"), std::string::npos) << reply;
  // A datasheet without "BaseDimensionSet" has an empty dimension set.
  EXPECT_EQ(reply.rfind("<Datasheet CurrentDimensionSet=\"\" DocumentId=\"200\"", 0), 0u);
}

TEST_F(LoaderTest, ASummarySheetOfTheActiveProjectShowsClaimedObjects) {
  const std::string reply = Load(kSummary, 1, true);
  EXPECT_NE(reply.find("Type=\"3\""), std::string::npos) << reply;
  EXPECT_NE(reply.find("ShowClaimed=\"1\""), std::string::npos) << reply;
}

TEST_F(LoaderTest, AnEmptyPageSlotIsSkipped) {
  IKXQAttributePtr pages;
  ASSERT_EQ(host_.Object(kSheet)->get_Attribute(_bstr_t(u"CurrentPages"), _variant_t(), &pages),
            S_OK);
  ASSERT_EQ(pages->InsertValues(2, 1), S_OK);
  HRESULT hr = E_FAIL;
  const std::string reply = Load(kSheet, 1, false, &hr);
  EXPECT_EQ(hr, S_OK) << error_;
  EXPECT_EQ(Count(reply, "<Page "), 3u);
}

TEST_F(LoaderTest, AnInvalidStatusFailsBeforeAnythingIsWritten) {
  for (int32_t status : {0, 5}) {
    HRESULT hr = S_OK;
    const std::string reply = Load(kSheet, status, true, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(error_, "Invalid status");
    EXPECT_EQ(reply, "");
  }
}

TEST_F(LoaderTest, APageSetUpCarriesOnlyThePrintValuesItHolds) {
  EXPECT_EQ(PageSetup(kPage1),
            "<Page PageId=\"101\" Name=\"Sheet 1\" TemplatePageId=\"A\" TemplateId=\"TP\" "
            "Checknum=\"2\" PaperSource=\"3\"/>");
  EXPECT_EQ(PageSetup(kPage2),
            "<Page PageId=\"102\" Name=\"2\" TemplatePageId=\"B\" TemplateId=\"TP\" "
            "Checknum=\"2\" Orientation=\"2\" ScaleFactor=\"0.75\" CenterHorizontal=\"1\" "
            "TopMargin=\"10\" PaperSize=\"9\"/>");
  BSTR text = nullptr;
  EXPECT_EQ(WritePageSetup(nullptr, &text), E_POINTER);
  EXPECT_EQ(text, nullptr);
  // A check number that is no number is refused, and nothing is written.
  IKXQAttributePtr checknum;
  ASSERT_EQ(host_.Object(kPage1)->get_Attribute(_bstr_t(u"Checknum"), _variant_t(), &checknum),
            S_OK);
  ASSERT_EQ(checknum->PutValue(_variant_t(), _variant_t(), _variant_t(u"none")), S_OK);
  EXPECT_TRUE(FAILED(WritePageSetup(host_.Object(kPage1), &text)));
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(ThreadError(), "Cannot coerce attribute to an integer");
  SetErrorInfo(0, nullptr);
}

TEST_F(LoaderTest, OnlyACurrentDatasheetOpenedForEditingGetsItsTriggers) {
  auto has = [&](LONG id, const char16_t* trigger) {
    VARIANT_BOOL found = VARIANT_FALSE;
    EXPECT_EQ(host_.Object(id)->HasTrigger(_bstr_t(trigger), &found), S_OK);
    return found != VARIANT_FALSE;
  };
  Load(kSheet, 4, true);
  Load(kSheet, 1, false);
  EXPECT_FALSE(has(kSheet, u"Datasheet"));
  EXPECT_FALSE(has(kPage1, u"Field"));
  Load(kSheet, 1, true);
  EXPECT_TRUE(has(kSheet, u"Datasheet"));
  EXPECT_TRUE(has(kPage1, u"Field"));
  // Only the page whose contents were written.
  EXPECT_FALSE(has(kPage2, u"Field"));
}

TEST_F(LoaderTest, TheWatermarkNamesTheStatus) {
  const char* expected[] = {"Unknown", "Draft", "Submitted", "Checked", "Issued", "Unknown"};
  for (int32_t status = 0; status <= 5; ++status) {
    BSTR text = nullptr;
    ASSERT_EQ(GetStatusWatermark(status, &text), S_OK);
    _bstr_t held(text, false);
    EXPECT_EQ(Narrow(held.view()), expected[status]);
  }
}

}  // namespace
