// Main's database-event routing, through the host driver, to the recording
// event handlers of this test program.
#include "host/events.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "store/database.h"
#include "support/moduletestsupport.h"

using namespace kx::test::inprocess;

namespace {

class DatabaseEventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSeams();
    service_ = CreateInProcessMain();
    ASSERT_TRUE(service_);
    ASSERT_EQ(host_.Attach(service_.get()), S_OK);
    VariantInit(&empty_);
  }
  void TearDown() override {
    host_.Detach();
    ResetSeams();
  }

  kx::host::CallResult Event(LONG kind, IKXQObject* object, const VARIANT& arguments) {
    Seams().calls.clear();
    return host_.ModuleEvent(kind, object, arguments);
  }

  static VARIANT Interface(IDispatch* argument) {
    VARIANT v;
    v.vt = VT_DISPATCH;
    v.pdispVal = argument;
    return v;
  }

  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> service_;
  VARIANT empty_;
};

using Lines = std::vector<std::string>;

TEST_F(DatabaseEventTest, KindsOutsideOneToNineDoNothing) {
  auto object = MakeFake<FakeObject>(7, std::vector<std::u16string>{u"Pump"});
  for (LONG kind : {0, 10, -1, 17}) {
    EXPECT_EQ(Event(kind, object.get(), empty_).hr, S_OK);
    EXPECT_TRUE(Seams().calls.empty()) << kind;
  }
}

TEST_F(DatabaseEventTest, CreateSkipsDocumentsAndDataViews) {
  auto pump = MakeFake<FakeObject>(7, std::vector<std::u16string>{u"Pump"});
  EXPECT_EQ(Event(1, pump.get(), empty_).hr, S_OK);
  EXPECT_EQ(Seams().calls, Lines{"HandleCreateEvent(7)"});
  EXPECT_EQ(pump->isOfClassCalls, 2);

  auto document = MakeFake<FakeObject>(8, std::vector<std::u16string>{u"Document"});
  EXPECT_EQ(Event(1, document.get(), empty_).hr, S_OK);
  EXPECT_TRUE(Seams().calls.empty());
  auto view = MakeFake<FakeObject>(9, std::vector<std::u16string>{u"dataview"});
  EXPECT_EQ(Event(1, view.get(), empty_).hr, S_OK);
  EXPECT_TRUE(Seams().calls.empty());
}

TEST_F(DatabaseEventTest, FailedClassTestCountsAsNo) {
  auto object = MakeFake<FakeObject>(4, std::vector<std::u16string>{u"Document"});
  object->failIsOfClass = true;
  EXPECT_EQ(Event(1, object.get(), empty_).hr, S_OK);
  EXPECT_EQ(Seams().calls, Lines{"HandleCreateEvent(4)"});
}

TEST_F(DatabaseEventTest, CopyAndCloneCreateWithoutClassTest) {
  auto document = MakeFake<FakeObject>(8, std::vector<std::u16string>{u"Document"});
  EXPECT_EQ(Event(3, document.get(), empty_).hr, S_OK);
  EXPECT_EQ(Event(4, document.get(), empty_).hr, S_OK);
  EXPECT_EQ(document->isOfClassCalls, 0);
}

TEST_F(DatabaseEventTest, EachKindReachesItsHandler) {
  auto object = MakeFake<FakeObject>(5, std::vector<std::u16string>{});
  auto update = MakeFake<FakeArgument>(IID_IKXQProjectUpdate);
  auto project = MakeFake<FakeArgument>(IID_IKXQProject);
  auto cls = MakeFake<FakeArgument>(IID_IKXQClass);
  VARIANT caseNumber;
  caseNumber.vt = VT_I4;
  caseNumber.lVal = 3;
  const struct {
    LONG kind;
    VARIANT arguments;
    std::string line;
  } cases[] = {
      {2, empty_, "HandleDeleteEvent(5)"},
      {3, empty_, "HandleCreateEvent(5)"},
      {4, empty_, "HandleCreateEvent(5)"},
      {5, caseNumber, "HandleDeleteCaseEvent(5,3)"},
      {6, Interface(update.get()), "HandleUpdateProjectEvent(update)"},
      {7, Interface(project.get()), "HandleDeleteProjectEvent(project)"},
      {8, Interface(cls.get()), "HandleChangeClassEvent(5,class)"},
      {9, empty_, "HandleChangeClaimStatusEvent(5)"},
  };
  for (const auto& c : cases) {
    const auto result = Event(c.kind, object.get(), c.arguments);
    EXPECT_EQ(result.hr, S_OK) << c.kind << ErrorText(result);
    EXPECT_EQ(Seams().calls, Lines{c.line}) << c.kind;
  }
}

TEST_F(DatabaseEventTest, MissingOrWrongEventInterfaceFails) {
  auto object = MakeFake<FakeObject>(5, std::vector<std::u16string>{});
  auto cls = MakeFake<FakeArgument>(IID_IKXQClass);
  // Empty arguments, or an interface that is not the one expected.
  for (LONG kind : {6, 7, 8}) {
    for (const VARIANT& arguments : {empty_, Interface(cls.get())}) {
      if (kind == 8 && arguments.vt == VT_DISPATCH) continue;
      const auto result = Event(kind, object.get(), arguments);
      EXPECT_EQ(result.hr, E_FAIL) << kind;
      EXPECT_NE(ErrorText(result).find("Could not get expected event interface"), std::string::npos)
          << ErrorText(result);
      EXPECT_TRUE(Seams().calls.empty());
    }
  }
}

TEST_F(DatabaseEventTest, DeleteCaseWithoutCaseNumberFails) {
  auto object = MakeFake<FakeObject>(5, std::vector<std::u16string>{});
  const auto result = Event(5, object.get(), empty_);
  EXPECT_EQ(result.hr, E_INVALIDARG);
  EXPECT_TRUE(Seams().calls.empty());
}

TEST_F(DatabaseEventTest, HandlerFailureIsReturnedWithItsDescription) {
  auto object = MakeFake<FakeObject>(5, std::vector<std::u16string>{});
  Seams().result = E_ACCESSDENIED;
  const auto result = Event(2, object.get(), empty_);
  EXPECT_EQ(result.hr, E_ACCESSDENIED);
  EXPECT_NE(ErrorText(result).find("recorded worker failed"), std::string::npos)
      << ErrorText(result);
}

TEST_F(DatabaseEventTest, ForeignExceptionBecomesAnErrorAtTheBoundary) {
  auto object = MakeFake<FakeObject>(5, std::vector<std::u16string>{u"Pump"});
  object->throwIsOfClass = true;
  const auto result = Event(1, object.get(), empty_);
  EXPECT_EQ(result.hr, E_UNEXPECTED);
  EXPECT_EQ(ErrorText(result).rfind("<KXError ", 0), 0u) << ErrorText(result);
  EXPECT_TRUE(Seams().calls.empty());
}

TEST_F(DatabaseEventTest, CreateEventWithoutObjectIsRefused) {
  const auto result = Event(1, nullptr, empty_);
  EXPECT_EQ(result.hr, E_POINTER);
  EXPECT_TRUE(Seams().calls.empty());
}

}  // namespace
