// The small pieces under the writers: field positions of continuous pages,
// field-data records, change detection and annotation lookup.
#include <gtest/gtest.h>
#include <string>

#include "com/errorinfo.h"
#include "fieldmodel/fieldutils.h"
#include "kxcomexception.h"
#include "loader/loaddatasheet.h"
#include "main/main.h"
#include "model/kxdbdatasheetutils.h"
#include "model/kxfielddata.h"
#include "support/pagesfixture.h"

using namespace kx::test::pages;

namespace {

class WritersTest : public ::testing::Test {
 protected:
  void TearDown() override { SetErrorInfo(0, nullptr); }
  PagesHost host_;
};

// The list template "TL": fixed fields 1-3 (F = 4), rows of three (R = 3).
TEST_F(WritersTest, ContinuousFieldPositionsMapIntoTheRepeatingBlock) {
  IKXQTemplatePagePtr templatePage;
  ASSERT_EQ(
      KXDBDatasheetSvcs::GetTemplatePage(&host_.app(), host_.Object(kListPage), &templatePage, 1),
      S_OK);
  ContinuousPageHelper& helper = host_.main().GetContinuousPageHelper();
  ASSERT_EQ(helper.Initialize(&host_.app(), templatePage, host_.Object(kListPage), false), S_OK);
  ASSERT_EQ(helper.FirstRepeatingField(), 4);
  ASSERT_EQ(helper.FieldsPerRow(), 3);
  auto map = [&](int32_t position) {
    int32_t number = 0;
    EXPECT_EQ(helper.MapFieldIndex(position, &number), S_OK);
    return number;
  };
  for (int32_t p = 1; p <= 6; ++p) EXPECT_EQ(map(p), p);
  EXPECT_EQ(map(7), 4);
  EXPECT_EQ(map(9), 6);
  EXPECT_EQ(map(13), 4);
  int32_t number = 0;
  try {
    (void)helper.MapFieldIndex(0, &number);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& error) {
    EXPECT_EQ(error.hr, E_FAIL);
  }
  int32_t revision = 0;
  int32_t row = 0;
  ASSERT_EQ(helper.MapRevisionPosition(2, &revision, &row), S_OK);
  EXPECT_EQ(revision, 2);
  EXPECT_EQ(row, -1);
  ASSERT_EQ(helper.MapRevisionPosition(9, &revision, &row), S_OK);
  EXPECT_EQ(revision, 3);
  EXPECT_EQ(row, 2);
}

TEST_F(WritersTest, SelectFieldKeepsTheKindTheTextNames) {
  KXFieldData record;
  ASSERT_EQ(record.SelectField(u"<Fields><Real FieldId=\"7\" Value=\"1\"/>"
                               u"<Check FieldId=\"8\" Value=\"0\"/></Fields>",
                               -1),
            S_OK);
  EXPECT_EQ(record.typeId, kFieldReal);
  EXPECT_EQ(record.fieldId, 7);
  ASSERT_EQ(record.SelectField(u"<Fields><Real FieldId=\"7\"/><Check FieldId=\"8\"/></Fields>", 8),
            S_OK);
  EXPECT_EQ(record.typeId, kFieldCheck);
  ASSERT_EQ(record.SelectField(u"<Fields><Real FieldId=\"7\"/></Fields>", 9), S_OK);
  EXPECT_EQ(record.typeId, kFieldCleared);
  EXPECT_TRUE(FAILED(record.SelectField(u"<Real FieldId=", -1)));
  record.SetNumberTexts(u"1.5", u"~", nullptr, u"n/a");
  EXPECT_EQ(record.value.str(), u"1.5");
  EXPECT_TRUE(record.postfix.IsNull());
  EXPECT_EQ(record.substitution.str(), u"n/a");
}

TEST_F(WritersTest, ChangesFollowTheRuleOfTheKind) {
  // Whether record `a` changed against `b` (null: an empty reference).
  auto changed = [&](const char16_t* a, const char16_t* b, bool flag) {
    KXFieldData current;
    KXFieldData reference;
    EXPECT_EQ(current.SelectField(a, -1), S_OK);
    EXPECT_EQ(reference.SelectField(b, -1), S_OK);
    return current.IsFieldChanged(reference, &host_.app(), flag);
  };
  EXPECT_TRUE(changed(u"<String Value=\"abc\"/>", nullptr, false));
  EXPECT_TRUE(changed(u"<String Value=\"\"/>", nullptr, true));
  EXPECT_FALSE(changed(u"<String Value=\"\"/>", nullptr, false));
  EXPECT_TRUE(changed(u"<String Value=\"abc\"/>", u"<String Value=\"ABC\"/>", true));
  EXPECT_FALSE(changed(u"<String Value=\"abc\"/>", u"<String Value=\"abc\"/>", true));
  EXPECT_TRUE(
      changed(u"<Real Value=\"1\" Format=\"0.0\"/>", u"<Real Value=\"1\" Format=\"0\"/>", true));
  EXPECT_FALSE(changed(u"<Check Value=\"0\"/>", nullptr, true));
  EXPECT_TRUE(changed(u"<Check Value=\"1\"/>", nullptr, true));
  EXPECT_FALSE(changed(u"<Radio Value=\"-1\"/>", nullptr, true));
  EXPECT_TRUE(changed(u"<Radio Value=\"2\"/>", nullptr, true));
  EXPECT_TRUE(changed(u"<Annotation FieldId=\"1\" X=\"1\" Value=\"a\"/>",
                      u"<Annotation FieldId=\"1\" X=\"2\" Value=\"a\"/>", true));
  EXPECT_FALSE(changed(nullptr, u"<String Value=\"a\"/>", true));
}

TEST_F(WritersTest, AnnotationsAreFoundByTheirStoredId) {
  _bstr_t text;
  EXPECT_EQ(FieldUtils::GetAnnotation(host_.Object(kIssued1), 2, false, text), 2);
  EXPECT_NE(Narrow(text.view()).find("Issued note"), std::string::npos);
  EXPECT_EQ(FieldUtils::GetAnnotation(host_.Object(kIssued1), 3, false, text), -1);
  EXPECT_EQ(static_cast<const OLECHAR*>(text), nullptr);
  try {
    FieldUtils::GetAnnotation(host_.Object(kIssued1), 3, true, text);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& error) {
    EXPECT_EQ(error.hr, E_FAIL);
  }
  try {
    FieldUtils::GetAnnotation(nullptr, 1, false, text);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& error) {
    EXPECT_EQ(error.hr, E_POINTER);
  }
}

TEST_F(WritersTest, TemplateChecknumsCompareWithoutRegardToCase) {
  PageLoadContext context(&host_.main());
  IKXQAttributePtr fields;
  ASSERT_EQ(host_.Object(kIssued1)->get_Attribute(_bstr_t(u"Fields"), _variant_t(), &fields), S_OK);
  bool changed = true;
  ASSERT_EQ(IsTemplateChecknumChanged(context, host_.Object(kPage1), fields, 1, &changed), S_OK);
  EXPECT_FALSE(changed);
  IKXQAttributePtr checknum;
  ASSERT_EQ(host_.Object(kPage1)->get_Attribute(_bstr_t(u"Checknum"), _variant_t(), &checknum),
            S_OK);
  ASSERT_EQ(checknum->Clear(_variant_t()), S_OK);
  ASSERT_EQ(IsTemplateChecknumChanged(context, host_.Object(kPage1), fields, 1, &changed), S_OK);
  EXPECT_TRUE(changed);
}

}  // namespace
