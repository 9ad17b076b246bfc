// The registrar's record of a module's start-up and its failure injection.
#include <gtest/gtest.h>

#include "com/errorinfo.h"
#include "host/errors.h"
#include "host/recording_registrar.h"
#include "test_util.h"

namespace kx::host::test {
namespace {

using test::Bstr;
using test::Var;

// A VT_ARRAY|VT_BSTR VARIANT holding `names` (lower bound 1).
Var NameArray(std::initializer_list<std::u16string_view> names) {
  Var v;
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 1, static_cast<ULONG>(names.size()));
  LONG index = 1;
  for (auto name : names) {
    Bstr item(name);
    EXPECT_EQ(S_OK, SafeArrayPutElement(array, &index, static_cast<BSTR>(item)));
    ++index;
  }
  (*v).vt = VT_ARRAY | VT_BSTR;
  (*v).parray = array;
  return v;
}

class RegistrarTest : public ::testing::Test {
 protected:
  HRESULT Subscribe(LONG local, LONG kind, Var& filter) {
    Var event_kind = Var::I4(kind);
    return registrar_->Subscribe(local, *event_kind, *filter, VARIANT_FALSE);
  }
  HRESULT Declare(LONG id, std::u16string_view name, std::u16string_view description) {
    Var datasheet = Var::Str(u"Datasheet");
    return registrar_->DeclareMethod(id, Bstr(name), *datasheet, Bstr(name), Bstr(description),
                                     VARIANT_FALSE, VARIANT_TRUE, VARIANT_FALSE);
  }

  Ref<Registrar> registrar_ = MakeRef<Registrar>();
};

TEST_F(RegistrarTest, RecordsEveryCallInOrderWithItsArguments) {
  ASSERT_EQ(S_OK, registrar_->RegisterService(Bstr(u"KXDBDatasheetSvcs.Main")));
  ASSERT_EQ(S_OK, registrar_->DeclarePrivilege(Bstr(u"Modify Non-Project Summary"),
                                               Bstr(u"Datasheet Editor"), Bstr(u"Why")));
  IDispatch* templates = reinterpret_cast<IDispatch*>(1);
  ASSERT_EQ(S_OK, registrar_->GetTemplates(&templates));
  EXPECT_EQ(nullptr, templates);
  Var summary = NameArray({u"Pump", u"Valve"});
  ASSERT_EQ(S_OK, Subscribe(3, 4, summary));
  Var generic = Var::Str(u"GenericClass");
  ASSERT_EQ(S_OK, Subscribe(2, 2, generic));
  Var datasheet = Var::Str(u"Datasheet");
  ASSERT_EQ(S_OK, registrar_->RegisterObjectService(10, Bstr(u"Datasheet"), *datasheet));
  ASSERT_EQ(S_OK, Declare(0, u"GetDisplayName", u"Gets the display name of the datasheet"));

  EXPECT_EQ((std::vector<std::string>{
                "RegisterService(KXDBDatasheetSvcs.Main)",
                "DeclarePrivilege(Modify Non-Project Summary, Datasheet Editor, Why)",
                "GetTemplates()",
                "Subscribe(3, 4, [Pump,Valve], false)",
                "Subscribe(2, 2, GenericClass, false)",
                "RegisterObjectService(10, Datasheet, Datasheet)",
                "DeclareMethod(0, GetDisplayName, Datasheet, GetDisplayName, Gets the display "
                "name of the datasheet, false, true, false)",
            }),
            registrar_->CallTexts());

  ASSERT_EQ(2u, registrar_->subscriptions().size());
  EXPECT_EQ(3, registrar_->subscriptions()[0].local_kind);
  EXPECT_EQ((std::vector<std::u16string>{u"Pump", u"Valve"}),
            registrar_->subscriptions()[0].classes);
  const auto deletes = registrar_->SubscriptionsFor(2);
  ASSERT_EQ(1u, deletes.size());
  EXPECT_EQ(2, deletes[0].local_kind);
  ASSERT_TRUE(registrar_->ObjectServiceFor(10));
  EXPECT_EQ(u"Datasheet", registrar_->ObjectServiceFor(10)->class_name);
  EXPECT_FALSE(registrar_->ObjectServiceFor(11));
}

TEST_F(RegistrarTest, InjectedFailureHitsOnlyTheMatchingCallAndRegistersNothing) {
  registrar_->FailCall("DeclareMethod", E_ACCESSDENIED, u"Method refused", u"0");
  EXPECT_EQ(E_ACCESSDENIED, Declare(0, u"GetDisplayName", u"d"));
  EXPECT_EQ(u"Method refused", internal::TakeErrorDescription());
  EXPECT_EQ(S_OK, Declare(1, u"SetDisplayName", u"d"));
  ASSERT_EQ(2u, registrar_->calls().size());
  EXPECT_TRUE(registrar_->calls()[0].failed);
  EXPECT_FALSE(registrar_->calls()[1].failed);
  ASSERT_EQ(1u, registrar_->methods().size());
  EXPECT_EQ(1, registrar_->methods()[0].id);
}

TEST_F(RegistrarTest, FailedSubscriptionIsNotRouted) {
  registrar_->FailCall("Subscribe", E_FAIL, u"No events today");
  Var generic = Var::Str(u"GenericClass");
  EXPECT_EQ(E_FAIL, Subscribe(2, 2, generic));
  EXPECT_TRUE(registrar_->SubscriptionsFor(2).empty());
  registrar_->ClearFailures();
  EXPECT_EQ(S_OK, Subscribe(2, 2, generic));
  EXPECT_EQ(1u, registrar_->SubscriptionsFor(2).size());
}

TEST_F(RegistrarTest, RefusesWrongArgumentTypes) {
  Var number = Var::I4(5);
  Var text_kind = Var::Str(u"1");
  Var generic = Var::Str(u"GenericClass");
  EXPECT_EQ(DISP_E_TYPEMISMATCH, registrar_->Subscribe(1, *text_kind, *generic, VARIANT_FALSE));
  EXPECT_EQ(DISP_E_TYPEMISMATCH, Subscribe(1, 1, number));
  EXPECT_EQ(DISP_E_TYPEMISMATCH, registrar_->RegisterObjectService(10, Bstr(u"D"), *number));
  EXPECT_TRUE(registrar_->subscriptions().empty());
  EXPECT_TRUE(registrar_->object_services().empty());
  EXPECT_EQ(3u, registrar_->calls().size());
}

TEST_F(RegistrarTest, HandsOutTheTemplatesItWasGiven) {
  class Templates final : public internal::DispatchObject<IDispatch> {};
  Ref<Templates> templates = MakeRef<Templates>();
  registrar_->SetTemplates(templates.get());
  IDispatch* got = nullptr;
  ASSERT_EQ(S_OK, registrar_->GetTemplates(&got));
  EXPECT_EQ(static_cast<IDispatch*>(templates.get()), got);
  got->Release();
  registrar_->FailCall("GetTemplates", E_FAIL, u"No library");
  got = reinterpret_cast<IDispatch*>(1);
  EXPECT_EQ(E_FAIL, registrar_->GetTemplates(&got));
  EXPECT_EQ(nullptr, got);
}

}  // namespace
}  // namespace kx::host::test
