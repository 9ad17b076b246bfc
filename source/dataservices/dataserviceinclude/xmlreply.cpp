#include "xmlreply.h"

#include "com/comutil.h"
#include "host/response.h"
#include "kxcomexception.h"
#include "kxqdataserviceimpl.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/dataserviceinclude/xmlreply";

[[noreturn]] void ThrowNoResponse(KXComException& ctx, int line) {
  ThrowKXComExceptionHrAt(ctx, SourceLocation{kFile, line}, E_FAIL,
                          u"Cannot access the KXQResponse object to write to it");
}

// The response of the request being served. Checked before every use, not
// only when the attribute list is made: the list outlives the requests.
IKXQResponse* RequireResponse(DataServicePart& part, KXComException& ctx, int line) {
  if (part.m_pResponse == nullptr) ThrowNoResponse(ctx, line);
  return part.m_pResponse;
}

void AddAttribute(DataServicePart& part, const OLECHAR* name, const VARIANT& value) {
  XMLReply::EnsureAttributes(part);
  _bstr_t attributeName(name);
  (void)part.m_pReplyAttributes->Add(attributeName, value);
}

}  // namespace

namespace XMLReply {

void EnsureAttributes(DataServicePart& part) {
  if (part.m_pReplyAttributes != nullptr) return;
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(part, ctx, __LINE__);
  (void)response->BeginXMLReply();
  IKXQXMLAttributes* attributes = nullptr;
  KX_CHECK(ctx, response->NewAttributes(&attributes));
  if (attributes == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Cannot access the KXQResponse object to write to it");
  }
  part.m_pReplyAttributes = attributes;
}

void AddStringAttribute(DataServicePart& part, const OLECHAR* name, BSTR value) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = value;
  AddAttribute(part, name, v);
}

void AddLongAttribute(DataServicePart& part, const OLECHAR* name, LONG value) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = value;
  AddAttribute(part, name, v);
}

void SendText(DataServicePart& part, const OLECHAR* text) {
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(part, ctx, __LINE__);
  _bstr_t reply(text != nullptr ? text : u"");
  KX_CHECK(ctx, response->SendText(reply));
}

void StartElement(DataServicePart& part, const OLECHAR* name) {
  EnsureAttributes(part);
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(part, ctx, __LINE__);
  _bstr_t elementName(name);
  KX_CHECK(ctx, response->StartElement(elementName, part.m_pReplyAttributes));
  (void)part.m_pReplyAttributes->Clear();
}

void EndElement(DataServicePart& part, const OLECHAR* name) {
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(part, ctx, __LINE__);
  _bstr_t elementName(name);
  KX_CHECK(ctx, response->EndElement(elementName));
}

void WriteElement(DataServicePart& part, const OLECHAR* name, BSTR text) {
  EnsureAttributes(part);
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(part, ctx, __LINE__);
  _bstr_t elementName(name);
  KX_CHECK(ctx, response->WriteElement(elementName, part.m_pReplyAttributes, text));
  (void)part.m_pReplyAttributes->Clear();
}

void BeginMessage(DataServicePart& part, const OLECHAR* targetId, LONG status) {
  EnsureAttributes(part);
  // A copy: the attribute list receives a real BSTR whatever the caller has.
  _bstr_t target(targetId);
  AddStringAttribute(part, u"TargetId", target);
  if (static_cast<ULONG>(status) != 0xFFFFFFFFu) AddLongAttribute(part, u"Status", status);
  StartElement(part, u"XMLMessage");
  (void)part.m_pResponse->Flush();
}

void EndMessage(DataServicePart& part) {
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(part, ctx, __LINE__);
  (void)response->Flush();
  EndElement(part, u"XMLMessage");
  KX_CHECK(ctx, response->EndReply());
}

void WriteMessage(DataServicePart& part, const OLECHAR* messageType, LONG documentId,
                  BSTR text) {
  _bstr_t type(messageType);
  AddStringAttribute(part, u"MessageType", type);
  if (static_cast<ULONG>(documentId) != 0xFFFFFFFFu) {
    AddLongAttribute(part, u"DocumentId", documentId);
  }
  StartElement(part, u"Message");
  (void)part.m_pResponse->ElementText(text);
  EndElement(part, u"Message");
}

}  // namespace XMLReply
