// kxqhost driving a stand-in module (fake_module/fake_module.cpp) that
// writes replies, posts change events, changes the store and answers
// trigger callbacks: the program's output and its transactions seen from
// outside.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "com/comutil.h"
#include "com/registry.h"
#include "host/reply.h"
#include "support/host_fixture.h"

namespace {

using kxqtest::KxqhostTest;
using kxqtest::Outcome;

class FakeModuleTest : public KxqhostTest {
 protected:
  void SetUp() override {
    InitStore();
    ::setenv("KXQ_REGISTRY", Registry().c_str(), 1);
    const std::u16string clsid = u"{6F1C2A10-3B2D-4E5F-9A1B-2C3D4E5F6071}";
    const std::string library = KXQHOST_FAKE_MODULE;
    ASSERT_EQ(kx_reg_set_value(u"HKEY_CLASSES_ROOT\\KXDBDatasheetSvcs.Main\\CLSID", u"", clsid),
              S_OK);
    ASSERT_EQ(kx_reg_set_value(u"HKEY_CLASSES_ROOT\\CLSID\\" + clsid + u"\\InprocServer32", u"",
                               std::u16string(library.begin(), library.end())),
              S_OK);
  }
};

// What the host library's response makes of the fake module's "Reply".
std::string RenderedReply() {
  auto response = kx::host::MakeRef<kx::host::Response>();
  IKXQXMLAttributes* attributes = nullptr;
  response->BeginXMLReply();
  response->NewAttributes(&attributes);
  attributes->Add(_bstr_t(u"TargetId"), _variant_t(u"T"));
  response->StartElement(_bstr_t(u"XMLMessage"), attributes);
  response->WriteElement(_bstr_t(u"Item"), nullptr, _bstr_t(u"a&b"));
  response->EndElement(_bstr_t(u"XMLMessage"));
  response->EndReply();
  attributes->Release();
  response->Finish(true);
  return _bstr_t(response->text().c_str()).utf8();
}

TEST_F(FakeModuleTest, TheReplyGoesToStandardOutputExactlyAsTheResponseMadeIt) {
  const Outcome outcome = Host({"request", "Reply"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  // The output ends with a line end.
  EXPECT_EQ(outcome.out, RenderedReply() + "\n");
  EXPECT_NE(outcome.out.find("<Item>a&amp;b</Item>"), std::string::npos) << outcome.out;
  EXPECT_EQ(outcome.err, "");
}

TEST_F(FakeModuleTest, AFailedRequestChangesNothingASuccessfulOneCommits) {
  const std::string before = Dump({"20"});
  const Outcome failed = Host({"request", "SetTagThenFail", "-"}, "Changed");
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err.rfind("<KXError Desc=\"fake failure\" />\n", 0), 0u) << failed.err;
  EXPECT_EQ(Dump({"20"}), before);

  const Outcome kept = Host({"--events", "request", "SetTag", "-"}, "Kept");
  ASSERT_EQ(kept.status, 0) << kept.err;
  EXPECT_EQ(kept.out,
            "== store changed #20: Tag\n"
            "== current datasheet none, page none\n");
  EXPECT_NE(Dump({"20"}).find("Tag = \"Kept\"\n"), std::string::npos);
}

TEST_F(FakeModuleTest, ChangeEventsFollowWhenAskedFor) {
  const Outcome quiet = Host({"request", "Event"});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "");
  const Outcome told = Host({"--events", "request", "Event"});
  ASSERT_EQ(told.status, 0) << told.err;
  EXPECT_EQ(told.out,
            "== event DatasheetChanged to Editor\n<Event Id=\"20\"/>\n"
            "== current datasheet none, page none\n");
}

TEST_F(FakeModuleTest, ATriggerTheModuleSetUpIsCalledBackInsideTheChangingCall) {
  kxqtest::WriteText(dir_ / "new-tag.txt", "New");
  kxqtest::WriteText(dir_ / "steps.kxq",
                     "request Watch\n"
                     "request SetTag new-tag.txt\n"
                     "! request SetTagThenFail new-tag.txt\n");
  const Outcome outcome = Host({"--events", "run", dir_ / "steps.kxq"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out,
            "## request Watch\n"
            "== current datasheet none, page none\n"
            "## request SetTag new-tag.txt\n"
            "== store changed #20: Tag\n"
            "== store changed #21: Tag\n"
            "== store trigger Datasheet on #10 fired (keys: k)\n"
            "== current datasheet none, page none\n"
            "## ! request SetTagThenFail new-tag.txt\n"
            "== current datasheet none, page none\n");
  EXPECT_NE(Dump({"20"}).find("Tag = \"New\"\n"), std::string::npos);
  EXPECT_NE(Dump({"21"}).find("Tag = \"fired by Datasheet\"\n"), std::string::npos);
}

TEST_F(FakeModuleTest, TheUserHoldsTheDeclaredPrivilegesUnlessDenied) {
  const Outcome granted = Host({"--user", "ann", "request", "WhoAmI"});
  ASSERT_EQ(granted.status, 0) << granted.err;
  EXPECT_EQ(granted.out, "<User>ann granted</User>\n");
  const Outcome denied = Host({"--user", "bob", "--deny", "Edit Fakes", "request", "WhoAmI"});
  ASSERT_EQ(denied.status, 0) << denied.err;
  EXPECT_EQ(denied.out, "<User>bob denied</User>\n");
}

}  // namespace
