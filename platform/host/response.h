// The reply side of a request: the request context, the response the module
// writes its reply into, and the attribute lists it hands to the response.
//
// The module drives the response element by element; the host renders the
// calls as XML text. The host is tolerant of how modules use it:
//  - a reply starts at its first element whether or not BeginXMLReply was
//    called on this response;
//  - EndReply may be called any number of times, also when nothing was
//    written;
//  - an attribute list obtained from one response may be used with any later
//    response (modules keep one list for their whole life);
//  - SendText splices raw XML text at the current point of the reply;
//  - the partial reply of a failed request is discarded by the host.
#pragma once

#include "com/dispatch.h"
#include "com/oleauto.h"

struct IKXQResponse;

// A list of attributes for the next element. Lists are not tied to the
// response that made them.
struct IKXQXMLAttributes : IDispatch {
  // Appends an attribute. `name` is borrowed and copied; `value` is borrowed
  // and copied (the caller keeps ownership of what it holds). Supported
  // value types: VT_BSTR (null = empty), VT_I4, VT_I2, VT_INT, VT_R8, VT_R4,
  // VT_BOOL; others fail with DISP_E_BADVARTYPE and add nothing. A name that
  // is not an XML name fails with E_INVALIDARG. Adding a name already in the
  // list replaces its value, so an element never has an attribute twice.
  virtual HRESULT Add(BSTR name, VARIANT value) = 0;

  // Removes every attribute.
  virtual HRESULT Clear() = 0;

  // Number of attributes held.
  virtual HRESULT get_Count(LONG* count) = 0;

  // The attribute at a 0-based position. `*name` receives a new BSTR and
  // `*value` the value's text as rendered in a reply, as VT_BSTR (the
  // VARIANT must be initialised; it is cleared first); the caller frees
  // both. E_INVALIDARG outside 0..count-1.
  virtual HRESULT GetAttribute(LONG index, BSTR* name, VARIANT* value) = 0;

 protected:
  ~IKXQXMLAttributes() = default;
};
KX_DEFINE_IID(IKXQXMLAttributes, 0xf0364019, 0x1e34, 0x4716, 0x91, 0xf9, 0xf3, 0xfb, 0x65, 0xc3,
              0xcb, 0x9c)

struct IKXQResponse : IDispatch {
  // Appends `text` (borrowed) to the reply unchanged: raw XML or, for replies
  // that are not XML, the whole plain-text reply.
  virtual HRESULT SendText(BSTR text) = 0;

  // Marks the start of an XML reply. Optional (see above); repeated calls do
  // nothing.
  virtual HRESULT BeginXMLReply() = 0;

  // Ends the reply: closes every element still open. Idempotent.
  virtual HRESULT EndReply() = 0;

  // A new, empty attribute list. `*attributes` receives an AddRef'd pointer
  // that the caller releases.
  virtual HRESULT NewAttributes(IKXQXMLAttributes** attributes) = 0;

  // Opens element `name` with the attributes of `attributes` (borrowed, may
  // be null). The list is read, not cleared. E_INVALIDARG for an empty name.
  // Elements written after EndReply follow the ended reply as further
  // top-level elements.
  virtual HRESULT StartElement(BSTR name, IKXQXMLAttributes* attributes) = 0;

  // Closes element `name`, which must be the innermost open element
  // (E_INVALIDARG otherwise).
  virtual HRESULT EndElement(BSTR name) = 0;

  // Appends `text` (borrowed) as escaped character data of the innermost
  // open element.
  virtual HRESULT ElementText(BSTR text) = 0;

  // Writes element `name` with `attributes` (borrowed, may be null) and, when
  // `text` is not null, `text` as its escaped content; a null text gives an
  // empty element.
  virtual HRESULT WriteElement(BSTR name, IKXQXMLAttributes* attributes, BSTR text) = 0;

  // Hands what was written so far on to the client. The host keeps replies
  // whole until the request has succeeded, so this only marks a point.
  virtual HRESULT Flush() = 0;

  // Answers the request with a file instead of text. `path` is borrowed and
  // may use "\" separators. `binary` is VT_BOOL: VARIANT_TRUE for a binary
  // file (bitmap, source, stored data), VARIANT_FALSE for a text file.
  virtual HRESULT SendFile(BSTR path, VARIANT binary) = 0;

 protected:
  ~IKXQResponse() = default;
};
KX_DEFINE_IID(IKXQResponse, 0x8e4933f0, 0xa763, 0x4487, 0xb0, 0xad, 0x0a, 0xe4, 0xf1, 0x8c, 0x5d,
              0x6f)

// The context of one request. The module may keep it after the request (a
// failed request's context is held until the next one).
struct IKXQRequestContext : IDispatch {
  // The response of this request: `*response` receives an AddRef'd pointer
  // that the caller releases.
  virtual HRESULT get_Response(IKXQResponse** response) = 0;

  // Tells the host that a page of the request switched to a continuous
  // format. The host takes no action on it.
  virtual HRESULT NotifyFormatChange() = 0;

  // Hands the host the address of caller storage that lives as long as the
  // current page load. The host neither reads nor writes it.
  virtual HRESULT RegisterLoadStorage(void* storage) = 0;

  // Reports a text (borrowed) about the request to the user without failing
  // it; the host collects the texts with the request's result.
  virtual HRESULT Report(BSTR text) = 0;

 protected:
  ~IKXQRequestContext() = default;
};
KX_DEFINE_IID(IKXQRequestContext, 0x847bedd3, 0x491c, 0x431c, 0x9e, 0xac, 0x9e, 0x3c, 0x59, 0x1a,
              0x03, 0xfb)
