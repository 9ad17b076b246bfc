// The text shown for a page: a stored name with at most its first integer
// directive filled in, never used as a format of its own.
#include <gtest/gtest.h>

#include <string>

#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "pages.h"
#include "support/modelfixture.h"

using KXDBDatasheetSvcs::FormatPageName;
using modeltest::Narrow;

namespace {

std::string Shown(const OLECHAR* name, int32_t number) { return Narrow(FormatPageName(name, number)); }

TEST(PageDisplayName, TheFirstIntegerDirectiveTakesThePageNumber) {
  EXPECT_EQ(Shown(u"Sheet %d", 3), "Sheet 3");
  EXPECT_EQ(Shown(u"Page %i", 7), "Page 7");
  EXPECT_EQ(Shown(u"P%03d", 7), "P007");
  EXPECT_EQ(Shown(u"[%-4d]", 7), "[7   ]");
  EXPECT_EQ(Shown(u"%ld%%", 50), "50%");
  EXPECT_EQ(Shown(u"Datasheet", 4), "Datasheet");
  EXPECT_EQ(Shown(u"", 12), "12");
  EXPECT_EQ(Shown(nullptr, -1), "Unnamed");
}

TEST(PageDisplayName, OtherDirectivesStayAsWrittenAndNothingOverruns) {
  // Texts, pointers and write-back directives are no formats here.
  EXPECT_EQ(Shown(u"%s %n %p %x", 5), "%s %n %p %x");
  EXPECT_EQ(Shown(u"%d and %d", 5), "5 and %d");
  EXPECT_EQ(Shown(u"%", 5), "%");
  EXPECT_EQ(Shown(u"x%", 5), "x%");
  // At most the name's length plus seven characters.
  EXPECT_EQ(Shown(u"%99d", 1).size(), 11u);
  EXPECT_EQ(Shown(u"%d", -2147483647 - 1), "-21474836");
  EXPECT_EQ(Shown(u"%.50d", 1).size(), 12u);
}

TEST(PageDisplayName, ReadFromThePage) {
  modeltest::ModelStore store;
  BSTR name = nullptr;
  KXDBDatasheetSvcs::GetPageDisplayName(store.Object(modeltest::kSheetPage2), &name);
  EXPECT_EQ(Narrow(name), "2");  // no name: the number
  SysFreeString(name);
  EXPECT_THROW(KXDBDatasheetSvcs::GetPageDisplayName(nullptr, &name), KXComException);
}

}  // namespace
