// Start-up registration of a Main created in-process: the summary-sheet
// classes as class filter, and each refusal of the registrar.
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

#include "support/moduletestsupport.h"

using namespace kx::test::inprocess;

namespace {

class StartUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSeams();
    service_ = CreateInProcessMain();
    ASSERT_TRUE(service_);
    ASSERT_EQ(host_.Attach(service_.get()), S_OK);
  }
  void TearDown() override {
    host_.Detach();
    ResetSeams();
  }

  kx::host::Host host_;
  kx::host::Ref<IKXQDataService> service_;
};

TEST_F(StartUpTest, SummarySheetClassesFilterCreateCopyAndClone) {
  ASSERT_EQ(host_.StartUp().hr, S_OK);
  const auto& subscriptions = host_.registrar().subscriptions();
  ASSERT_EQ(subscriptions.size(), 9u);
  const std::vector<std::u16string> classes{u"Pump", u"Vessel"};
  EXPECT_EQ(subscriptions[0].classes, classes);
  EXPECT_EQ(subscriptions[2].local_kind, 3);
  EXPECT_EQ(subscriptions[2].event_kind, 4);
  EXPECT_EQ(subscriptions[2].classes, classes);
  EXPECT_EQ(subscriptions[3].local_kind, 4);
  EXPECT_EQ(subscriptions[3].event_kind, 3);
  EXPECT_EQ(subscriptions[3].classes, classes);
  EXPECT_EQ(subscriptions[1].classes, std::vector<std::u16string>{u"GenericClass"});
  EXPECT_EQ(Seams().calls, std::vector<std::string>{"SummarySheetClasses"});
}

struct Refusal {
  const char* operation;
  const char16_t* firstArgument;  // null: every call of the operation
  HRESULT expected;
  const char* text;
  size_t callsMade;  // registrar calls up to and including the refused one
};

// Test names must not depend on addresses: CTest lists them in one process
// and runs them in others.
void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.operation << " refused"; }

class StartUpRefusalTest : public StartUpTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(StartUpRefusalTest, FirstFailureEndsStartUp) {
  const Refusal& refusal = GetParam();
  if (refusal.firstArgument == nullptr) {
    host_.registrar().FailCall(refusal.operation, E_ACCESSDENIED, u"registrar says no");
  } else {
    host_.registrar().FailCall(refusal.operation, E_ACCESSDENIED, u"registrar says no",
                               std::u16string(refusal.firstArgument));
  }
  const auto result = host_.StartUp();
  EXPECT_EQ(result.hr, refusal.expected);
  const std::string error = ErrorText(result);
  EXPECT_EQ(error.rfind("<KXError ", 0), 0u) << error;
  EXPECT_NE(error.find(refusal.text), std::string::npos) << error;
  EXPECT_EQ(host_.registrar().calls().size(), refusal.callsMade);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, StartUpRefusalTest,
    ::testing::Values(
        Refusal{"DeclarePrivilege", u"Modify Non-Project Summary", E_ACCESSDENIED,
                "registrar says no", 2},
        Refusal{"DeclarePrivilege", u"Globally Change Display Units", E_ACCESSDENIED,
                "registrar says no", 3},
        Refusal{"GetTemplates", nullptr, E_ACCESSDENIED, "registrar says no", 4},
        Refusal{"Subscribe", u"1", E_FAIL,
                "Failed to register create event for summary sheet classes", 5},
        Refusal{"Subscribe", u"2", E_FAIL, "Failed to register delete event for objects", 6},
        Refusal{"Subscribe", u"3", E_FAIL,
                "Failed to register copy event for summary sheet classes", 7},
        Refusal{"Subscribe", u"4", E_FAIL,
                "Failed to register clone event for summary sheet classes", 8},
        Refusal{"Subscribe", u"5", E_FAIL, "Failed to register delete case event for Datasheet", 9},
        Refusal{"Subscribe", u"6", E_FAIL, "Failed to register update project event", 10},
        Refusal{"Subscribe", u"7", E_FAIL, "Failed to register delete project event", 11},
        Refusal{"Subscribe", u"8", E_FAIL, "Failed to register change class event", 12},
        Refusal{"Subscribe", u"9", E_FAIL, "Failed to register change claim status event", 13},
        Refusal{"RegisterObjectService", u"10", E_FAIL,
                "Failed to register datasheet object service", 14},
        Refusal{"RegisterObjectService", u"11", E_FAIL,
                "Failed to register dataview object service", 15}),
    [](const ::testing::TestParamInfo<Refusal>& info) {
      return std::string(info.param.operation) + std::to_string(info.index);
    });

TEST_F(StartUpTest, RefusedServiceRegistrationIsNotChecked) {
  host_.registrar().FailCall("RegisterService", E_FAIL, u"no");
  EXPECT_EQ(host_.StartUp().hr, S_OK);
}

TEST_F(StartUpTest, SummaryClassesThatCannotBeFoundEndStartUp) {
  Seams().result = E_OUTOFMEMORY;
  const auto result = host_.StartUp();
  EXPECT_EQ(result.hr, E_FAIL);
  EXPECT_NE(ErrorText(result).find("Failed to retrieve summary sheet classes"), std::string::npos);
  EXPECT_EQ(host_.registrar().subscriptions().size(), 0u);
}

TEST_F(StartUpTest, RefusedFirstMethodStillSucceeds) {
  host_.registrar().FailCall("DeclareMethod", E_ACCESSDENIED, u"first refused", u"0");
  const auto result = host_.StartUp();
  EXPECT_EQ(result.hr, S_OK);
  EXPECT_TRUE(result.error.empty()) << ErrorText(result);
  EXPECT_EQ(host_.registrar().methods().size(), 1u);
}

}  // namespace
