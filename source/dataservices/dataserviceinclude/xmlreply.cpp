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
IKXQResponse* RequireResponse(HostConnection& host, KXComException& ctx, int line) {
  if (host.m_pResponse == nullptr) ThrowNoResponse(ctx, line);
  return host.m_pResponse;
}

void AddAttribute(HostConnection& host, const OLECHAR* name, const VARIANT& value) {
  XMLReply::EnsureAttributes(host);
  _bstr_t attributeName(name);
  (void)host.m_pReplyAttributes->Add(attributeName, value);
}

}  // namespace

namespace XMLReply {

void EnsureAttributes(HostConnection& host) {
  if (host.m_pReplyAttributes != nullptr) return;
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(host, ctx, __LINE__);
  (void)response->BeginXMLReply();
  IKXQXMLAttributes* attributes = nullptr;
  KX_CHECK(ctx, response->NewAttributes(&attributes));
  if (attributes == nullptr) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Cannot access the KXQResponse object to write to it");
  }
  host.m_pReplyAttributes = attributes;
}

void AddStringAttribute(HostConnection& host, const OLECHAR* name, BSTR value) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = value;
  AddAttribute(host, name, v);
}

void AddLongAttribute(HostConnection& host, const OLECHAR* name, LONG value) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = value;
  AddAttribute(host, name, v);
}

void SendText(HostConnection& host, const OLECHAR* text) {
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(host, ctx, __LINE__);
  _bstr_t reply(text != nullptr ? text : u"");
  KX_CHECK(ctx, response->SendText(reply));
}

void StartElement(HostConnection& host, const OLECHAR* name) {
  EnsureAttributes(host);
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(host, ctx, __LINE__);
  _bstr_t elementName(name);
  KX_CHECK(ctx, response->StartElement(elementName, host.m_pReplyAttributes));
  (void)host.m_pReplyAttributes->Clear();
}

void EndElement(HostConnection& host, const OLECHAR* name) {
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(host, ctx, __LINE__);
  _bstr_t elementName(name);
  KX_CHECK(ctx, response->EndElement(elementName));
}

void WriteElement(HostConnection& host, const OLECHAR* name, BSTR text) {
  EnsureAttributes(host);
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(host, ctx, __LINE__);
  _bstr_t elementName(name);
  KX_CHECK(ctx, response->WriteElement(elementName, host.m_pReplyAttributes, text));
  (void)host.m_pReplyAttributes->Clear();
}

void BeginMessage(HostConnection& host, const OLECHAR* targetId, LONG status) {
  EnsureAttributes(host);
  // A copy: the attribute list receives a real BSTR whatever the caller has.
  _bstr_t target(targetId);
  AddStringAttribute(host, u"TargetId", target);
  if (static_cast<ULONG>(status) != 0xFFFFFFFFu) AddLongAttribute(host, u"Status", status);
  StartElement(host, u"XMLMessage");
  (void)host.m_pResponse->Flush();
}

void EndMessage(HostConnection& host) {
  KXComException ctx = KXComException::Silent();
  IKXQResponse* response = RequireResponse(host, ctx, __LINE__);
  (void)response->Flush();
  EndElement(host, u"XMLMessage");
  KX_CHECK(ctx, response->EndReply());
}

void WriteMessage(HostConnection& host, const OLECHAR* messageType, LONG documentId, BSTR text) {
  _bstr_t type(messageType);
  AddStringAttribute(host, u"MessageType", type);
  if (static_cast<ULONG>(documentId) != 0xFFFFFFFFu) {
    AddLongAttribute(host, u"DocumentId", documentId);
  }
  StartElement(host, u"Message");
  (void)host.m_pResponse->ElementText(text);
  EndElement(host, u"Message");
}

}  // namespace XMLReply
