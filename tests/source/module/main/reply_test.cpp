// The reply writer against the host's response, which renders the calls as
// XML text.
#include "host/reply.h"

#include <gtest/gtest.h>
#include <string>

#include "com/comutil.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "support/moduletestsupport.h"
#include "xmlreply.h"

using namespace kx::test::inprocess;
using kx::host::MakeRef;
using kx::host::Ref;
using kx::host::RequestContext;
using kx::host::Response;

namespace {

class ReplyWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_ = CreateInProcessMain();
    ASSERT_TRUE(service_);
    NewRequest();
  }

  // Serves a new request: a new response held by Main.
  void NewRequest() {
    response_ = MakeRef<Response>();
    context_ = MakeRef<RequestContext>(response_);
    host().HoldRequest(context_.get());
  }

  HostConnection& host() { return MainOf(service_.get()); }
  std::string Reply() {
    response_->EndReply();
    return kx_utf16_to_utf8_lossy(response_->text());
  }

  Ref<IKXQDataService> service_;
  Ref<Response> response_;
  Ref<RequestContext> context_;
};

TEST_F(ReplyWriterTest, RootWithoutStatusForMinusOne) {
  XMLReply::BeginMessage(host(), u"App", -1);
  XMLReply::EndMessage(host());
  EXPECT_EQ(Reply(), "<XMLMessage TargetId=\"App\"></XMLMessage>");
  EXPECT_TRUE(response_->begun());
}

TEST_F(ReplyWriterTest, RootWithStatusZero) {
  XMLReply::BeginMessage(host(), u"42", 0);
  XMLReply::EndMessage(host());
  EXPECT_EQ(Reply(), "<XMLMessage TargetId=\"42\" Status=\"0\"></XMLMessage>");
}

TEST_F(ReplyWriterTest, NullTargetIdIsAnEmptyString) {
  XMLReply::BeginMessage(host(), nullptr, 1);
  XMLReply::EndMessage(host());
  EXPECT_EQ(Reply(), "<XMLMessage TargetId=\"\" Status=\"1\"></XMLMessage>");
}

TEST_F(ReplyWriterTest, QuestionForTheUser) {
  XMLReply::BeginMessage(host(), u"App", -1);
  _bstr_t question(u"Overwrite the values of \"P-101\" & <all> rows?");
  XMLReply::WriteMessage(host(), u"QUESTION", 12, question);
  XMLReply::EndMessage(host());
  EXPECT_EQ(Reply(),
            "<XMLMessage TargetId=\"App\"><Message MessageType=\"QUESTION\" DocumentId=\"12\">"
            "Overwrite the values of \"P-101\" &amp; &lt;all&gt; rows?</Message></XMLMessage>");
}

TEST_F(ReplyWriterTest, AlertWithoutDocument) {
  XMLReply::BeginMessage(host(), u"App", -1);
  _bstr_t alert(u"Pages cannot be added to summary sheets.");
  XMLReply::WriteMessage(host(), u"ALERT", -1, alert);
  XMLReply::EndMessage(host());
  EXPECT_EQ(Reply(),
            "<XMLMessage TargetId=\"App\"><Message MessageType=\"ALERT\">Pages cannot be added "
            "to summary sheets.</Message></XMLMessage>");
}

TEST_F(ReplyWriterTest, AttributesBelongToTheNextElementOnly) {
  _bstr_t name(u"Pump");
  XMLReply::AddStringAttribute(host(), u"Name", name);
  XMLReply::AddLongAttribute(host(), u"Id", -7);
  XMLReply::StartElement(host(), u"Object");
  XMLReply::WriteElement(host(), u"Empty", nullptr);
  _bstr_t text(u"x");
  XMLReply::WriteElement(host(), u"Text", text);
  XMLReply::AddStringAttribute(host(), u"Null", nullptr);
  XMLReply::WriteElement(host(), u"Last", nullptr);
  XMLReply::EndElement(host(), u"Object");
  EXPECT_EQ(Reply(),
            "<Object Name=\"Pump\" Id=\"-7\"><Empty/><Text>x</Text><Last Null=\"\"/></Object>");
}

TEST_F(ReplyWriterTest, ListIsKeptAcrossRequestsAndBeginIsNotCalledAgain) {
  XMLReply::WriteElement(host(), u"First", nullptr);
  IKXQXMLAttributes* list = host().m_pReplyAttributes;
  ASSERT_NE(list, nullptr);
  host().FinishRequest();
  NewRequest();
  XMLReply::AddLongAttribute(host(), u"N", 2);
  XMLReply::WriteElement(host(), u"Second", nullptr);
  EXPECT_EQ(host().m_pReplyAttributes, list);
  EXPECT_FALSE(response_->begun());
  EXPECT_EQ(Reply(), "<Second N=\"2\"/>");
}

TEST_F(ReplyWriterTest, WithoutResponseNothingCanBeWritten) {
  host().FinishRequest();
  try {
    XMLReply::StartElement(host(), u"A");
    FAIL() << "no failure";
  } catch (const KXComException& e) {
    EXPECT_EQ(e.hr, E_FAIL);
    BSTR description = nullptr;
    ASSERT_NE(e.errorInfo, nullptr);
    e.errorInfo->GetDescription(&description);
    EXPECT_NE(Narrow(description).find("Cannot access the KXQResponse object to write to it"),
              std::string::npos);
    SysFreeString(description);
  }
  // Also once a list exists (the list outlives the requests).
  NewRequest();
  XMLReply::WriteElement(host(), u"A", nullptr);
  host().FinishRequest();
  EXPECT_THROW(XMLReply::WriteElement(host(), u"B", nullptr), KXComException);
  EXPECT_THROW(XMLReply::EndMessage(host()), KXComException);
}

TEST_F(ReplyWriterTest, RefusedElementIsRaisedAndKeepsItsAttributes) {
  XMLReply::AddLongAttribute(host(), u"Kept", 1);
  // The response refuses an element without a name.
  EXPECT_THROW(XMLReply::StartElement(host(), u""), KXComException);
  XMLReply::WriteElement(host(), u"Next", nullptr);
  EXPECT_EQ(Reply(), "<Next Kept=\"1\"/>");
}

}  // namespace
