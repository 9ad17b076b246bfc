// The text shown for a page: its stored name formatted with its number
// (never used as a format of its own), the number alone, or "Unnamed".
#include <gtest/gtest.h>
#include <string>

#include "kxcomexception.h"
#include "pages/pages.h"
#include "support/modelfixture.h"

using modeltest::Narrow;

namespace {

// Pages 11-14: a name with a directive, one with hostile directives, no
// name, and no name nor number.
const char kNamedPages[] = R"(<store>
 <schema>
  <class name="Page"><attribute name="Name"/><attribute name="PageNumber" type="integer"/></class>
 </schema>
 <projects><project id="1" name="Plant"/></projects>
 <objects>
  <object id="11" class="Page"><value attribute="Name">Sheet %d</value><value attribute="PageNumber">3</value></object>
  <object id="12" class="Page"><value attribute="Name">%s%n %d and %d</value><value attribute="PageNumber">7</value></object>
  <object id="13" class="Page"><value attribute="PageNumber">12</value></object>
  <object id="14" class="Page"/>
 </objects>
</store>
)";

std::string Shown(modeltest::ModelStore& store, LONG id) {
  BSTR name = nullptr;
  KXDBDatasheetSvcs::GetPageDisplayName(store.Object(id), &name);
  const std::string text = Narrow(name);
  SysFreeString(name);
  return text;
}

TEST(PageDisplayName, NameNumberOrUnnamed) {
  modeltest::ModelStore store(kNamedPages);
  EXPECT_EQ(Shown(store, 11), "Sheet 3");
  EXPECT_EQ(Shown(store, 12), "%s%n 7 and %d");
  EXPECT_EQ(Shown(store, 13), "12");
  EXPECT_EQ(Shown(store, 14), "Unnamed");
  BSTR name = nullptr;
  EXPECT_THROW(KXDBDatasheetSvcs::GetPageDisplayName(nullptr, &name), KXComException);
}

TEST(PageDisplayName, APageClassWithoutNameShowsTheNumber) {
  modeltest::ModelStore store;
  EXPECT_EQ(Shown(store, modeltest::kSheetPage2), "2");
}

}  // namespace
