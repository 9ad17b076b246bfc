// Field change detection: the default rule per kind of field, and the plant
// knowledge base's method that overrides it.
#include <gtest/gtest.h>

#include "model/kxfielddata.h"
#include "support/fieldfixture.h"

namespace kx::test::model {
namespace {

class FieldChangedTest : public ::testing::Test {
 protected:
  // Whether record `a` changed against `b` (null: an empty reference).
  bool Changed(const char16_t* a, const char16_t* b, bool flag = true) {
    KXFieldData current;
    KXFieldData reference;
    EXPECT_EQ(current.SelectField(a, -1), S_OK);
    EXPECT_EQ(reference.SelectField(b, -1), S_OK);
    return current.IsFieldChanged(reference, store_.application(), flag);
  }
  ModelStore store_{kFieldFixture};
};

TEST_F(FieldChangedTest, EachKindFollowsItsDefaultRule) {
  // Strings: an empty reference counts with the flag, and case matters.
  EXPECT_TRUE(Changed(u"<String Value=\"abc\"/>", nullptr, false));
  EXPECT_FALSE(Changed(u"<String Value=\"\"/>", nullptr, false));
  EXPECT_TRUE(Changed(u"<String Value=\"\"/>", nullptr, true));
  EXPECT_TRUE(Changed(u"<String Value=\"abc\"/>", u"<String Value=\"ABC\"/>"));
  EXPECT_FALSE(Changed(u"<String Value=\"abc\"/>", u"<String Value=\"abc\"/>"));
  // Numbers compare their texts, and their format unless all are empty.
  EXPECT_TRUE(Changed(u"<Real Value=\"1\" Format=\"0.0\"/>", u"<Real Value=\"1\" Format=\"0\"/>"));
  EXPECT_TRUE(Changed(u"<Integer Value=\"1\" Prefix=\"~\"/>", u"<Integer Value=\"1\"/>"));
  EXPECT_FALSE(Changed(u"<Real Format=\"0.0\"/>", u"<Real Format=\"0\"/>", false));
  // Booleans and dates: the format only with a value.
  EXPECT_TRUE(Changed(u"<Date Value=\"1\" Format=\"d\"/>", u"<Date Value=\"1\" Format=\"D\"/>"));
  EXPECT_FALSE(Changed(u"<Bool Value=\"1\"/>", u"<Bool Value=\"1\"/>"));
  // Sketches compare the rectangle; annotations their place and mark-up.
  EXPECT_TRUE(Changed(u"<Sketch Value=\"s\" TLX=\"1\"/>", u"<Sketch Value=\"s\" TLX=\"2\"/>"));
  EXPECT_TRUE(Changed(u"<Annotation FieldId=\"1\" Markup=\"1\" Value=\"a\"/>",
                      u"<Annotation FieldId=\"1\" Markup=\"0\" Value=\"a\"/>"));
  // Checks and radios against no value: "0" and "-1" are no change.
  EXPECT_FALSE(Changed(u"<Check Value=\"0\"/>", nullptr));
  EXPECT_TRUE(Changed(u"<Check Value=\"1\"/>", nullptr));
  EXPECT_FALSE(Changed(u"<Radio Value=\"-1\"/>", nullptr));
  EXPECT_TRUE(Changed(u"<Radio Value=\"2\"/>", nullptr));
  EXPECT_TRUE(Changed(u"<Radio/>", nullptr));
  // An empty record never changed.
  EXPECT_FALSE(Changed(nullptr, u"<String Value=\"a\"/>"));
}

TEST_F(FieldChangedTest, AKnowledgeBaseMethodOverridesTheDefault) {
  ASSERT_TRUE(store_.store().RegisterMethod(u"", u"IsStringFieldChanged", _variant_t(false)).ok());
  // Values differing in case only: the plant says they are the same.
  EXPECT_FALSE(Changed(u"<String Value=\"abc\"/>", u"<String Value=\"ABC\"/>"));
  // It is not asked when the default cannot be overruled: an empty
  // reference or an empty value stays a change.
  EXPECT_TRUE(Changed(u"<String Value=\"abc\"/>", nullptr));
  EXPECT_TRUE(Changed(u"<String Value=\"abc\"/>", u"<String Value=\"\"/>"));
  // Other kinds keep their default.
  EXPECT_TRUE(Changed(u"<Real Value=\"1\"/>", u"<Real Value=\"2\"/>"));
  ASSERT_TRUE(store_.store().RegisterMethod(u"", u"IsNumberFieldChanged", _variant_t(false)).ok());
  EXPECT_FALSE(Changed(u"<Real Value=\"1\"/>", u"<Real Value=\"2\"/>"));
}

}  // namespace
}  // namespace kx::test::model
