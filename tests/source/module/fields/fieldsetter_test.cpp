// The field-value messages end to end: the host sends a request, the module
// parses it, changes the store in the call's transaction, and the reply,
// the change events and the store are checked.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "fieldmodel/routecache.h"
#include "main/main.h"
#include "support/setterhost.h"

using namespace kx::test::setters;

namespace {

using Lines = std::vector<std::string>;

std::string Reply(const kx::host::RequestResult& result) { return Narrow(result.reply); }
std::string Error(const kx::host::CallResult& result) { return Narrow(result.error); }
Lines HostCalls(const kx::host::CallResult& result) {
  Lines lines;
  for (const auto& call : result.host_calls) lines.push_back(Narrow(call));
  return lines;
}

constexpr char kContiguityAlert[] =
    "<XMLMessage TargetId=\"App\"><Message MessageType=\"ALERT\">List items must be contiguous "
    "without blank entries. Please enter data into first blank row or column.</Message>"
    "</XMLMessage>";

class FieldSetterTest : public ::testing::Test {
 protected:
  SetterHost host_;
};

TEST_F(FieldSetterTest, RealIsStoredInThePageUnitAndRewritesTheRecordWithOneEvent) {
  const auto result = host_.Send(u"SetRealField",
                                 u"<SetRealField PageId=\"21\" FieldId=\"2\" "
                                 u"Value=\"3\" Prefix=\"ca.\"/>");
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(Reply(result), "");
  // The page shows l/s, the attribute's own unit is m3/h: 3 l/s are 10.8 m3/h.
  EXPECT_EQ(host_.Value(kPump, u"Flow", 1, u"l/s"), "3");
  EXPECT_EQ(host_.Value(kPump, u"Flow", 1, u"m3/h"), "10.8");
  // No "Format" in the request: the record's format goes, its alignment stays.
  EXPECT_EQ(host_.Value(kPage, u"Fields", 2),
            "<Real FieldId=\"2\" AttribId=\"25\" Alignment=\"1\"/>");
  EXPECT_EQ(EventLines(result), (Lines{"DataField [F1 21] to ed"}));
}

TEST_F(FieldSetterTest, EachEventGoesToTheUsersTheDatasheetHasThen) {
  const auto set = [&](const char16_t* value) {
    const std::u16string request =
        u"<SetRealField PageId=\"21\" FieldId=\"2\" Value=\"" + std::u16string(value) + u"\"/>";
    const auto result = host_.Send(u"SetRealField", request.c_str());
    EXPECT_EQ(result.hr, S_OK) << Error(result);
    return EventLines(result);
  };
  EXPECT_EQ(set(u"3"), (Lines{"DataField [F1 21] to ed"}));
  ASSERT_EQ(host_.Object(20)->PutUser(_bstr_t(u"sue"), 1), S_OK);
  EXPECT_EQ(set(u"4"), (Lines{"DataField [F1 21] to ed, sue"}));
  ASSERT_EQ(host_.Object(20)->PutUser(_bstr_t(u"ed"), 0), S_OK);
  EXPECT_EQ(set(u"5"), (Lines{"DataField [F1 21] to sue"}));
}

// The setters' plant whose pages keep revisions, so that their data-field
// events carry the field's element; field 10 of page 21 shows the tag of
// the pump's motor (70; 71 drives no pump).
class FieldEventTest : public ::testing::Test {
 protected:
  static std::string Fixture() {
    std::string text = kSetterFixture;
    const auto insert = [&](const std::string& before, const std::string& added) {
      text.replace(text.find(before), 0, added);
    };
    insert("<attribute name=\"RevisedPages\"",
           "<attribute name=\"Revisions\" list=\"true\"/>\n   ");
    insert("<attribute name=\"Drawing\"", "<attribute name=\"Motor\" type=\"object\"/>\n   ");
    insert("<field id=\"9\"",
           "<field id=\"10\" type=\"String\" attribute=\"Motor.Tag\" case=\"0\"/>\n     ");
    insert("<value attribute=\"Speed\"", "<value attribute=\"Motor\" ref=\"70\"/>\n   ");
    insert(
        "  <object id=\"62\"",
        "  <object id=\"70\" class=\"GenericClass\"><value attribute=\"Tag\">M-1</value></object>\n"
        "  <object id=\"71\" class=\"GenericClass\"><value "
        "attribute=\"Tag\">M-2</value></object>\n");
    return text;
  }
  std::string EventXml(const kx::host::CallResult& result) {
    EXPECT_EQ(result.events.size(), 1u);
    return result.events.empty() ? "" : Narrow(result.events[0].xml.value_or(u"<none>"));
  }
  void Put(LONG id, const char16_t* name, const _variant_t& value) {
    IKXQAttributePtr attribute;
    ASSERT_EQ(host_.Object(id)->get_Attribute(_bstr_t(name), _variant_t(), &attribute), S_OK);
    ASSERT_EQ(attribute->PutValue(_variant_t(1L), _variant_t(), value), S_OK);
  }
  const std::string fixture_ = Fixture();
  SetterHost host_{fixture_.c_str()};
};

TEST_F(FieldEventTest, EachSetAndItsEventTakeTheRecordThePageHoldsThen) {
  const auto set = [&](const char16_t* value, const char16_t* format) {
    const std::u16string request = u"<SetRealField PageId=\"21\" FieldId=\"2\" Value=\"" +
                                   std::u16string(value) + u"\" Format=\"" + format + u"\"/>";
    const auto result = host_.Send(u"SetRealField", request.c_str());
    EXPECT_EQ(result.hr, S_OK) << Error(result);
    return EventXml(result);
  };
  const auto shown = [](const char* format, const char* alignment, const char* value) {
    return std::string("<?xml version=\"1.0\"?><XMLMessage TargetId=\"20\" Status=\"1\">") +
           "<ShowRealField PageId=\"21\" FieldId=\"2\" Format=\"" + format + "\" Alignment=\"" +
           alignment + "\" VerticalAlignment=\"0\" State=\"256\" Value=\"" + value +
           "\"/></XMLMessage>";
  };
  EXPECT_EQ(set(u"3", u"0.0"), shown("0.0", "1", "3"));
  EXPECT_EQ(set(u"4", u"0.00"), shown("0.00", "1", "4"));
  // A record changed in between is read as it is now, not as read before.
  IKXQAttributePtr fields;
  ASSERT_EQ(host_.Object(kPage)->get_Attribute(_bstr_t(u"Fields"), _variant_t(), &fields), S_OK);
  ASSERT_EQ(fields->PutValue(_variant_t(2L), _variant_t(),
                             _variant_t(u"<Real FieldId=\"2\" Alignment=\"2\" Format=\"0\"/>")),
            S_OK);
  EXPECT_EQ(set(u"5", u"0.000"), shown("0.000", "2", "5"));
  EXPECT_EQ(host_.Value(kPage, u"Fields", 2),
            "<Real FieldId=\"2\" AttribId=\"26\" Format=\"0.000\" Alignment=\"2\"/>");
  EXPECT_EQ(set(u"6", u"0.000"), shown("0.000", "2", "6"));
}

TEST_F(FieldEventTest, ARecordThatOnlyStartsLikeOneReadBeforeIsReadAfresh) {
  const auto set = [&]() {
    return host_.Send(u"SetRealField",
                      u"<SetRealField PageId=\"21\" FieldId=\"2\" Value=\"3\" Format=\"0.0\"/>");
  };
  const char16_t kRecord[] =
      u"<Real FieldId=\"2\" AttribId=\"26\" Format=\"0.0\" Alignment=\"1\"/>";
  const auto first = set();
  ASSERT_EQ(first.hr, S_OK) << Error(first);
  ASSERT_EQ(host_.Value(kPage, u"Fields", 2), Narrow(kRecord));
  // The setter reads the record it wrote, which is then known.
  const auto second = set();
  ASSERT_EQ(second.hr, S_OK) << Error(second);
  // The same text with more after it is no record: the set fails.
  IKXQAttributePtr fields;
  ASSERT_EQ(host_.Object(kPage)->get_Attribute(_bstr_t(u"Fields"), _variant_t(), &fields), S_OK);
  const std::u16string longer = std::u16string(kRecord) + u"<junk";
  ASSERT_EQ(fields->PutValue(_variant_t(2L), _variant_t(), _variant_t(longer.c_str())), S_OK);
  const auto third = set();
  EXPECT_TRUE(FAILED(third.hr));
  EXPECT_NE(Error(third).find("MSXML Fatal error"), std::string::npos) << Error(third);
  EXPECT_EQ(host_.Value(kPage, u"Fields", 2), Narrow(longer.c_str()));
}

TEST_F(FieldEventTest, APageUnitWithANulInsideCountsUpToItForTheValueAndItsEvent) {
  const OLECHAR unit[] = u"m3/h\0x";
  Put(kPage, u"Units", _variant_t(_bstr_t(SysAllocStringLen(unit, 6), false)));
  const auto result =
      host_.Send(u"SetRealField", u"<SetRealField PageId=\"21\" FieldId=\"2\" Value=\"36\"/>");
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(host_.Value(kPump, u"Flow", 1, u"l/s"), "10");
  EXPECT_NE(EventXml(result).find("Value=\"36\""), std::string::npos) << EventXml(result);
}

TEST_F(FieldEventTest, TheEventReadsTheFieldAlongTheSettersWalk) {
  const uint64_t walks = RouteCache::Instance().WalkCount();
  const auto result =
      host_.Send(u"SetRealField", u"<SetRealField PageId=\"21\" FieldId=\"2\" Value=\"4\"/>");
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_NE(EventXml(result).find("Value=\"4\""), std::string::npos) << EventXml(result);
  // The setter walked to the value; the event took that walk.
  EXPECT_EQ(RouteCache::Instance().WalkCount() - walks, 1u);
}

TEST_F(FieldEventTest, AHeldEventWalksAgainWhenThePageChangedAfterTheSetter) {
  // The first set leaves the page's objects known to the walks that follow.
  ASSERT_EQ(
      host_.Send(u"SetRealField", u"<SetRealField PageId=\"21\" FieldId=\"2\" Value=\"3\"/>").hr,
      S_OK);
  host_.host().SetHoldEvents(true);
  const auto set =
      host_.Send(u"SetRealField", u"<SetRealField PageId=\"21\" FieldId=\"2\" Value=\"4\"/>");
  ASSERT_EQ(set.hr, S_OK) << Error(set);
  // Another pump takes the place of the pump the setter wrote to.
  Put(52, u"Flow", _variant_t(9.0));
  Put(kPage, u"NodeObjects", _variant_t(static_cast<IDispatch*>(host_.Object(52))));
  const auto delivered = host_.host().DeliverHeldEvents();
  ASSERT_EQ(delivered.hr, S_OK) << Error(delivered);
  EXPECT_NE(EventXml(delivered).find("Value=\"2.5\""), std::string::npos) << EventXml(delivered);
}

TEST_F(FieldEventTest, AHeldEventWalksAgainWhenAReferenceOnTheRouteChanged) {
  host_.host().SetHoldEvents(true);
  const auto set = host_.Send(u"SetStringField",
                              u"<SetStringField PageId=\"21\" FieldId=\"10\" Value=\"M-9\"/>");
  ASSERT_EQ(set.hr, S_OK) << Error(set);
  EXPECT_EQ(host_.Value(70, u"Tag"), "M-9");
  // The pump has another motor now: only the walk past the pump read that.
  Put(kPump, u"Motor", _variant_t(static_cast<IDispatch*>(host_.Object(71))));
  const auto delivered = host_.host().DeliverHeldEvents();
  ASSERT_EQ(delivered.hr, S_OK) << Error(delivered);
  EXPECT_NE(EventXml(delivered).find("Value=\"M-2\""), std::string::npos) << EventXml(delivered);
}

TEST_F(FieldSetterTest, NumberTextsAreStoredOnlyWhenPublished) {
  ASSERT_EQ(host_
                .Send(u"SetIntegerField",
                      u"<SetIntegerField PageId=\"21\" FieldId=\"3\" "
                      u"Value=\"2900\" Postfix=\"rpm\" Format=\"0\"/>")
                .hr,
            S_OK);
  EXPECT_EQ(host_.Value(kPump, u"Speed"), "2900");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 3),
            "<Integer FieldId=\"3\" AttribId=\"26\" Format=\"0\"/>");
  const auto quiet = host_.Send(u"SetIntegerField",
                                u"<SetIntegerField PageId=\"21\" FieldId=\"3\" "
                                u"Value=\"12abc\" Published=\"0\"/>");
  ASSERT_EQ(quiet.hr, S_OK) << Error(quiet);
  EXPECT_EQ(host_.Value(kPump, u"Speed"), "12");
}

TEST_F(FieldEventTest, NumberTextsAreWrittenWhenTheyChangeAndTheEventShowsThem) {
  const auto texts = [&] {
    IKXQAttributePtr flow;
    EXPECT_EQ(host_.Object(kPump)->get_Attribute(_bstr_t(u"Flow"), _variant_t(), &flow), S_OK);
    _bstr_t prefix, postfix, substitution;
    EXPECT_EQ(flow->GetPrefix(_variant_t(), prefix.GetAddress()), S_OK);
    EXPECT_EQ(flow->GetPostfix(_variant_t(), postfix.GetAddress()), S_OK);
    EXPECT_EQ(flow->GetSubstitution(_variant_t(), substitution.GetAddress()), S_OK);
    return Narrow(prefix.view()) + "|" + Narrow(postfix.view()) + "|" + Narrow(substitution.view());
  };
  const auto set = [&](const char16_t* attributes) {
    const std::u16string request = u"<SetRealField PageId=\"21\" FieldId=\"2\" Value=\"4\" " +
                                   std::u16string(attributes) + u"/>";
    const auto result = host_.Send(u"SetRealField", request.c_str());
    EXPECT_EQ(result.hr, S_OK) << Error(result);
    return EventXml(result);
  };
  std::string xml = set(u"Prefix=\"ca.\" Postfix=\"max\"");
  EXPECT_EQ(texts(), "ca.|max|");
  EXPECT_NE(xml.find("Prefix=\"ca.\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("Postfix=\"max\""), std::string::npos) << xml;
  // One text of three changes: it is written, the others stay.
  xml = set(u"Prefix=\"ca.\" Postfix=\"max\" Substitution=\"n/a\"");
  EXPECT_EQ(texts(), "ca.|max|n/a");
  EXPECT_NE(xml.find("Substitution=\"n/a\""), std::string::npos) << xml;
  // None sent: all three are emptied, and the event shows none.
  xml = set(u"");
  EXPECT_EQ(texts(), "||");
  EXPECT_EQ(xml.find("Prefix="), std::string::npos) << xml;
  EXPECT_EQ(xml.find("Postfix="), std::string::npos) << xml;
  EXPECT_EQ(xml.find("Substitution="), std::string::npos) << xml;
}

TEST_F(FieldSetterTest, ClearingAValueWithoutAlignmentEmptiesTheRecordAndStillTellsTheClients) {
  ASSERT_EQ(
      host_.Send(u"SetStringField", u"<SetStringField PageId=\"21\" FieldId=\"1\" Value=\"P-1\"/>")
          .hr,
      S_OK);
  EXPECT_EQ(host_.Value(kPump, u"Tag"), "P-1");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 1), "<String FieldId=\"1\" AttribId=\"1\"/>");
  const auto cleared =
      host_.Send(u"SetStringField", u"<SetStringField PageId=\"21\" FieldId=\"1\" Value=\"\"/>");
  ASSERT_EQ(cleared.hr, S_OK) << Error(cleared);
  EXPECT_EQ(host_.Value(kPump, u"Tag"), "");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 1), "");
  EXPECT_EQ(EventLines(cleared), (Lines{"DataField [F1 21] to ed"}));
}

TEST_F(FieldSetterTest, DateAndBooleanFollowTheValuesDataType) {
  ASSERT_EQ(
      host_.Send(u"SetDateField", u"<SetDateField PageId=\"21\" FieldId=\"4\" Value=\"45000\"/>")
          .hr,
      S_OK);
  EXPECT_EQ(host_.Value(kPump, u"Installed").substr(0, 4), "2023");
  ASSERT_EQ(
      host_.Send(u"SetBoolField", u"<SetBoolField PageId=\"21\" FieldId=\"5\" Value=\"yes\"/>").hr,
      S_OK);
  EXPECT_EQ(host_.Value(kPump, u"Running"), "-1");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 5), "<Bool FieldId=\"5\" AttribId=\"27\"/>");
  // A real that is no number stores nothing and fails the request.
  const auto refused =
      host_.Send(u"SetRealField", u"<SetRealField PageId=\"21\" FieldId=\"2\" Value=\"abc\"/>");
  EXPECT_TRUE(FAILED(refused.hr));
  EXPECT_EQ(host_.Value(kPump, u"Flow", 1, u"l/s"), "2");
  EXPECT_TRUE(refused.events.empty());
}

TEST_F(FieldSetterTest, RequestsNotForTheCurrentPagesChangeNothing) {
  for (int status : {2, -1}) {
    const auto result = host_.Send(
        u"SetStringField", u"<SetStringField PageId=\"21\" FieldId=\"1\" Value=\"X\"/>", status);
    EXPECT_EQ(result.hr, S_OK) << status;
    EXPECT_EQ(Reply(result), "");
    EXPECT_TRUE(result.events.empty());
  }
  EXPECT_EQ(host_.Value(kPump, u"Tag"), "P-101");
  // The page is fetched all the same.
  const auto unknown = host_.Send(
      u"SetStringField", u"<SetStringField PageId=\"9999\" FieldId=\"1\" Value=\"X\"/>", 2);
  EXPECT_TRUE(FAILED(unknown.hr));
}

TEST_F(FieldSetterTest, FieldsWithoutCaseOrOutsideTheTemplateAreRefused) {
  const auto noCase =
      host_.Send(u"SetStringField", u"<SetStringField PageId=\"21\" FieldId=\"9\" Value=\"X\"/>");
  EXPECT_EQ(noCase.hr, E_FAIL);
  EXPECT_NE(Error(noCase).find("Cannot set value for field with no defined case"),
            std::string::npos);
  const auto unknown =
      host_.Send(u"SetStringField", u"<SetStringField PageId=\"21\" FieldId=\"77\" Value=\"X\"/>");
  EXPECT_TRUE(FAILED(unknown.hr));
  EXPECT_EQ(host_.Value(kPump, u"Tag"), "P-101");
}

TEST_F(FieldSetterTest, ThePageNamingAnotherTemplatePageIsSeenByTheNextRequest) {
  const auto namePage = [&](const char16_t* pageId) {
    IKXQAttributePtr attribute;
    ASSERT_EQ(host_.Object(kPage)->get_Attribute(_bstr_t(u"PageId"), _variant_t(), &attribute),
              S_OK);
    ASSERT_EQ(attribute->PutValue(_variant_t(), _variant_t(), _variant_t(pageId)), S_OK);
  };
  const auto setFlow = [&](const char16_t* value) {
    return host_.Send(u"SetRealField", std::u16string(u"<SetRealField PageId=\"21\" FieldId=\"2\" "
                                                      u"Value=\"") +
                                           value + u"\"/>");
  };
  ASSERT_EQ(setFlow(u"3").hr, S_OK);
  // "P2" has no field 2.
  namePage(u"P2");
  EXPECT_TRUE(FAILED(setFlow(u"4").hr));
  EXPECT_EQ(host_.Value(kPump, u"Flow", 1, u"l/s"), "3");
  namePage(u"P1");
  ASSERT_EQ(setFlow(u"5").hr, S_OK);
  EXPECT_EQ(host_.Value(kPump, u"Flow", 1, u"l/s"), "5");
}

TEST_F(FieldSetterTest, AMissingRootObjectWithoutConfirmedClassGoesToTheHostForConfirmation) {
  const auto result =
      host_.Send(u"SetStringField", u"<SetStringField PageId=\"41\" FieldId=\"1\" Value=\"P-9\"/>");
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(HostCalls(result), (Lines{"confirm class Pump"}));
  EXPECT_EQ(host_.Count(kEmptyPage, u"NodeObjects"), 0);
  EXPECT_TRUE(result.events.empty());
  EXPECT_EQ(Reply(result), "");
}

TEST_F(FieldSetterTest, AConfirmedClassCreatesPlacesFillsAndWritesTheObjectInOneRequest) {
  const auto result = host_.Send(u"SetStringField",
                                 u"<SetStringField PageId=\"41\" FieldId=\"1\" "
                                 u"Value=\"P-9\" ConfirmedClass=\"Pump\"/>");
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(HostCalls(result), (Lines{"begin object creation", "end object creation"}));
  const std::string created = host_.Value(kEmptyPage, u"NodeObjects");
  ASSERT_EQ(created.substr(0, 1), "#");
  const LONG id = std::stol(created.substr(1));
  EXPECT_EQ(host_.Value(id, u"Tag"), "P-9");
  // Placed on the other page of the equipment datasheet too.
  EXPECT_EQ(host_.Value(kEmptyPage2, u"NodeObjects"), created);
  // Filled from the master BEDD data, once: what the template shows (its
  // page P2 shows the ambient temperature).
  EXPECT_EQ(host_.Value(id, u"AmbientTemperature"), "35");
  EXPECT_EQ(host_.Value(id, u"BEDDInitialized"), "-1");
  EXPECT_EQ(EventLines(result), (Lines{"DataField [F1 41] to ed"}));
}

TEST_F(FieldSetterTest, AContinuousListStaysContiguous) {
  // Rows 0 and 1 are in use: row 3 lies beyond the first blank row.
  const auto beyond = host_.Send(u"SetStringField",
                                 u"<SetStringField PageId=\"51\" FieldId=\"12\" "
                                 u"Index=\"3\" Value=\"P-9\" ConfirmedClass=\"Pump\"/>");
  ASSERT_EQ(beyond.hr, S_OK) << Error(beyond);
  EXPECT_EQ(Reply(beyond), kContiguityAlert);
  EXPECT_EQ(host_.Count(kListPage, u"NodeObjects"), 3);
  EXPECT_TRUE(beyond.events.empty());

  // The blank row without a class: the row's class goes to the host and
  // the request fails.
  const auto unconfirmed =
      host_.Send(u"SetStringField",
                 u"<SetStringField PageId=\"51\" FieldId=\"12\" Index=\"2\" Value=\"P-9\"/>");
  EXPECT_EQ(unconfirmed.hr, E_FAIL);
  EXPECT_NE(Error(unconfirmed)
                .find("Assert Field Error: Failed to assert continuous list field 12 "
                      "in template page List"),
            std::string::npos);

  // With a class the row is appended and takes the first row's presentation.
  const auto row = host_.Send(u"SetRealField",
                              u"<SetRealField PageId=\"51\" FieldId=\"13\" "
                              u"Index=\"2\" Value=\"4\" Format=\"0\" ConfirmedClass=\"Pump\"/>");
  ASSERT_EQ(row.hr, S_OK) << Error(row);
  EXPECT_EQ(host_.Count(kListPage, u"NodeObjects"), 4);
  const std::string created = host_.Value(kListPage, u"NodeObjects", 4);
  EXPECT_EQ(host_.Value(std::stol(created.substr(1)), u"Flow"), "4");
  // Field 13 of row 2 is field number 1 + 2 * 2 + 2.
  EXPECT_EQ(host_.Value(kListPage, u"Fields", 7),
            "<Real FieldId=\"13\" AttribId=\"25\" Format=\"0.00\" Index=\"2\"/>");
  EXPECT_EQ(EventLines(row), (Lines{"DataField [F1 51] to ed"}));
}

TEST_F(FieldSetterTest, AFieldOutsideTheRowsOfAListIsWrittenOnItsOwnNode) {
  const auto result = host_.Send(u"SetStringField",
                                 u"<SetStringField PageId=\"51\" FieldId=\"11\" "
                                 u"Value=\"Pump list\"/>");
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(host_.Value(kList, u"Tag"), "Pump list");
  EXPECT_EQ(host_.Value(kListPage, u"Fields", 1), "<String FieldId=\"11\" AttribId=\"1\"/>");
  EXPECT_EQ(host_.Count(kListPage, u"NodeObjects"), 3);
}

TEST_F(FieldSetterTest, ANewRowThatFailsThePermanentFilterLeavesTheSheet) {
  const auto refused = host_.Send(u"SetStringField",
                                  u"<SetStringField PageId=\"61\" FieldId=\"12\" "
                                  u"Index=\"1\" Value=\"Q-9\" ConfirmedClass=\"Pump\"/>");
  EXPECT_EQ(refused.hr, S_FALSE) << Error(refused);
  EXPECT_EQ(
      Reply(refused),
      "<XMLMessage TargetId=\"App\"><Message MessageType=\"ALERT\">'Tag' = 'Q-9' did not pass "
      "summary list membership requirements defined by Permanent Filter</Message></XMLMessage>");
  EXPECT_EQ(host_.Count(kFilteredPage, u"NodeObjects"), 2);
  // Nothing about the refused row reaches a client: neither its coming nor
  // its going, nor the value.
  EXPECT_EQ(EventLines(refused), Lines{});

  const auto passes = host_.Send(u"SetStringField",
                                 u"<SetStringField PageId=\"61\" FieldId=\"12\" "
                                 u"Index=\"1\" Value=\"P-1\" ConfirmedClass=\"Pump\"/>");
  EXPECT_EQ(passes.hr, S_OK) << Error(passes);
  EXPECT_EQ(host_.Count(kFilteredPage, u"NodeObjects"), 3);
  EXPECT_EQ(EventLines(passes), (Lines{"DataField [F1 61] to ed"}));
}

TEST_F(FieldSetterTest, CheckZeroEmptiesTheRecordAndAnythingElseWritesIt) {
  ASSERT_EQ(
      host_.Send(u"SetCheckField", u"<SetCheckField PageId=\"21\" FieldId=\"6\" Value=\"1\"/>").hr,
      S_OK);
  EXPECT_EQ(host_.Value(kPump, u"Vented"), "-1");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 6), "<Check FieldId=\"6\" AttribId=\"29\"/>");
  ASSERT_EQ(
      host_.Send(u"SetCheckField", u"<SetCheckField PageId=\"21\" FieldId=\"6\" Value=\"0\"/>").hr,
      S_OK);
  EXPECT_EQ(host_.Value(kPump, u"Vented"), "0");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 6), "");
  // Without "Status" a check request does nothing.
  const auto quiet =
      host_.Send(u"SetCheckField", u"<SetCheckField PageId=\"21\" FieldId=\"6\" Value=\"1\"/>", -1);
  EXPECT_EQ(quiet.hr, S_OK);
  EXPECT_EQ(host_.Value(kPump, u"Vented"), "0");
}

TEST_F(FieldSetterTest, ARadioChoiceStoresItsTextAndTheRecordItsNumber) {
  const auto result =
      host_.Send(u"SetRadioField", u"<SetRadioField PageId=\"21\" FieldId=\"7\" Value=\"2\"/>");
  ASSERT_EQ(result.hr, S_OK) << Error(result);
  EXPECT_EQ(host_.Value(kPump, u"Seal"), "double");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 7), "<Radio FieldId=\"7\" AttribId=\"30\" Value=\"2\"/>");
  ASSERT_EQ(
      host_.Send(u"SetRadioField", u"<SetRadioField PageId=\"21\" FieldId=\"7\" Value=\"-1\"/>").hr,
      S_OK);
  EXPECT_EQ(host_.Value(kPump, u"Seal"), "");
  EXPECT_EQ(host_.Value(kPage, u"Fields", 7), "");
  // A choice that is not there, or none at all, changes nothing.
  EXPECT_TRUE(FAILED(
      host_.Send(u"SetRadioField", u"<SetRadioField PageId=\"21\" FieldId=\"7\" Value=\"5\"/>")
          .hr));
  EXPECT_EQ(host_.Send(u"SetRadioField", u"<SetRadioField PageId=\"21\" FieldId=\"7\"/>").hr,
            E_INVALIDARG);
  EXPECT_EQ(host_.Value(kPump, u"Seal"), "");
}

// "LoadBEDDData" on its own: equipment takes the site conditions its
// template shows, once; two master datasheets are a configuration error.
TEST(LoadBEDDDataTest, EquipmentIsFilledOnceFromTheOneMaster) {
  SetterHost host;
  Main& main = *static_cast<Main*>(host.service());
  IKXQSchemaPtr schema;
  ASSERT_EQ(host.store().Database()->get_Schema(&schema), S_OK);
  IKXQClassPtr pumps;
  IKXQClassPtr masters;
  ASSERT_EQ(schema->get_Class(_bstr_t(u"Pump"), &pumps), S_OK);
  ASSERT_EQ(schema->get_Class(_bstr_t(u"MasterBEDD"), &masters), S_OK);
  IKXQObjectPtr pump;
  ASSERT_EQ(pumps->CreateInstance(&pump), S_OK);
  LONG id = 0;
  pump->get_Id(&id);
  _bstr_t templateId(u"TP");
  BSTR text = templateId;
  _variant_t folder;
  ASSERT_EQ(main.LoadBEDDData(&text, pump, &folder), S_OK);
  EXPECT_EQ(host.Value(id, u"AmbientTemperature"), "35");
  EXPECT_EQ(host.Value(id, u"BEDDInitialized"), "-1");
  // Already initialised: nothing is copied again, even with a second master.
  IKXQObjectPtr second;
  ASSERT_EQ(masters->CreateInstance(&second), S_OK);
  ASSERT_EQ(main.LoadBEDDData(&text, pump, &folder), S_OK);
  IKXQObjectPtr fresh;
  ASSERT_EQ(pumps->CreateInstance(&fresh), S_OK);
  fresh->get_Id(&id);
  EXPECT_EQ(main.LoadBEDDData(&text, fresh, &folder), E_FAIL);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  info->Release();
  EXPECT_NE(
      Narrow(_bstr_t(description, false).view())
          .find(
              "BEDD Configuration Error. Multiple BEDD datasheets found when only one may exist."),
      std::string::npos);
  EXPECT_EQ(host.Value(id, u"AmbientTemperature"), "");
  EXPECT_EQ(host.Value(id, u"BEDDInitialized"), "");
}

// Every write of a setter that creates an object fails in turn: the call
// fails and the store is exactly as it was, the last write included.
TEST(SetterTransactionTest, AStoreFailureAtAnyWriteLeavesTheStoreAsItWas) {
  int failedCalls = 0;
  for (long write = 1; write < 200; ++write) {
    SetterHost host;
    host.store().FailWriteAfter(write);
    const auto result = host.Send(u"SetRealField",
                                  u"<SetRealField PageId=\"41\" FieldId=\"2\" "
                                  u"Value=\"7\" Prefix=\"~\" ConfirmedClass=\"Pump\"/>");
    host.store().FailWriteAfter(0);
    if (SUCCEEDED(result.hr)) {
      EXPECT_EQ(host.Value(std::stol(host.Value(kEmptyPage, u"NodeObjects").substr(1)), u"Flow"),
                "7");
      break;
    }
    ++failedCalls;
    EXPECT_TRUE(result.events.empty());
    EXPECT_EQ(host.Count(kEmptyPage, u"NodeObjects"), 0) << write;
    EXPECT_EQ(host.Count(kEmptyPage2, u"NodeObjects"), 0) << write;
    EXPECT_EQ(host.Value(kEmptyPage, u"Fields", 2), "") << write;
    EXPECT_EQ(host.Count(kEmptyPage, u"Fields"), 9) << write;
  }
  // Creating, placing, filling and writing take several writes.
  EXPECT_GT(failedCalls, 5);
}

}  // namespace
