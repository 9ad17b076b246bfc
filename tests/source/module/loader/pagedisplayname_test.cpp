// The text shown for a page: its stored name formatted with its number
// (never used as a format of its own), the number alone (0 when unset), or
// "Unnamed" for the number -1.
#include <gtest/gtest.h>
#include <string>

#include "kxcomexception.h"
#include "pages/pages.h"
#include "support/modelfixture.h"

using kx::test::model::Narrow;

namespace {

// Pages 11-15: a name with a directive, one with hostile directives, no
// name, no name nor number, and no name with the number -1.
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
  <object id="15" class="Page"><value attribute="PageNumber">-1</value></object>
 </objects>
</store>
)";

std::string Shown(kx::test::model::ModelStore& store, LONG id) {
  BSTR name = nullptr;
  KXDBDatasheetSvcs::GetPageDisplayName(store.Object(id), &name);
  const std::string text = Narrow(name);
  SysFreeString(name);
  return text;
}

TEST(PageDisplayName, NameNumberOrUnnamed) {
  kx::test::model::ModelStore store(kNamedPages);
  EXPECT_EQ(Shown(store, 11), "Sheet 3");
  EXPECT_EQ(Shown(store, 12), "%s%n 7 and %d");
  EXPECT_EQ(Shown(store, 13), "12");
  EXPECT_EQ(Shown(store, 14), "0");
  EXPECT_EQ(Shown(store, 15), "Unnamed");
  BSTR name = nullptr;
  EXPECT_THROW(KXDBDatasheetSvcs::GetPageDisplayName(nullptr, &name), KXComException);
}

TEST(PageDisplayName, APageClassWithoutNameShowsTheNumber) {
  kx::test::model::ModelStore store;
  EXPECT_EQ(Shown(store, kx::test::model::kSheetPage2), "2");
}

}  // namespace
