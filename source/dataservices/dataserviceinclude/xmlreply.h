// The reply writer: how a message handler writes its XML reply into the
// response of the request being served, element by element. The host
// renders the calls as text.
//
// State lives in the module's `HostConnection`: the response (held only
// while a request is served) and the attribute list, made by the first reply
// write of the object's life and reused for every later reply. Attributes added
// belong to the next element started or written; the list is cleared right
// after that element was handed to the response (not after a failed one).
//
// Every function throws KXComException on failure (E_FAIL "Cannot access the
// KXQResponse object to write to it" without a response; the response's
// own HRESULT and error information when it refuses an element or the end
// of the reply). Failures of begin-reply, add, element text and flush are
// not examined. Names are copied; values passed as BSTR are borrowed.
#pragma once

#include "com/oleauto.h"

class HostConnection;

namespace XMLReply {

// Makes the attribute list when none is held (calling the response's
// begin-reply first).
void EnsureAttributes(HostConnection& host);
// Adds a VT_BSTR attribute holding `value` as it is (null is the empty
// string).
void AddStringAttribute(HostConnection& host, const OLECHAR* name, BSTR value);
// Adds a VT_I4 attribute.
void AddLongAttribute(HostConnection& host, const OLECHAR* name, LONG value);
void StartElement(HostConnection& host, const OLECHAR* name);
void EndElement(HostConnection& host, const OLECHAR* name);
// A whole element; a null text gives an element without text.
void WriteElement(HostConnection& host, const OLECHAR* name, BSTR text);

// The whole reply as plain text rather than XML (a help text, a name):
// `text` (null is empty) goes to the response unchanged.
void SendText(HostConnection& host, const OLECHAR* text);

// Opens the reply root "XMLMessage" with "TargetId" (a copy of `targetId`;
// null gives a null string) and "Status" unless `status` is -1, then
// flushes.
void BeginMessage(HostConnection& host, const OLECHAR* targetId, LONG status);
// Flushes, closes "XMLMessage" and ends the reply.
void EndMessage(HostConnection& host);
// The "Message" element of an alert ("ALERT") or question ("QUESTION"):
// "MessageType", "DocumentId" unless `documentId` is -1, and `text` as its
// text. Neither begins nor ends the reply root.
void WriteMessage(HostConnection& host, const OLECHAR* messageType, LONG documentId, BSTR text);

}  // namespace XMLReply
