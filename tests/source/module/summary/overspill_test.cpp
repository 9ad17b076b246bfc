// The overspill chain toolkit on the chain 501 -> 502 -> 503 (each page's
// overspill pair names the data view "Rows", whose members "Readings(1)"
// and "readings [2]" match the attribute "Readings") and on the circular
// pair 601 <-> 602.
#include "model/overspillutils.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "com/errorinfo.h"
#include "kxcomexception.h"
#include "main/main.h"
#include "support/pagesfixture.h"

using namespace pagestest;

namespace {

class OverspillTest : public ::testing::Test {
 protected:
  std::vector<LONG> Ids(const ComPtrArray<IKXQObject>& chain) {
    std::vector<LONG> ids;
    for (int32_t i = 0; i < chain.GetCount(); ++i) {
      LONG id = 0;
      (void)chain.GetAt(i)->get_Id(&id);
      ids.push_back(id);
    }
    return ids;
  }
  // The source chain of a page as "NAME OFFSET", "empty" or "none".
  std::string SourceChain(LONG id) {
    OverspillUtils overspill(&host_.main());
    SAFEARRAY* chain = nullptr;
    EXPECT_EQ(overspill.GetOverspillSourceChain(host_.Object(id), &chain), S_OK);
    if (chain == nullptr) return "none";
    LONG nameAt[2] = {1, 1};
    LONG offsetAt[2] = {2, 1};
    _variant_t name;
    _variant_t offset;
    EXPECT_EQ(SafeArrayGetElement(chain, nameAt, &name), S_OK);
    EXPECT_EQ(SafeArrayGetElement(chain, offsetAt, &offset), S_OK);
    SafeArrayDestroy(chain);
    if (name.vt == VT_EMPTY && offset.vt == VT_EMPTY) return "empty";
    return Narrow(_bstr_t(name).view()) + " " + std::to_string(offset.lVal);
  }
  std::string CaughtDesc(const KXComException& error) {
    SetErrorInfo(0, nullptr);
    if (error.errorInfo == nullptr) return std::string();
    BSTR description = nullptr;
    (void)error.errorInfo->GetDescription(&description);
    _bstr_t held(description, false);
    return FirstDesc(std::u16string(held.view()));
  }

  PagesHost host_;
};

TEST_F(OverspillTest, TheChainRunsFromThePageToTheHead) {
  OverspillUtils overspill(&host_.main());
  ComPtrArray<IKXQObject> chain;
  IKXQObjectPtr previous;
  overspill.GetOverspillFrom(previous, host_.Object(kChain3), chain);
  EXPECT_EQ(Ids(chain), (std::vector<LONG>{503, 502, 501}));
  EXPECT_EQ(previous.GetInterfacePtr(), host_.Object(kChain2).GetInterfacePtr());

  ComPtrArray<IKXQObject> head;
  overspill.GetOverspillFrom(previous, host_.Object(kChain1), head);
  EXPECT_EQ(previous.GetInterfacePtr(), host_.Object(kChain1).GetInterfacePtr());
  IKXQObjectPtr next;
  overspill.GetOverspillTo(next, host_.Object(kChain1), false);
  EXPECT_EQ(next.GetInterfacePtr(), host_.Object(kChain2).GetInterfacePtr());
  overspill.GetOverspillTo(next, host_.Object(kChain3), false);
  EXPECT_FALSE(next);
}

TEST_F(OverspillTest, TheNextPageIsAnnouncedOnlyWhenAsked) {
  OverspillUtils overspill(&host_.main());
  IKXQObjectPtr next;
  overspill.GetOverspillTo(next, host_.Object(kChain1), false);
  EXPECT_TRUE(host_.app().DeliverPendingEvents().empty());
  overspill.GetOverspillTo(next, host_.Object(kChain1), true);
  const std::vector<kx::host::DeliveredEvent> events = host_.app().DeliverPendingEvents();
  ASSERT_EQ(events.size(), 1u);
  ASSERT_TRUE(events[0].xml);
  EXPECT_NE(Narrow(*events[0].xml).find("<XMLMessage TargetId=\"500\" Status=\"1\">"),
            std::string::npos);
}

TEST_F(OverspillTest, TheSourceChainCountsTheSlotsInFront) {
  EXPECT_EQ(SourceChain(kChain1), "none");
  EXPECT_EQ(SourceChain(kChain2), "Readings 2");
  EXPECT_EQ(SourceChain(kChain3), "Readings 4");
  // Pages that are not in a chain, or whose template page has no overspill
  // association, have none.
  EXPECT_EQ(SourceChain(kPage1), "none");
  OverspillUtils ownerless(nullptr);
  SAFEARRAY* chain = reinterpret_cast<SAFEARRAY*>(0x1);
  EXPECT_EQ(ownerless.GetOverspillSourceChain(host_.Object(kChain3), &chain), S_FALSE);
  EXPECT_EQ(chain, nullptr);
}

TEST_F(OverspillTest, ChainMembersComeHeadPageFirst) {
  OverspillUtils overspill(&host_.main());
  SAFEARRAY* matrix = nullptr;
  ASSERT_EQ(overspill.GetOverspillChainMembers(host_.Object(kChain2), u"readings", &matrix), S_OK);
  ASSERT_NE(matrix, nullptr);
  LONG upper = 0;
  ASSERT_EQ(SafeArrayGetUBound(matrix, 2, &upper), S_OK);
  std::vector<LONG> pages;
  std::vector<std::string> names;
  for (LONG column = 1; column <= upper; ++column) {
    LONG viewAt[2] = {1, column};
    LONG pageAt[2] = {2, column};
    _variant_t view;
    _variant_t page;
    ASSERT_EQ(SafeArrayGetElement(matrix, viewAt, &view), S_OK);
    ASSERT_EQ(SafeArrayGetElement(matrix, pageAt, &page), S_OK);
    IKXQObjectPtr object(page.pdispVal);
    LONG id = 0;
    (void)object->get_Id(&id);
    pages.push_back(id);
    IKXQClassViewPtr member(view.pdispVal);
    _bstr_t name;
    (void)member->get_Name(name.GetAddress());
    names.push_back(Narrow(name.view()));
  }
  SafeArrayDestroy(matrix);
  EXPECT_EQ(pages, (std::vector<LONG>{501, 501, 502, 502, 503, 503}));
  EXPECT_EQ(names[0], "Readings(1)");
  EXPECT_EQ(names[1], "readings [2]");

  SAFEARRAY* none = nullptr;
  ASSERT_EQ(overspill.GetOverspillChainMembers(host_.Object(kPage1), u"Readings", &none), S_OK);
  EXPECT_EQ(none, nullptr);
}

TEST_F(OverspillTest, EveryWalkStopsOnACircularChain) {
  OverspillUtils overspill(&host_.main());
  const std::string expected = "The overspill chain of page 601 is circular";
  try {
    ComPtrArray<IKXQObject> chain;
    IKXQObjectPtr previous;
    overspill.GetOverspillFrom(previous, host_.Object(kLoop1), chain);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& error) {
    EXPECT_EQ(error.hr, E_FAIL);
    EXPECT_EQ(CaughtDesc(error), expected);
  }
  try {
    SAFEARRAY* chain = nullptr;
    overspill.GetOverspillSourceChain(host_.Object(kLoop1), &chain);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& error) {
    EXPECT_EQ(CaughtDesc(error), expected);
  }
  try {
    SAFEARRAY* matrix = nullptr;
    overspill.GetOverspillChainMembers(host_.Object(kLoop1), u"Readings", &matrix);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& error) {
    EXPECT_EQ(CaughtDesc(error), expected);
  }
}

TEST_F(OverspillTest, ARequiredAssociationThatIsMissingIsNamed) {
  OverspillUtils overspill(&host_.main());
  VariantUtil::SafeArrayMatrix pairs;
  IKXQTemplatePagePtr target;
  EXPECT_EQ(overspill.GetOverspillAssociation(host_.Object(kPage1), false, pairs, &target), S_OK);
  EXPECT_EQ(pairs.Array(), nullptr);
  try {
    overspill.GetOverspillAssociation(host_.Object(kPage1), true, pairs, &target);
    ADD_FAILURE() << "no failure";
  } catch (const KXComException& error) {
    EXPECT_EQ(CaughtDesc(error), "No overspill association defined for template page Data");
  }
}

TEST_F(OverspillTest, DataViewNamesAreCutAtTheirSeparators) {
  _variant_t empty;
  IKXQClassView* view = reinterpret_cast<IKXQClassView*>(0x1);
  EXPECT_EQ(VariantToObject(empty, &view), S_OK);
  EXPECT_EQ(view, nullptr);
  _variant_t number(static_cast<int>(3), VT_I4);
  EXPECT_EQ(VariantToObject(number, &view), DISP_E_TYPEMISMATCH);
}

}  // namespace
