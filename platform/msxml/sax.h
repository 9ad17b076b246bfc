// The SAX reader's interfaces: a push parser that reports an XML text to a
// content handler as it reads it, and its errors to an error handler.
//
// Text contract: every text handed to a handler is UTF-16 with its length in
// code units; the length is authoritative, and the reader also puts a zero
// after each text as a convenience. Texts are valid only during the call that
// passes them; a handler that keeps one copies it. No namespace processing:
// a local name is the name as written (prefix included), the qualified name
// is the same text and every namespace URI is empty.
//
// The reader is created by class id (CLSID_SAXXMLReader60 in com/clsids.h)
// through CoCreateInstance; its library exports DllGetClassObject.
#pragma once

#include "com/types.h"
#include "com/variant.h"

struct ISAXLocator;
struct ISAXAttributes;

// Where the event being reported comes from. Lines and columns are 1-based;
// a column counts characters (a surrogate pair is one). Valid during a
// parse; after it, the last position reported.
struct ISAXLocator : IUnknown {
  virtual HRESULT getColumnNumber(int* column) = 0;
  virtual HRESULT getLineNumber(int* line) = 0;
  // *id is set to a static empty text: there are no external entities.
  virtual HRESULT getPublicId(const char16_t** id) = 0;
  virtual HRESULT getSystemId(const char16_t** id) = 0;

 protected:
  ~ISAXLocator() = default;
};
KX_DEFINE_IID(ISAXLocator, 0xcb8e5abb, 0x7c36, 0x4600, 0x89, 0x69, 0x28, 0x6f, 0xea, 0xff, 0xa6,
              0xf8)

// The attributes of the element being started, in document order. Valid only
// during the startElement call that passes it: the reader reuses the object.
// Indices run from 0 to length - 1; others give E_INVALIDARG. Out pointers
// must be non-null (E_POINTER). A lookup of a missing name gives E_INVALIDARG
// (and -1 for the index forms).
struct ISAXAttributes : IUnknown {
  virtual HRESULT getLength(int* length) = 0;
  virtual HRESULT getURI(int index, const char16_t** uri, int* cchUri) = 0;
  virtual HRESULT getLocalName(int index, const char16_t** localName, int* cchLocalName) = 0;
  virtual HRESULT getQName(int index, const char16_t** qName, int* cchQName) = 0;
  virtual HRESULT getName(int index, const char16_t** uri, int* cchUri, const char16_t** localName,
                          int* cchLocalName, const char16_t** qName, int* cchQName) = 0;
  virtual HRESULT getIndexFromName(const char16_t* uri, int cchUri, const char16_t* localName,
                                   int cchLocalName, int* index) = 0;
  virtual HRESULT getIndexFromQName(const char16_t* qName, int cchQName, int* index) = 0;
  // Every attribute is of type "CDATA" (there is no DTD).
  virtual HRESULT getType(int index, const char16_t** type, int* cchType) = 0;
  virtual HRESULT getTypeFromName(const char16_t* uri, int cchUri, const char16_t* localName,
                                  int cchLocalName, const char16_t** type, int* cchType) = 0;
  virtual HRESULT getTypeFromQName(const char16_t* qName, int cchQName, const char16_t** type,
                                   int* cchType) = 0;
  virtual HRESULT getValue(int index, const char16_t** value, int* cchValue) = 0;
  virtual HRESULT getValueFromName(const char16_t* uri, int cchUri, const char16_t* localName,
                                   int cchLocalName, const char16_t** value, int* cchValue) = 0;
  virtual HRESULT getValueFromQName(const char16_t* qName, int cchQName, const char16_t** value,
                                    int* cchValue) = 0;

 protected:
  ~ISAXAttributes() = default;
};
KX_DEFINE_IID(ISAXAttributes, 0xb8aa48a2, 0xebd5, 0x479a, 0x90, 0x93, 0xe8, 0x05, 0xeb, 0xef, 0x0a,
              0x51)

// Receives the document's content. A method that returns a failure stops the
// parse, and parse returns that code unchanged; success codes other than S_OK
// count as success. The reader holds a reference to the handler for the
// whole parse.
struct ISAXContentHandler : IUnknown {
  // Called once per parse, first. The locator may be kept (AddRef).
  virtual HRESULT putDocumentLocator(ISAXLocator* locator) = 0;
  virtual HRESULT startDocument() = 0;
  // Called only when the whole document was read without failure.
  virtual HRESULT endDocument() = 0;
  // Never called: there is no namespace processing.
  virtual HRESULT startPrefixMapping(const char16_t* prefix, int cchPrefix, const char16_t* uri,
                                     int cchUri) = 0;
  virtual HRESULT endPrefixMapping(const char16_t* prefix, int cchPrefix) = 0;
  virtual HRESULT startElement(const char16_t* nsUri, int cchNsUri, const char16_t* localName,
                               int cchLocalName, const char16_t* qName, int cchQName,
                               ISAXAttributes* attributes) = 0;
  virtual HRESULT endElement(const char16_t* nsUri, int cchNsUri, const char16_t* localName,
                             int cchLocalName, const char16_t* qName, int cchQName) = 0;
  // Character data, references decoded and line ends normalised; one run of
  // text may arrive in several pieces, never in an empty one.
  virtual HRESULT characters(const char16_t* chars, int cchChars) = 0;
  // Never called: without a DTD all white space is character data.
  virtual HRESULT ignorableWhitespace(const char16_t* chars, int cchChars) = 0;
  virtual HRESULT processingInstruction(const char16_t* target, int cchTarget, const char16_t* data,
                                        int cchData) = 0;
  // Never called: an undeclared entity is a fatal error.
  virtual HRESULT skippedEntity(const char16_t* name, int cchName) = 0;

 protected:
  ~ISAXContentHandler() = default;
};
KX_DEFINE_IID(ISAXContentHandler, 0x7d0db88d, 0x4fac, 0x404a, 0x83, 0x70, 0x40, 0xf5, 0xb3, 0xfa,
              0x7b, 0x89)

// Receives the errors of a parse. `message` is the reader's text (for
// malformed XML, expat's), valid during the call; `code` the failure code.
// The reader reports only fatal errors, once per parse; parse then returns
// `code`, or what the handler returned when that is a different failure.
struct ISAXErrorHandler : IUnknown {
  virtual HRESULT error(ISAXLocator* locator, const char16_t* message, HRESULT code) = 0;
  virtual HRESULT fatalError(ISAXLocator* locator, const char16_t* message, HRESULT code) = 0;
  virtual HRESULT ignorableWarning(ISAXLocator* locator, const char16_t* message, HRESULT code) = 0;

 protected:
  ~ISAXErrorHandler() = default;
};
KX_DEFINE_IID(ISAXErrorHandler, 0x2f84c527, 0xb289, 0x46fc, 0xa8, 0x6e, 0x86, 0x4e, 0x53, 0x3c,
              0x19, 0x36)

// The reader. One parse at a time: parse called while one runs (from inside
// a handler, or on another thread) fails with E_UNEXPECTED. Handlers stay set
// after a parse until the caller puts null; changing them during a parse
// takes effect at the next. Setting handlers or properties is not
// synchronised with a parse on another thread; the reference count is
// atomic, so the reader may be released on any thread.
struct ISAXXMLReader : IUnknown {
  // Features (VARIANT_BOOL), all fixed: "prohibit-dtd" is true,
  // "http://xml.org/sax/features/namespaces", ".../namespace-prefixes",
  // ".../external-general-entities" and ".../external-parameter-entities"
  // are false. Putting the value a feature has succeeds, another value gives
  // E_NOTIMPL, an unknown name E_INVALIDARG.
  virtual HRESULT getFeature(const char16_t* name, VARIANT_BOOL* value) = 0;
  virtual HRESULT putFeature(const char16_t* name, VARIANT_BOOL value) = 0;
  // Properties (VT_I4): "max-element-depth" (1 to 1024, default 1024) and
  // "max-xml-size" (in KiB, 1 to 65536, default 65536). Others E_INVALIDARG.
  virtual HRESULT getProperty(const char16_t* name, VARIANT* value) = 0;
  virtual HRESULT putProperty(const char16_t* name, VARIANT value) = 0;
  virtual HRESULT getContentHandler(ISAXContentHandler** handler) = 0;  // AddRef'd, may be null
  virtual HRESULT putContentHandler(ISAXContentHandler* handler) = 0;   // null clears
  virtual HRESULT getErrorHandler(ISAXErrorHandler** handler) = 0;      // AddRef'd, may be null
  virtual HRESULT putErrorHandler(ISAXErrorHandler* handler) = 0;       // null clears
  // Parses an XML text. `input` is VT_BSTR (the whole document as UTF-16; an
  // encoding declaration in it is ignored) or VT_UNKNOWN/VT_DISPATCH of an
  // ISequentialStream or IStream (bytes, encoding from the byte-order mark
  // or declaration, default UTF-8), read to its end; a failed Read ends the
  // parse with its code, before any handler call. The caller keeps ownership
  // of `input`.
  virtual HRESULT parse(VARIANT input) = 0;
  // Parses a file: a path, or a "file://" URL with an empty or "localhost"
  // host. Backslashes are path separators. Other URL schemes: E_NOTIMPL.
  virtual HRESULT parseURL(const char16_t* url) = 0;

 protected:
  ~ISAXXMLReader() = default;
};
KX_DEFINE_IID(ISAXXMLReader, 0x9af588b2, 0xe012, 0x43a5, 0xbe, 0xd8, 0x72, 0x08, 0x04, 0x36, 0xf6,
              0x69)

// Failure codes of the reader, reported to fatalError and returned by parse.
// Stable: callers may test them.
inline constexpr HRESULT KXSAX_E_MALFORMED = static_cast<HRESULT>(0xC00CE501);  // expat's error
inline constexpr HRESULT KXSAX_E_DTD_PROHIBITED = static_cast<HRESULT>(0xC00CE502);
inline constexpr HRESULT KXSAX_E_TOO_LARGE = static_cast<HRESULT>(0xC00CE503);
inline constexpr HRESULT KXSAX_E_TOO_DEEP = static_cast<HRESULT>(0xC00CE504);
inline constexpr HRESULT KXSAX_E_INVALID_UTF16 = static_cast<HRESULT>(0xC00CE505);
inline constexpr HRESULT KXSAX_E_ENTITY_REFUSED = static_cast<HRESULT>(0xC00CE506);
inline constexpr HRESULT KXSAX_E_OPEN_FAILED = static_cast<HRESULT>(0xC00CE507);

// The hard limits, which the properties can only lower.
inline constexpr int kSaxMaxElementDepth = 1024;
inline constexpr long kSaxMaxDocumentBytes = 64L * 1024 * 1024;  // UTF-8 bytes
