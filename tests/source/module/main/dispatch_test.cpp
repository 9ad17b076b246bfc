// The data-service map and the request operations of a Main created
// in-process (recording workers), against the host's own response objects.
#include <gtest/gtest.h>
#include <string>

#include "com/comutil.h"
#include "com/wstr.h"
#include "host/reply.h"
#include "main/messagemap.h"
#include "support/moduletestsupport.h"
#include "xmlreply.h"

using namespace kx::test::inprocess;
using kx::host::MakeRef;
using kx::host::Ref;
using kx::host::RequestContext;
using kx::host::Response;

namespace {

TEST(DataServiceMap, ListsTheNinetySevenMessagesInOrder) {
  const DataServiceMapEntry* map = GetDataServiceMap();
  ASSERT_EQ(map, GetDataServiceMap());
  int count = 0;
  while (map[count].handler != nullptr) ++count;
  EXPECT_EQ(count, kDataServiceMessageCount);
  EXPECT_EQ(Narrow(map[0].name), "ListDatasheetsByObject");
  EXPECT_EQ(Narrow(map[14].name), "OpenDocuments");
  EXPECT_EQ(Narrow(map[66].name), "CreateAnnotation");
  EXPECT_EQ(Narrow(map[96].name), "ComparePages");
  EXPECT_EQ(map[97].name[0], u'\0');
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(map[i].handler2, nullptr);
    // Each handler's frame locates its failures at its family's file.
    EXPECT_NE(map[i].file, nullptr) << Narrow(map[i].name);
    // Names are unique, so each is found at its own entry.
    EXPECT_EQ(FindDataServiceEntry(map[i].name), &map[i]) << Narrow(map[i].name);
    // Zero-filled after the name.
    const size_t length = kx_wcslen(map[i].name);
    for (size_t c = length; c < kDataServiceNameLength; ++c) ASSERT_EQ(map[i].name[c], u'\0');
  }
}

TEST(DataServiceMap, LooksNamesUpWithoutRegardToCase) {
  const DataServiceMapEntry* setRealField = FindDataServiceEntry(u"SetRealField");
  ASSERT_NE(setRealField->handler, nullptr);
  EXPECT_EQ(FindDataServiceEntry(u"setrealfield"), setRealField);
  EXPECT_EQ(FindDataServiceEntry(u"SETREALFIELD"), setRealField);
  // One handler serves the three document messages, and only them.
  const DataServiceHandler processDocuments = FindDataServiceEntry(u"OpenDocuments")->handler;
  EXPECT_EQ(FindDataServiceEntry(u"PrintDocuments")->handler, processDocuments);
  EXPECT_EQ(FindDataServiceEntry(u"ExportDocuments")->handler, processDocuments);
  EXPECT_NE(FindDataServiceEntry(u"RenameDocuments")->handler, processDocuments);
  EXPECT_NE(setRealField->handler, processDocuments);
  EXPECT_EQ(FindDataServiceEntry(u"SetRealFiel")->handler, nullptr);
  EXPECT_EQ(FindDataServiceEntry(u"SetRealFields")->handler, nullptr);
  EXPECT_EQ(FindDataServiceEntry(nullptr)->handler, nullptr);
  EXPECT_EQ(FindDataServiceEntry(u"")->handler, nullptr);
}

// Requests straight to the IKXQDataService operation, each with a response
// of its own, as the host makes them.
class RequestProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSeams();
    service_ = CreateInProcessMain();
    ASSERT_TRUE(service_);
    // A host attaches the module before its first request.
    ASSERT_EQ(host_.Attach(service_.get()), S_OK);
  }
  void TearDown() override {
    host_.Detach();
    ResetSeams();
  }

  struct Sent {
    HRESULT hr;
    Ref<Response> response;
    Ref<RequestContext> context;
  };

  Sent Send(const char16_t* name,
            const char16_t* text = u"<XMLMessage><CreateAnnotation/></XMLMessage>") {
    Sent sent{S_OK, MakeRef<Response>(), {}};
    sent.context = MakeRef<RequestContext>(sent.response);
    _bstr_t messageName(name);
    _bstr_t requestText(text);
    sent.hr = service_->ProcessRequest(messageName, requestText, sent.context.get());
    return sent;
  }

  Main& main() { return MainOf(service_.get()); }

  kx::host::Host host_;
  Ref<IKXQDataService> service_;
};

// A worker action that answers with an alert.
HRESULT WriteAlert(MainContext& main) {
  XMLReply::BeginMessage(main, u"App", -1);
  _bstr_t text(u"Value out of range");
  XMLReply::WriteMessage(main, u"ALERT", -1, text);
  XMLReply::EndMessage(main);
  return S_OK;
}

TEST_F(RequestProtocolTest, FirstRequestWithoutReplyDoesNotEndTheReply) {
  const Sent sent = Send(u"CreateAnnotation");
  ASSERT_EQ(sent.hr, S_OK);
  EXPECT_EQ(Seams().calls.size(), 1u);
  EXPECT_EQ(sent.response->end_calls(), 0);
  EXPECT_FALSE(sent.response->begun());
  EXPECT_EQ(main().m_pReplyAttributes, nullptr);
  // Context and response are let go after success.
  EXPECT_EQ(main().m_pRequestContext, nullptr);
  EXPECT_EQ(main().m_pResponse, nullptr);
}

TEST_F(RequestProtocolTest, ReplyListIsMadeOnceAndEveryLaterSuccessEndsTheReply) {
  Seams().action = &WriteAlert;
  const Sent first = Send(u"CreateAnnotation");
  ASSERT_EQ(first.hr, S_OK);
  EXPECT_TRUE(first.response->begun());
  // Once by the reply writer's end of message, once by Main.
  EXPECT_EQ(first.response->end_calls(), 2);
  EXPECT_EQ(kx_utf16_to_utf8_lossy(first.response->text()),
            "<XMLMessage TargetId=\"App\"><Message MessageType=\"ALERT\">Value out of "
            "range</Message></XMLMessage>");
  IKXQXMLAttributes* list = main().m_pReplyAttributes;
  ASSERT_NE(list, nullptr);

  Seams().action = nullptr;
  const Sent quiet = Send(u"CreateAnnotation");
  ASSERT_EQ(quiet.hr, S_OK);
  EXPECT_EQ(quiet.response->end_calls(), 1);
  EXPECT_TRUE(quiet.response->text().empty());

  Seams().action = &WriteAlert;
  const Sent again = Send(u"CreateAnnotation");
  ASSERT_EQ(again.hr, S_OK);
  // The list of the first response serves; begin-reply is not called again.
  EXPECT_FALSE(again.response->begun());
  EXPECT_EQ(main().m_pReplyAttributes, list);
  EXPECT_EQ(kx_utf16_to_utf8_lossy(again.response->text()),
            kx_utf16_to_utf8_lossy(first.response->text()));
}

TEST_F(RequestProtocolTest, FailedRequestWritesNothingMoreAndKeepsItsContext) {
  Seams().action = &WriteAlert;
  ASSERT_EQ(Send(u"CreateAnnotation").hr, S_OK);
  Seams().action = nullptr;
  Seams().result = E_ACCESSDENIED;
  const Sent failed = Send(u"CreateAnnotation");
  EXPECT_EQ(failed.hr, E_ACCESSDENIED);
  EXPECT_EQ(failed.response->end_calls(), 0);
  EXPECT_EQ(main().m_pRequestContext, failed.context.get());
  EXPECT_EQ(main().m_pResponse, static_cast<IKXQResponse*>(failed.response.get()));
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  const std::string text = Narrow(description);
  SysFreeString(description);
  info->Release();
  EXPECT_EQ(text.rfind("<KXError ", 0), 0u) << text;
  EXPECT_NE(text.find("recorded worker failed"), std::string::npos) << text;
  EXPECT_NE(text.find("HR=\"E_ACCESSDENIED\""), std::string::npos) << text;

  // The next request replaces both.
  Seams().result = S_OK;
  const Sent next = Send(u"CreateAnnotation");
  EXPECT_EQ(next.hr, S_OK);
  EXPECT_EQ(main().m_pRequestContext, nullptr);
}

// A worker that added attributes and then failed before writing their
// element leaves them pending; they must not turn up on the first element
// of a later request's reply.
TEST_F(RequestProtocolTest, AttributesOfAFailedRequestDoNotReachTheNextReply) {
  Seams().action = [](MainContext& m) -> HRESULT {
    _bstr_t value(u"stale");
    XMLReply::AddStringAttribute(m, u"Pending", value);
    XMLReply::AddLongAttribute(m, u"DocumentId", 99);
    return kx_set_error_info(E_FAIL, u"store refused", u"moduletest");
  };
  ASSERT_EQ(Send(u"CreateAnnotation").hr, E_FAIL);
  Seams().action = &WriteAlert;
  const Sent next = Send(u"CreateAnnotation");
  ASSERT_EQ(next.hr, S_OK);
  EXPECT_EQ(kx_utf16_to_utf8_lossy(next.response->text()),
            "<XMLMessage TargetId=\"App\"><Message MessageType=\"ALERT\">Value out of "
            "range</Message></XMLMessage>");
}

TEST_F(RequestProtocolTest, FalseResultCountsAsSuccess) {
  Seams().action = &WriteAlert;
  ASSERT_EQ(Send(u"CreateAnnotation").hr, S_OK);
  Seams().action = nullptr;
  Seams().result = S_FALSE;
  const Sent sent = Send(u"CreateAnnotation");
  // A worker's success other than S_OK is the handler's answer.
  EXPECT_EQ(sent.hr, S_FALSE);
  EXPECT_EQ(sent.response->end_calls(), 1);
  EXPECT_EQ(main().m_pRequestContext, nullptr);
}

TEST_F(RequestProtocolTest, UnknownNameWritesNothingAndKeepsTheContext) {
  Seams().action = &WriteAlert;
  ASSERT_EQ(Send(u"CreateAnnotation").hr, S_OK);
  const Sent sent = Send(u"NoSuchMessage");
  EXPECT_EQ(sent.hr, E_FAIL);
  EXPECT_EQ(sent.response->end_calls(), 0);
  EXPECT_TRUE(sent.response->text().empty());
  EXPECT_EQ(main().m_pRequestContext, sent.context.get());
  EXPECT_TRUE(Seams().calls.size() == 1u);
}

TEST_F(RequestProtocolTest, RequestWithExtraArgumentFailsForEveryName) {
  auto response = MakeRef<Response>();
  auto context = MakeRef<RequestContext>(response);
  VARIANT extra;
  VariantInit(&extra);
  for (const char16_t* name : {u"CreateAnnotation", u"NoSuchMessage"}) {
    _bstr_t messageName(name);
    _bstr_t text(u"<XMLMessage/>");
    EXPECT_EQ(service_->ProcessRequestWithResponse(messageName, text, context.get(), extra),
              E_FAIL);
    // Context kept and response taken, as by a request.
    EXPECT_EQ(main().m_pRequestContext, context.get());
    EXPECT_EQ(main().m_pResponse, static_cast<IKXQResponse*>(response.get()));
  }
  EXPECT_TRUE(Seams().calls.empty());
}

TEST_F(RequestProtocolTest, StaleErrorInformationDoesNotLeakIntoARequest) {
  kx_set_error_info(E_FAIL, u"left over from an earlier call");
  const Sent sent = Send(u"NoSuchMessage");
  ASSERT_EQ(sent.hr, E_FAIL);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  const std::string text = Narrow(description);
  SysFreeString(description);
  info->Release();
  EXPECT_EQ(text.find("left over"), std::string::npos) << text;
}

// Detached, the module has no application to serve a request with: both
// request operations refuse before any worker runs; attached again, it
// serves them.
TEST_F(RequestProtocolTest, DetachedModuleRefusesRequestsUntilAttachedAgain) {
  ASSERT_EQ(service_->Detach(), S_OK);
  const Sent sent = Send(u"CreateAnnotation");
  EXPECT_EQ(sent.hr, E_FAIL);
  EXPECT_TRUE(Seams().calls.empty());
  EXPECT_TRUE(sent.response->text().empty());
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  const std::string text = Narrow(description);
  SysFreeString(description);
  info->Release();
  EXPECT_EQ(text.rfind("<KXError Desc=\"Not attached to a host application\" HR=\"E_FAIL\"", 0), 0u)
      << text;
  VARIANT extra;
  VariantInit(&extra);
  _bstr_t name(u"CreateAnnotation");
  _bstr_t body(u"<XMLMessage/>");
  EXPECT_EQ(service_->ProcessRequestWithResponse(name, body, sent.context.get(), extra), E_FAIL);
  ASSERT_EQ(host_.Attach(service_.get()), S_OK);
  EXPECT_EQ(Send(u"CreateAnnotation").hr, S_OK);
  EXPECT_EQ(Seams().calls.size(), 1u);
}

// Detached, what never reaches a handler answers as it does attached: an
// unknown name is still "not found" (the context kept), and the request
// with an extra argument still fails without error text.
TEST_F(RequestProtocolTest, DetachedModuleAnswersAsAttachedWhereNoHandlerRuns) {
  ASSERT_EQ(service_->Detach(), S_OK);
  const Sent unknown = Send(u"NoSuchMessage");
  EXPECT_EQ(unknown.hr, E_FAIL);
  EXPECT_EQ(main().m_pRequestContext, unknown.context.get());
  EXPECT_EQ(main().m_pResponse, static_cast<IKXQResponse*>(unknown.response.get()));
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  const std::string text = Narrow(description);
  SysFreeString(description);
  info->Release();
  EXPECT_EQ(text.rfind("<KXError Desc=\"Data service request handler not found\"", 0), 0u) << text;

  VARIANT extra;
  VariantInit(&extra);
  _bstr_t name(u"CreateAnnotation");
  _bstr_t body(u"<XMLMessage/>");
  EXPECT_EQ(service_->ProcessRequestWithResponse(name, body, unknown.context.get(), extra), E_FAIL);
  info = nullptr;
  EXPECT_NE(GetErrorInfo(0, &info), S_OK);
  if (info != nullptr) info->Release();
  EXPECT_TRUE(Seams().calls.empty());
}

TEST(MainAttach, SecondAttachKeepsOneReferenceToTheApplication) {
  kx::host::Host host;
  auto service = CreateInProcessMain();
  ASSERT_EQ(host.Attach(service.get()), S_OK);
  IKXQApplication* application = MainOf(service.get()).m_pApplication;
  ASSERT_EQ(application, static_cast<IKXQApplication*>(&host.application()));
  application->AddRef();
  const ULONG before = application->Release();
  EXPECT_EQ(service->Attach(application), S_OK);
  application->AddRef();
  EXPECT_EQ(application->Release(), before);
  EXPECT_EQ(service->Detach(), S_OK);
  EXPECT_EQ(MainOf(service.get()).m_pApplication, nullptr);
  host.Detach();
}

}  // namespace
