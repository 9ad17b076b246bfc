// kxqhost driving a stand-in module (fake_module/fake_module.cpp) that
// writes replies, posts change events, changes the store and answers
// trigger callbacks: the program's output and its transactions seen from
// outside.
#include <filesystem>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "com/comutil.h"
#include "com/registry.h"
#include "host/reply.h"
#include "support/host_fixture.h"

namespace {

using kx::test::tools::KxqhostTest;
using kx::test::tools::Outcome;

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
  // kxqhost told to load the registered module: the stand-in, not the
  // build's own.
  Outcome Host(std::vector<std::string> arguments, const std::string& input = "") {
    arguments.insert(arguments.begin(), "--registered-module");
    return KxqhostTest::Host(std::move(arguments), input);
  }
};

// ---------------------------------------------------------------------------
// Which module is loaded.

// A registration store naming another module (here the stand-in) does not
// make kxqhost run it: the program registers and loads its own build's
// module, says so naming both, and --version says what is registered.
TEST_F(FakeModuleTest, AnotherModuleInTheRegistrationStoreGivesWayToTheBuildsOwn) {
  const std::string fake = KXQHOST_FAKE_MODULE;
  const Outcome version = Bare({"--version"});
  EXPECT_NE(version.out.find("registration store: " + Registry() + "\n"), std::string::npos)
      << version.out;
  EXPECT_NE(version.out.find("registered module: " + fake + " (another;"), std::string::npos)
      << version.out;
  // Told to, it loads the registered one.
  const Outcome told = Host({"request", "Reply"});
  EXPECT_EQ(told.status, 0) << told.err;

  const Outcome outcome = KxqhostTest::Host({"request", "Reply"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Data service request handler not found"), std::string::npos)
      << outcome.err;
  EXPECT_NE(
      outcome.err.find("notice: the registration store " + Registry() + " named another module, " +
                       fake + "; registered and loading this build's, /"),
      std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.err.find("/libKXDBDatasheetSvcs.so (--registered-module"), std::string::npos)
      << outcome.err;
  EXPECT_NE(Bare({"--version"}).out.find("libKXDBDatasheetSvcs.so (the module library)\n"),
            std::string::npos);
}

// Without KXQ_REGISTRY the program's registration store is its build
// tree's, not the user's (which here names another module).
TEST_F(FakeModuleTest, WithoutKxqRegistryTheBuildTreeKeepsItsOwnRegistrationStore) {
  const std::string data = dir_ / "data";
  std::filesystem::create_directories(data + "/kxq");
  std::filesystem::copy_file(Registry(), data + "/kxq/registry.xml");
  const std::vector<std::string> environment = {"KXQ_REGISTRY", "XDG_DATA_HOME=" + data};
  const Outcome version = kx::test::tools::RunHostWith({"--version"}, dir_.path(), environment);
  EXPECT_NE(version.out.find("/kxq-registry.xml\n"), std::string::npos) << version.out;
  EXPECT_EQ(version.out.find(data), std::string::npos) << version.out;
  const Outcome outcome = kx::test::tools::RunHostWith({"--store", Store(), "request", "Reply"},
                                                       dir_.path(), environment);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("Data service request handler not found"), std::string::npos)
      << outcome.err;
  // The user's store is left as it was.
  EXPECT_EQ(kx::test::tools::ReadText(data + "/kxq/registry.xml"),
            kx::test::tools::ReadText(Registry()));
}

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
  kx::test::tools::WriteText(dir_ / "new-tag.txt", "New");
  kx::test::tools::WriteText(dir_ / "steps.kxq",
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
