#include "saxschemaparser.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "com/activation.h"
#include "com/bstr.h"
#include "com/clsids.h"
#include "com/comutil.h"
#include "com/errorinfo.h"
#include "com/types.h"
#include "com/variant.h"
#include "com/wstr.h"
#include "kxcomexception.h"
#include "kxtrace.h"
#include "msxml/sax.h"
#include "otherdigits.h"

namespace {

const OLECHAR kFile[] = u"source/globalinclude/saxschemaparser";

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

// True when `name` (length `length`) equals the zero-terminated `recordName`
// in full. ASCII letters only are folded when `noCase` is set.
bool NameMatches(const OLECHAR* recordName, const OLECHAR* name, int32_t length, bool noCase) {
  if (recordName == nullptr || name == nullptr || length < 0) return false;
  for (int32_t i = 0; i < length; ++i) {
    char16_t r = recordName[i];
    if (r == 0) return false;
    char16_t n = name[i];
    if (noCase ? FoldAscii(r) != FoldAscii(n) : r != n) return false;
  }
  return recordName[length] == 0;
}

bool IsElementRecord(const GrammarRecord& r) {
  return r.kind == kGrammarElement ||
         (r.kind >= kGrammarStringElement && r.kind <= kGrammarBooleanElement);
}

bool IsAttributeRecord(const GrammarRecord& r) {
  return r.kind >= kGrammarStringAttribute && r.kind <= kGrammarBooleanAttribute;
}

bool EqualsNoCase(const OLECHAR* text, const char16_t* word) {
  for (; *word != 0; ++text, ++word) {
    if (*text == 0 || FoldAscii(*text) != FoldAscii(*word)) return false;
  }
  return *text == 0;
}

// Activating the reader costs more than parsing a typical request, so the
// module keeps the reader of its last parse for the next one. A parse inside
// a parse (a worker reading field data) finds the slot empty and activates a
// reader of its own. The slot holds one reference, dropped when the module
// unloads or by SAXSchemaParser::ReleaseSpareReader. It is one process-wide
// slot, not one per thread: thread-local storage in a library that is loaded
// and unloaded with dlopen is left dangling for the runtime's exit checks.
class SpareReaderSlot {
 public:
  ~SpareReaderSlot() { Reset(nullptr); }
  ISAXXMLReader* Take() { return m_reader.exchange(nullptr); }
  // Takes over the caller's reference; keeps the reader only when the slot is
  // empty.
  void Keep(ISAXXMLReader* reader) {
    ISAXXMLReader* expected = nullptr;
    if (!m_reader.compare_exchange_strong(expected, reader)) reader->Release();
  }
  void Reset(ISAXXMLReader* reader) {
    if (ISAXXMLReader* old = m_reader.exchange(reader)) old->Release();
  }

 private:
  std::atomic<ISAXXMLReader*> m_reader{nullptr};
};

SpareReaderSlot gSpareReader;

ISAXXMLReader* TakeSpareReader() { return gSpareReader.Take(); }

void KeepSpareReader(ISAXXMLReader* reader) { gSpareReader.Keep(reader); }

// An integer value of one to nine digits, the form met most, read without
// the general conversion: `*value` (fresh) as ConvertTextToVariant would set
// it but without the text, or false to leave the text to it.
bool ReadPlainInteger(const OLECHAR* text, int32_t length, SAXValue* value) {
  if (length < 1 || length > 9) return false;
  int32_t number = 0;
  for (int32_t i = 0; i < length; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    number = number * 10 + (text[i] - u'0');
  }
  value->type = kSAXInteger;
  value->integer = number;
  return true;
}

bool IsHexDigit(char16_t c) {
  return kx_iswdigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

}  // namespace

void SAXSchemaParser::ReleaseSpareReader() { gSpareReader.Reset(nullptr); }

// A text that is a whole number in another form ("0x10", not 0) is refused
// rather than read as what it does not mean.
HRESULT CheckIntegerText(const OLECHAR* text, const OLECHAR* what) {
  const OLECHAR* p = text;
  while (kx_iswspace(*p)) ++p;
  if (*p == u'+' || *p == u'-') ++p;
  const OLECHAR* end = p;
  while (kx_iswdigit(*end)) ++end;
  // "1٢" is no 1: another script's digit is no digit to stop at.
  const bool number = end != p && !IsOtherScriptDigit(end);
  const bool hexadecimal =
      number && p[0] == u'0' && (p[1] == u'x' || p[1] == u'X') && IsHexDigit(p[2]);
  const LONGLONG value = number ? _wtoi64(text) : 0;
  if (number && !hexadecimal && value >= INT32_MIN && value <= INT32_MAX) return S_OK;
  KXComException ctx = KXComException::Silent(u"SAXSchemaParser::CheckIntegerText");
  try {
    if (!number) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_TYPEMISMATCH,
                              u"'%ls' is not a number for %ls", text, what);
    }
    if (hexadecimal) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_TYPEMISMATCH,
                              u"'%ls' is not a decimal number for %ls", text, what);
    }
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), DISP_E_OVERFLOW, u"'%ls' is out of range for %ls",
                            text, what);
  }
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return ctx.Return();
}

HRESULT ConvertTextToVariant(SAXValue* value, uint32_t type, const OLECHAR* text) {
  if (value == nullptr) return E_POINTER;
  *value = SAXValue{};
  value->type = type;
  const OLECHAR* t = text != nullptr ? text : u"";
  switch (type) {
    case kSAXString: value->text = t; return S_OK;
    case kSAXReal:
      // The whole text must be the number: "1,5" or "12abc" is no real, in
      // any locale, and an out-of-range number is none either.
      if (*t == 0 || !kx_parse_double(t, &value->real)) {
        value->real = std::numeric_limits<double>::quiet_NaN();
        value->empty = 1;
      }
      return S_OK;
    case kSAXInteger:
      value->text = t;
      if (*t == 0) {
        value->empty = 1;
        return S_OK;
      }
      value->integer = _wtol(t);
      return S_OK;
    case kSAXBoolean: {
      static const char16_t* const kTrue[] = {u"1", u"true", u"on", u"yes", u"t"};
      static const char16_t* const kFalse[] = {u"0", u"false", u"off", u"no", u"f"};
      for (const char16_t* word : kTrue) {
        if (EqualsNoCase(t, word)) {
          value->boolean = 1;
          return S_OK;
        }
      }
      for (const char16_t* word : kFalse) {
        if (EqualsNoCase(t, word)) return S_OK;
      }
      value->empty = 1;
      return S_OK;
    }
    default: break;
  }
  KXComException ctx = KXComException::Silent(u"ConvertTextToVariant");
  try {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Unknown data type specified for conversion");
  }
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return ctx.Return();
}

void SAXText::Assign(const OLECHAR* text) {
  if (text == nullptr) {
    Reset();
    return;
  }
  m_text.assign(text);
  m_set = true;
}

void SAXText::Reset() {
  m_text.clear();
  m_set = false;
}

HRESULT DefaultSAXSchemaElementHandler::BeginElement(uint32_t) { return S_OK; }
HRESULT DefaultSAXSchemaElementHandler::EndElement(uint32_t) { return S_OK; }
HRESULT DefaultSAXSchemaElementHandler::GetChildHandler(uint32_t, SAXSchemaElementHandler**) {
  return S_OK;
}
HRESULT DefaultSAXSchemaElementHandler::EndChildElement(uint32_t, SAXSchemaElementHandler*) {
  return S_OK;
}
HRESULT DefaultSAXSchemaElementHandler::SetAttribute(uint32_t, const SAXValue&) { return S_OK; }
HRESULT DefaultSAXSchemaElementHandler::SetElementValue(uint32_t, const SAXValue&) { return S_OK; }
HRESULT DefaultSAXSchemaElementHandler::Characters(const OLECHAR*, int32_t) { return S_OK; }

namespace SAXSchemaParserImpl {

// Thrown inside a callback when a handler returned KXSAX_E_ABORT.
struct KXSAXAbortException {};
// Thrown inside a callback when a handler failed; the callback's context
// already holds the code and the handler's error information.
struct HandlerFailure {};

// Collects the text of a text-value element (kinds 4-7) and hands the
// converted value to the owner's SetElementValue when the element ends.
class SimpleElementHandler final : public SAXSchemaElementHandler {
 public:
  // `strictName` given: an integer text is checked as strict integers
  // check it, named so.
  void Set(SAXSchemaElementHandler* owner, uint32_t type, uint32_t id,
           const OLECHAR* strictName = nullptr) {
    m_owner = owner;
    m_type = type;
    m_id = id;
    m_strictName = type == kSAXInteger ? strictName : nullptr;
  }
  HRESULT BeginElement(uint32_t) override {
    m_text.clear();
    return S_OK;
  }
  HRESULT EndElement(uint32_t) override {
    if (m_owner == nullptr) return S_OK;
    SAXValue value;
    HRESULT hr = ConvertTextToVariant(&value, m_type, m_text.c_str());
    if (FAILED(hr)) return hr;
    if (m_strictName != nullptr && !value.empty) {
      hr = CheckIntegerText(value.text, (u"element " + std::u16string(m_strictName)).c_str());
      if (FAILED(hr)) return hr;
    }
    return m_owner->SetElementValue(m_id, value);
  }
  HRESULT GetChildHandler(uint32_t, SAXSchemaElementHandler**) override { return E_INVALIDARG; }
  HRESULT EndChildElement(uint32_t, SAXSchemaElementHandler*) override { return E_INVALIDARG; }
  HRESULT SetAttribute(uint32_t, const SAXValue&) override { return E_INVALIDARG; }
  HRESULT SetElementValue(uint32_t, const SAXValue&) override { return E_INVALIDARG; }
  HRESULT Characters(const OLECHAR* text, int32_t length) override {
    if (text == nullptr || length < 0) return S_OK;
    if (length == 0) {
      m_text.append(text);
    } else {
      m_text.append(text, static_cast<size_t>(length));
    }
    return S_OK;
  }
  void Release() {
    std::u16string().swap(m_text);
    m_owner = nullptr;
  }

 private:
  std::u16string m_text;
  SAXSchemaElementHandler* m_owner = nullptr;
  uint32_t m_type = 0;
  uint32_t m_id = 0;
  const OLECHAR* m_strictName = nullptr;
};

// Swallows an unknown element and everything inside it.
class IgnoreElementHandler final : public SAXSchemaElementHandler {
 public:
  HRESULT BeginElement(uint32_t) override { return S_OK; }
  HRESULT EndElement(uint32_t) override { return S_OK; }
  HRESULT GetChildHandler(uint32_t, SAXSchemaElementHandler** handler) override {
    if (handler != nullptr) *handler = this;
    return S_OK;
  }
  HRESULT EndChildElement(uint32_t, SAXSchemaElementHandler*) override { return S_OK; }
  HRESULT SetAttribute(uint32_t, const SAXValue&) override { return S_OK; }
  HRESULT SetElementValue(uint32_t, const SAXValue&) override { return S_OK; }
  HRESULT Characters(const OLECHAR*, int32_t) override { return S_OK; }
};

// The reader's content and error handler for one grammar. A COM object with
// a plain (single-thread) reference count; the parser holds one reference.
class ContentHandler final : public ISAXContentHandler, public ISAXErrorHandler {
 public:
  explicit ContentHandler(const GrammarRecord* grammar) : m_grammar(grammar) {}

  static HRESULT CreateInstance(const GrammarRecord* grammar, ContentHandler** out);

  // IUnknown (through the content part).
  HRESULT STDMETHODCALLTYPE QueryInterface(const IID& iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

  // ISAXContentHandler
  HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator* locator) override;
  HRESULT STDMETHODCALLTYPE startDocument() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE endDocument() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE startPrefixMapping(const OLECHAR*, int, const OLECHAR*, int) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE endPrefixMapping(const OLECHAR*, int) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE startElement(const OLECHAR* uri, int uriLength,
                                         const OLECHAR* localName, int localNameLength,
                                         const OLECHAR* qName, int qNameLength,
                                         ISAXAttributes* attributes) override;
  HRESULT STDMETHODCALLTYPE endElement(const OLECHAR* uri, int uriLength, const OLECHAR* localName,
                                       int localNameLength, const OLECHAR* qName,
                                       int qNameLength) override;
  HRESULT STDMETHODCALLTYPE characters(const OLECHAR* text, int length) override;
  HRESULT STDMETHODCALLTYPE ignorableWhitespace(const OLECHAR*, int) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE processingInstruction(const OLECHAR*, int, const OLECHAR*,
                                                  int) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE skippedEntity(const OLECHAR*, int) override { return S_OK; }

  // ISAXErrorHandler
  HRESULT STDMETHODCALLTYPE error(ISAXLocator* locator, const OLECHAR* message,
                                  HRESULT code) override;
  HRESULT STDMETHODCALLTYPE fatalError(ISAXLocator* locator, const OLECHAR* message,
                                       HRESULT code) override;
  HRESULT STDMETHODCALLTYPE ignorableWarning(ISAXLocator*, const OLECHAR*, HRESULT) override {
    return S_OK;
  }

  // One parse of `text` with `root` as root handler (SAXSchemaParser::ParseString).
  // `url` given: the file it names is parsed instead of `text`.
  HRESULT Run(BSTR text, SAXSchemaElementHandler* root, const OLECHAR* url = nullptr);

  // `strictFor` given: integers are strict, but for the values it checks
  // itself.
  void SetOptions(bool noCase, bool ignoreUnknown, const SAXSchemaParser* strictFor) {
    m_noCase = noCase;
    m_ignoreUnknown = ignoreUnknown;
    m_strictFor = strictFor;
  }
  bool aborted() const { return m_aborted; }

 private:
  struct Entry {
    const GrammarRecord* record;  // null for an ignored element
    SAXSchemaElementHandler* handler;
  };

  ~ContentHandler();

  void ResetErrorRecord(HRESULT hr);
  // Keeps the context's failure as the parse's error unless one is kept.
  void RecordFailure(KXComException& ctx);
  HRESULT PublishParseError(KXComException& ctx);

  const GrammarRecord* FindElement(const OLECHAR* name, int32_t length);
  bool IsAllowedChild(const GrammarRecord* parent, const GrammarRecord* child) const;
  bool IsStrictInteger(const GrammarRecord* record) const {
    return m_strictFor != nullptr && !m_strictFor->ChecksIntegerText(record->id);
  }
  const GrammarRecord* FindAttribute(const GrammarRecord* element, const OLECHAR* name,
                                     int32_t length) const;
  struct IndexedName {
    uint32_t at;     // the record's position in the grammar
    int32_t length;  // of its name
  };
  // The record of the first entry in [begin, end) whose name is `name`, or
  // null.
  const GrammarRecord* FindIndexed(const IndexedName* begin, const IndexedName* end,
                                   const OLECHAR* name, int32_t length) const;
  void BuildIndex();

  void DoStartElement(KXComException& ctx, const OLECHAR* name, int32_t length,
                      ISAXAttributes* attributes);
  void DoEndElement(KXComException& ctx);
  static void Check(KXComException& ctx, HRESULT hr);
  HRESULT Abort();
  HRESULT CallbackFailed(KXComException& ctx, const OLECHAR* activity, const OLECHAR* name,
                         int32_t length);
  HRESULT ReportReaderError(ISAXLocator* locator, const OLECHAR* message, HRESULT code,
                            const OLECHAR* format);

  ISAXLocator* m_locator = nullptr;  // held
  bool m_noCase = false;
  bool m_ignoreUnknown = true;
  const SAXSchemaParser* m_strictFor = nullptr;
  bool m_aborted = false;
  HRESULT m_recordHr = S_OK;           // the first failure of the parse
  IErrorInfo* m_recordInfo = nullptr;  // held; its description
  SimpleElementHandler m_simple;
  IgnoreElementHandler m_ignore;
  ULONG m_refs = 0;
  std::vector<Entry> m_stack;
  std::u16string m_value;  // an attribute's value, zero-terminated; kept for its room
  const GrammarRecord* m_grammar;
  // A handler that looks up many elements (a large request, or a parser
  // reused for record after record) indexes its grammar: the element
  // records, and the attribute records of each element definition, with
  // the lengths of their names, in table order, so that a lookup compares
  // only names of the right length and finds the record the walk of the
  // table finds. A handler used for a few elements never pays for it.
  static constexpr int kLookupsBeforeIndex = 8;
  int m_lookups = 0;
  bool m_indexed = false;
  std::vector<IndexedName> m_elements;
  std::vector<IndexedName> m_attributes;
  // By record position: the first of its attributes in m_attributes; the
  // next position's entry ends them.
  std::vector<uint32_t> m_firstAttribute;
};

}  // namespace SAXSchemaParserImpl

namespace SAXSchemaParserImpl {

HRESULT ContentHandler::CreateInstance(const GrammarRecord* grammar, ContentHandler** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  ContentHandler* handler = new (std::nothrow) ContentHandler(grammar);
  if (handler == nullptr) return E_OUTOFMEMORY;
  handler->AddRef();
  *out = handler;
  return S_OK;
}

ContentHandler::~ContentHandler() {
  if (m_recordInfo != nullptr) m_recordInfo->Release();
  if (m_locator != nullptr) m_locator->Release();
}

HRESULT ContentHandler::QueryInterface(const IID& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_ISAXContentHandler) {
    *out = static_cast<ISAXContentHandler*>(this);
  } else if (iid == IID_ISAXErrorHandler) {
    *out = static_cast<ISAXErrorHandler*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT ContentHandler::putDocumentLocator(ISAXLocator* locator) {
  if (locator != nullptr) locator->AddRef();
  if (m_locator != nullptr) m_locator->Release();
  m_locator = locator;
  return S_OK;
}

void ContentHandler::ResetErrorRecord(HRESULT hr) {
  m_recordHr = hr;
  if (m_recordInfo != nullptr) {
    m_recordInfo->Release();
    m_recordInfo = nullptr;
  }
}

void ContentHandler::RecordFailure(KXComException& ctx) {
  if (FAILED(m_recordHr)) return;  // only the first failure of a parse is kept
  ResetErrorRecord(ctx.hr);
  m_recordInfo = ctx.errorInfo;
  if (m_recordInfo != nullptr) m_recordInfo->AddRef();
}

void ContentHandler::BuildIndex() {
  auto lengthOf = [](const GrammarRecord& r) {
    return static_cast<int32_t>(std::char_traits<char16_t>::length(r.name));
  };
  size_t count = 1;
  while (m_grammar[count].kind != kGrammarEnd) ++count;
  m_elements.clear();
  m_attributes.clear();
  m_firstAttribute.assign(count + 1, 0);
  for (size_t at = 1; at < count; ++at) {
    const GrammarRecord& element = m_grammar[at];
    m_firstAttribute[at] = static_cast<uint32_t>(m_attributes.size());
    if (!IsElementRecord(element) || element.name == nullptr) continue;
    m_elements.push_back(IndexedName{static_cast<uint32_t>(at), lengthOf(element)});
    if (element.kind != kGrammarElement) continue;
    // The records FindAttribute walks: up to the definition's end.
    for (size_t r = at + 1;
         m_grammar[r].kind != kGrammarElementEnd && m_grammar[r].kind != kGrammarElement &&
         m_grammar[r].kind != kGrammarEnd;
         ++r) {
      if (IsAttributeRecord(m_grammar[r]) && m_grammar[r].name != nullptr) {
        m_attributes.push_back(IndexedName{static_cast<uint32_t>(r), lengthOf(m_grammar[r])});
      }
    }
  }
  m_firstAttribute[count] = static_cast<uint32_t>(m_attributes.size());
  m_indexed = true;
}

const GrammarRecord* ContentHandler::FindIndexed(const IndexedName* begin, const IndexedName* end,
                                                 const OLECHAR* name, int32_t length) const {
  if (name == nullptr || length < 0) return nullptr;
  for (const IndexedName* entry = begin; entry != end; ++entry) {
    if (entry->length != length) continue;
    const OLECHAR* recordName = m_grammar[entry->at].name;
    if (m_noCase) {
      if (NameMatches(recordName, name, length, true)) return m_grammar + entry->at;
      continue;
    }
    int32_t i = 0;
    while (i < length && recordName[i] == name[i]) ++i;
    if (i == length) return m_grammar + entry->at;
  }
  return nullptr;
}

const GrammarRecord* ContentHandler::FindElement(const OLECHAR* name, int32_t length) {
  if (!m_indexed && ++m_lookups >= kLookupsBeforeIndex) BuildIndex();
  if (m_indexed) {
    return FindIndexed(m_elements.data(), m_elements.data() + m_elements.size(), name, length);
  }
  for (const GrammarRecord* r = m_grammar + 1; r->kind != kGrammarEnd; ++r) {
    if (IsElementRecord(*r) && NameMatches(r->name, name, length, m_noCase)) return r;
  }
  return nullptr;
}

bool ContentHandler::IsAllowedChild(const GrammarRecord* parent, const GrammarRecord* child) const {
  if (parent == nullptr) return false;
  if (parent->kind == kGrammarRoot) return true;
  if (parent->kind != kGrammarElement) return false;
  for (const GrammarRecord* r = parent + 1;
       r->kind != kGrammarElementEnd && r->kind != kGrammarElement && r->kind != kGrammarEnd; ++r) {
    if (r->kind == kGrammarChild && r->id == child->id) return true;
  }
  return false;
}

// The attribute records of an element definition run from its kind-2 record
// to its kind 3. A text-value element (kinds 4-7) declares no attributes: the
// records after it belong to other definitions.
const GrammarRecord* ContentHandler::FindAttribute(const GrammarRecord* element,
                                                   const OLECHAR* name, int32_t length) const {
  if (element->kind != kGrammarElement) return nullptr;
  if (m_indexed) {
    const size_t at = static_cast<size_t>(element - m_grammar);
    const IndexedName* first = m_attributes.data();
    return FindIndexed(first + m_firstAttribute[at], first + m_firstAttribute[at + 1], name,
                       length);
  }
  for (const GrammarRecord* r = element + 1;
       r->kind != kGrammarElementEnd && r->kind != kGrammarElement && r->kind != kGrammarEnd; ++r) {
    if (IsAttributeRecord(*r) && NameMatches(r->name, name, length, m_noCase)) return r;
  }
  return nullptr;
}

void ContentHandler::Check(KXComException& ctx, HRESULT hr) {
  if (hr == KXSAX_E_ABORT) throw KXSAXAbortException{};
  if (FAILED(hr)) {
    ctx.hr = hr;
    ctx.TakeThreadErrorInfo();
    throw HandlerFailure{};
  }
}

void ContentHandler::DoStartElement(KXComException& ctx, const OLECHAR* name, int32_t length,
                                    ISAXAttributes* attributes) {
  if (m_stack.empty()) {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_UNEXPECTED, u"Element <%*ls> outside of a parse",
                            length, name);
  }
  const Entry parent = m_stack.back();
  const GrammarRecord* record = FindElement(name, length);
  if (record == nullptr || !IsAllowedChild(parent.record, record)) {
    if (!m_ignoreUnknown) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Unexpected element <%*ls>", length,
                              name);
    }
    m_stack.push_back(Entry{nullptr, &m_ignore});
    return;
  }

  SAXSchemaElementHandler* handler = nullptr;
  if (record->kind >= kGrammarStringElement && record->kind <= kGrammarBooleanElement) {
    m_simple.Set(parent.handler, record->kind - kGrammarStringElement, record->id,
                 IsStrictInteger(record) ? record->name : nullptr);
    handler = &m_simple;
  } else if (record->kind == kGrammarElement) {
    if (parent.handler != nullptr)
      Check(ctx, parent.handler->GetChildHandler(record->id, &handler));
  } else {
    ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                            u"Bad XML schema definition (unknown element type specified)");
  }
  m_stack.push_back(Entry{record, handler});
  if (handler == nullptr) return;

  Check(ctx, handler->BeginElement(record->id));
  if (attributes == nullptr) return;
  int count = 0;
  Check(ctx, attributes->getLength(&count));
  std::u16string& text = m_value;
  for (int i = 0; i < count; ++i) {
    const OLECHAR* attrName = nullptr;
    int attrNameLength = 0;
    Check(ctx, attributes->getLocalName(i, &attrName, &attrNameLength));
    const GrammarRecord* attr = FindAttribute(record, attrName, attrNameLength);
    if (attr == nullptr) {
      if (m_ignoreUnknown) continue;
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"Unexpected Attribute %*ls",
                              attrNameLength, attrName);
    }
    const OLECHAR* valueText = nullptr;
    int valueLength = 0;
    Check(ctx, attributes->getValue(i, &valueText, &valueLength));
    if (valueText == nullptr || valueLength < 0) valueLength = 0;
    uint32_t type = attr->kind - kGrammarStringAttribute;
    if (type > kSAXBoolean) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"Error in schema definition unknown type for attribute %*ls",
                              attrNameLength, attrName);
    }
    SAXValue value;
    if (type != kSAXInteger || !ReadPlainInteger(valueText, valueLength, &value)) {
      // The reader promises the length only, no terminating zero: the value
      // is copied before it is read as a zero-terminated text.
      if (valueLength > 0) {
        text.assign(valueText, static_cast<size_t>(valueLength));
      } else {
        text.clear();
      }
      if (type == kSAXString) {
        value.text = text.c_str();  // what the conversion gives, without the call
      } else {
        Check(ctx, ConvertTextToVariant(&value, type, text.c_str()));
        if (type == kSAXInteger && !value.empty && IsStrictInteger(attr)) {
          Check(ctx,
                CheckIntegerText(value.text, (u"attribute " + std::u16string(attr->name)).c_str()));
        }
      }
    }
    Check(ctx, handler->SetAttribute(attr->id, value));
  }
}

void ContentHandler::DoEndElement(KXComException& ctx) {
  // The root entry stays until the parse ends; a reader never ends more
  // elements than it started.
  if (m_stack.size() <= 1) return;
  const Entry entry = m_stack.back();
  m_stack.pop_back();
  if (entry.record == nullptr) return;
  if (entry.handler != nullptr) Check(ctx, entry.handler->EndElement(entry.record->id));
  const Entry& parent = m_stack.back();
  if (entry.record->kind == kGrammarElement && parent.handler != nullptr) {
    Check(ctx, parent.handler->EndChildElement(entry.record->id, entry.handler));
  }
}

// A handler asked to stop: the open elements are closed innermost first
// (their results ignored), the root entry stays, and the reader is told to
// stop with the abort code, which ParseString turns into a quiet S_OK.
HRESULT ContentHandler::Abort() {
  m_aborted = true;
  ResetErrorRecord(KXSAX_E_ABORT);
  while (m_stack.size() > 1) {
    const Entry entry = m_stack.back();
    m_stack.pop_back();
    if (entry.record == nullptr) continue;
    // Nothing may escape into the reader, which is being stopped anyway.
    try {
      if (entry.handler != nullptr) (void)entry.handler->EndElement(entry.record->id);
      const Entry& parent = m_stack.back();
      if (entry.record->kind == kGrammarElement && parent.handler != nullptr) {
        (void)parent.handler->EndChildElement(entry.record->id, entry.handler);
      }
    } catch (...) {}
  }
  ClearThreadErrorInfo();
  return KXSAX_E_ABORT;
}

HRESULT ContentHandler::CallbackFailed(KXComException& ctx, const OLECHAR* activity,
                                       const OLECHAR* name, int32_t length) {
  if (ctx.hr == KXSAX_E_ABORT) return Abort();
  if (SUCCEEDED(ctx.hr)) return S_OK;
  if (name != nullptr) {
    std::u16string detail = u"Parsing element ";
    detail.append(name, static_cast<size_t>(length < 0 ? 0 : length));
    int line = 0;
    int column = 0;
    if (m_locator != nullptr && SUCCEEDED(m_locator->getLineNumber(&line)) &&
        SUCCEEDED(m_locator->getColumnNumber(&column))) {
      detail += kx_format(u"(Ln %d, Col %d)", line, column);
    }
    Trace(0, '>', activity);
    Trace(0, '.', detail.c_str());
    ctx.activity = detail.c_str();
    (void)ReportComError(ctx, nullptr, 0, nullptr);
    ctx.activity = nullptr;
  }
  RecordFailure(ctx);
  return ctx.hr;
}

HRESULT ContentHandler::startElement(const OLECHAR*, int, const OLECHAR* localName,
                                     int localNameLength, const OLECHAR*, int,
                                     ISAXAttributes* attributes) {
  static const OLECHAR kActivity[] = u"SAXSchemaParser::startElement()";
  KXComException ctx = KXComException::Silent(kActivity);
  try {
    DoStartElement(ctx, localName, localNameLength, attributes);
    return S_OK;
  } catch (const KXSAXAbortException&) {
    return Abort();
  } catch (const HandlerFailure&) {}
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return CallbackFailed(ctx, kActivity, localName, localNameLength);
}

HRESULT ContentHandler::endElement(const OLECHAR*, int, const OLECHAR* localName,
                                   int localNameLength, const OLECHAR*, int) {
  static const OLECHAR kActivity[] = u"SAXSchemaParser::endElement()";
  KXComException ctx = KXComException::Silent(kActivity);
  try {
    DoEndElement(ctx);
    return S_OK;
  } catch (const KXSAXAbortException&) {
    return Abort();
  } catch (const HandlerFailure&) {}
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return CallbackFailed(ctx, kActivity, localName, localNameLength);
}

HRESULT ContentHandler::characters(const OLECHAR* text, int length) {
  // A zero-length piece carries nothing; handing it on would let a handler
  // read the piece as a zero-terminated text.
  if (m_stack.empty() || m_stack.back().handler == nullptr || text == nullptr || length <= 0) {
    return S_OK;
  }
  KXComException ctx = KXComException::Silent(u"SAXSchemaParser::characters()");
  try {
    Check(ctx, m_stack.back().handler->Characters(text, length));
    return S_OK;
  } catch (const KXSAXAbortException&) {
    return Abort();
  } catch (const HandlerFailure&) {}
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return CallbackFailed(ctx, nullptr, nullptr, 0);
}

HRESULT ContentHandler::ReportReaderError(ISAXLocator* locator, const OLECHAR* message,
                                          HRESULT code, const OLECHAR* format) {
  if (FAILED(m_recordHr)) return code;  // the first failure stays
  if (code == KXSAX_E_ABORT) {
    ResetErrorRecord(code);
    return code;
  }
  ISAXLocator* where = locator != nullptr ? locator : m_locator;
  int line = 0;
  int column = 0;
  if (where != nullptr) {
    (void)where->getLineNumber(&line);
    (void)where->getColumnNumber(&column);
  }
  const std::u16string position = kx_format(u"Parsing XML (Ln %d, Col %d)", line, column);
  Trace(0, '.', position.c_str());
  KXComException ctx = KXComException::Silent(u"SAXSchemaParser::ParseString");
  ClearThreadErrorInfo();  // nothing before the reader's report belongs to it
  ctx.activity = position.c_str();
  // The context has not failed yet, so no earlier text enters the chain.
  (void)ReportComError(ctx, nullptr, FAILED(code) ? code : E_FAIL, format,
                       message != nullptr ? message : u"");
  ctx.activity = nullptr;
  RecordFailure(ctx);
  return code;
}

HRESULT ContentHandler::error(ISAXLocator* locator, const OLECHAR* message, HRESULT code) {
  return ReportReaderError(locator, message, code, u"MSXML Error: %ls");
}

HRESULT ContentHandler::fatalError(ISAXLocator* locator, const OLECHAR* message, HRESULT code) {
  return ReportReaderError(locator, message, code, u"MSXML Fatal error: %ls");
}

HRESULT ContentHandler::PublishParseError(KXComException& ctx) {
  if (FAILED(m_recordHr) && m_recordHr != KXSAX_E_ABORT) {
    SetErrorInfo(0, m_recordInfo);
    return m_recordHr;
  }
  if (ctx.hr != KXSAX_E_ABORT) return ctx.Return();
  ctx.DropErrorInfo();
  ClearThreadErrorInfo();
  return S_OK;
}

HRESULT ContentHandler::Run(BSTR text, SAXSchemaElementHandler* root, const OLECHAR* url) {
  ResetErrorRecord(S_OK);
  ClearThreadErrorInfo();
  KXComException ctx(u"SAXSchemaParser::ParseString", 0);
  m_aborted = false;
  m_stack.clear();
  ISAXXMLReader* reader = nullptr;
  bool reusable = false;  // the reader took its handlers and ran a parse
  try {
    HRESULT hr = S_OK;
    reader = TakeSpareReader();
    if (reader == nullptr) {
      hr = CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_ALL, IID_ISAXXMLReader,
                            reinterpret_cast<void**>(&reader));
    }
    if (FAILED(hr) || reader == nullptr) {
      reader = nullptr;
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), FAILED(hr) ? hr : E_FAIL,
                              u"Could not connect to MSXML6::SAXXMLReader");
    }
    KX_CHECK(ctx, reader->putContentHandler(static_cast<ISAXContentHandler*>(this)));
    KX_CHECK(ctx, reader->putErrorHandler(static_cast<ISAXErrorHandler*>(this)));
    m_stack.push_back(Entry{m_grammar, root});
    VARIANT input;
    VariantInit(&input);
    input.vt = VT_BSTR;
    input.bstrVal = text;  // borrowed: not cleared
    hr = url != nullptr ? reader->parseURL(url) : reader->parse(input);
    reusable = true;
    if (hr == KXSAX_E_ABORT || m_aborted) {
      m_aborted = true;
      ctx.hr = KXSAX_E_ABORT;
    } else if (FAILED(hr)) {
      if (!FAILED(m_recordHr)) KX_CHECK(ctx, hr);
      ctx.hr = hr;
    }
  }
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  if (reader != nullptr) {
    (void)reader->putContentHandler(nullptr);
    (void)reader->putErrorHandler(nullptr);
    if (reusable) {
      KeepSpareReader(reader);
    } else {
      reader->Release();
    }
  }
  m_stack.clear();
  m_simple.Release();
  if (m_locator != nullptr) {
    m_locator->Release();
    m_locator = nullptr;
  }
  return PublishParseError(ctx);
}

}  // namespace SAXSchemaParserImpl

SAXSchemaParser::~SAXSchemaParser() {
  if (m_contentHandler != nullptr) m_contentHandler->Release();
}

HRESULT SAXSchemaParser::ParseString(SAXSchemaParserImpl::ContentHandler* handler, BSTR text,
                                     SAXSchemaElementHandler* root) {
  if (handler == nullptr || root == nullptr) return E_POINTER;
  return handler->Run(text, root);
}

HRESULT SAXSchemaParser::Parse(BSTR text) { return Run(text, nullptr); }

HRESULT SAXSchemaParser::ParseFile(const OLECHAR* path) {
  if (path == nullptr) return E_INVALIDARG;
  return Run(nullptr, path);
}

HRESULT SAXSchemaParser::Run(BSTR text, const OLECHAR* path) {
  KXComException ctx = KXComException::Silent(u"SAXSchemaParser::Parse");
  try {
    if (m_contentHandler == nullptr) {
      const GrammarRecord* grammar = GetSchema();
      HRESULT hr = grammar == nullptr ? E_POINTER
                                      : SAXSchemaParserImpl::ContentHandler::CreateInstance(
                                            grammar, &m_contentHandler);
      if (FAILED(hr)) {
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr, u"Failed to instanciate SAXSchemaParser");
      }
    }
    m_contentHandler->SetOptions(m_compareNoCase, m_ignoreUnknown,
                                 m_strictIntegers ? this : nullptr);
    m_aborted = false;
    HRESULT hr = path != nullptr ? m_contentHandler->Run(nullptr, this, path)
                                 : ParseString(m_contentHandler, text, this);
    if (FAILED(hr)) return hr;  // the thread holds the parse's description
    m_aborted = m_contentHandler->aborted();
    return S_OK;
  }
  KX_CATCH_BOUNDARY(ctx, KX_HERE(kFile))
  return ctx.Return();
}

const OLECHAR* SAXSchemaParser::GetValueName(uint32_t id) const {
  const GrammarRecord* grammar = GetSchema();
  if (grammar == nullptr) return nullptr;
  for (const GrammarRecord* r = grammar + 1; r->kind != kGrammarEnd; ++r) {
    if (r->kind >= kGrammarStringAttribute && r->kind <= kGrammarBooleanAttribute && r->id == id) {
      return r->name;
    }
  }
  return nullptr;
}
