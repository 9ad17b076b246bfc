// Grammar-driven request parsing on the SAX reader.
//
// Each message owns a static grammar table (`GrammarRecord`s) that lists its
// elements, the children each element may hold, and the attributes and text
// values each element carries with their value types. A content handler
// walks the reader's events against that table, converts every value to its
// type and hands it, by a numeric value id, to an element handler
// (`SAXSchemaElementHandler`). A message's parser is its own root handler;
// the end of the message element (id 1) runs the message's worker.
//
// Usage, in a message handler:
//
//   SetRealFieldMessageParser parser(main);   // on SetRealFieldSchema
//   HRESULT hr = parser.Parse(request);       // the worker runs inside
//   if (FAILED(hr)) { ctx.hr = hr; ctx.TakeThreadErrorInfo(); ThrowIfFailed(ctx); }
//
// Thread affinity: one parse at a time, on the caller's thread.
#pragma once

#include <cstdint>
#include <string>

#include "com/bstr.h"
#include "com/types.h"

// One record of a grammar table. Tables are static read-only arrays: record 0
// (kind 0), element definitions (kind 2, its kinds 8-11 and 12, kind 3) and
// text-value elements (kinds 4-7) in any order, then one kind-1 record.
struct GrammarRecord {
  uint32_t kind;
  const OLECHAR* name;  // null where the kind has no name
  uint32_t id;          // element id or value id
};

enum GrammarKind : uint32_t {
  kGrammarRoot = 0,           // record 0: the document root
  kGrammarEnd = 1,            // end of the table
  kGrammarElement = 2,        // start of an element definition
  kGrammarElementEnd = 3,     // end of the element definition
  kGrammarStringElement = 4,  // element whose text is a value, kinds 4-7
  kGrammarRealElement = 5,
  kGrammarIntegerElement = 6,
  kGrammarBooleanElement = 7,
  kGrammarStringAttribute = 8,  // attribute of the enclosing element, 8-11
  kGrammarRealAttribute = 9,
  kGrammarIntegerAttribute = 10,
  kGrammarBooleanAttribute = 11,
  kGrammarChild = 12,  // allowed child (id of the child's record)
};

// Value types; for kinds 4-11 the type is kind & 3.
enum SAXValueType : uint32_t {
  kSAXString = 0,
  kSAXReal = 1,
  kSAXInteger = 2,
  kSAXBoolean = 3,
};

// A handler result that stops the parse quietly: open elements are closed in
// order, `Parse` returns S_OK and `WasAborted` tells that it stopped early.
inline constexpr HRESULT KXSAX_E_ABORT = static_cast<HRESULT>(0x8004C001u);

// The typed value handed to a handler. Only the member of `type` is
// meaningful; the others stay zero.
struct SAXValue {
  uint32_t type = kSAXString;
  // kSAXString: the text, valid only during the call (the handler copies
  // it); never null after a conversion (an absent text reads as "").
  // kSAXInteger: the text read, likewise; null for an attribute that was a
  // plain decimal number.
  const OLECHAR* text = nullptr;
  double real = 0.0;
  int32_t integer = 0;
  uint8_t boolean = 0;  // 0 or 1
  // Set when the text was empty or not a valid value of the type.
  uint8_t empty = 0;
};

// Converts `text` (zero-terminated; null reads as empty) to a value of
// `type`:
// - string: points to the text;
// - real: the whole text, bar surrounding blanks, must be a decimal number
//   with "." as decimal point, whatever the locale; otherwise NaN and empty;
// - integer: the leading decimal number as `_wtol` reads it (blanks, sign,
//   digits; 0 when there is none); empty text gives 0 and empty; `text`
//   points to the text (a parser with strict integers refuses a text that
//   holds no decimal number, or one beyond 32 bits);
// - Boolean: "1", "true", "on", "yes", "t" / "0", "false", "off", "no", "f"
//   in any letter case (ASCII); anything else is false and empty.
// E_FAIL for any other type.
[[nodiscard]] HRESULT ConvertTextToVariant(SAXValue* value, uint32_t type, const OLECHAR* text);

// The reading of strict integers (`SAXSchemaParser::SetStrictIntegers`),
// for a text that is not empty: S_OK when a decimal number that fits in 32
// bits begins it after blanks and a sign, and is not followed by another
// script's digit ("1٢"); otherwise DISP_E_TYPEMISMATCH or
// DISP_E_OVERFLOW with the error information "'abc' is not a number for
// WHAT", "'0x10' is not a decimal number for WHAT" or "'99999999999' is out
// of range for WHAT" (`what`: "attribute Index", "the page id").
[[nodiscard]] HRESULT CheckIntegerText(const OLECHAR* text, const OLECHAR* what);

// An owned wide text that remembers whether it was ever set: what message
// parsers keep for string values. `c_str` is null while unset.
class SAXText {
 public:
  SAXText() = default;
  // Replaces the text by a copy of `text`; a null text leaves it unset.
  void Assign(const OLECHAR* text);
  void Reset();
  bool IsNull() const { return !m_set; }
  bool IsEmpty() const { return m_text.empty(); }
  const OLECHAR* c_str() const { return m_set ? m_text.c_str() : nullptr; }
  const std::u16string& str() const { return m_text; }

 private:
  std::u16string m_text;
  bool m_set = false;
};

// The element handler: receives an element's begin and end, its attributes
// and text values by id, and hands out the handlers of its child elements.
// Every result is an HRESULT: a failure stops the parse (the handler leaves
// its error information on the thread), KXSAX_E_ABORT stops it quietly.
class SAXSchemaElementHandler {
 public:
  virtual ~SAXSchemaElementHandler() = default;
  [[nodiscard]] virtual HRESULT BeginElement(uint32_t id) = 0;
  [[nodiscard]] virtual HRESULT EndElement(uint32_t id) = 0;
  // `*handler` receives the child's handler, not owned by the caller; the
  // handler must live until its element has ended. Null is allowed (the
  // child's values are then dropped).
  [[nodiscard]] virtual HRESULT GetChildHandler(uint32_t childId,
                                                SAXSchemaElementHandler** handler) = 0;
  [[nodiscard]] virtual HRESULT EndChildElement(uint32_t childId,
                                                SAXSchemaElementHandler* child) = 0;
  [[nodiscard]] virtual HRESULT SetAttribute(uint32_t id, const SAXValue& value) = 0;
  [[nodiscard]] virtual HRESULT SetElementValue(uint32_t id, const SAXValue& value) = 0;
  // `length` characters of `text`; 0 means the whole zero-terminated text.
  [[nodiscard]] virtual HRESULT Characters(const OLECHAR* text, int32_t length) = 0;
};

// Every operation a no-op returning S_OK; `GetChildHandler` hands out null.
class DefaultSAXSchemaElementHandler : public SAXSchemaElementHandler {
 public:
  [[nodiscard]] HRESULT BeginElement(uint32_t id) override;
  [[nodiscard]] HRESULT EndElement(uint32_t id) override;
  [[nodiscard]] HRESULT GetChildHandler(uint32_t childId,
                                        SAXSchemaElementHandler** handler) override;
  [[nodiscard]] HRESULT EndChildElement(uint32_t childId, SAXSchemaElementHandler* child) override;
  [[nodiscard]] HRESULT SetAttribute(uint32_t id, const SAXValue& value) override;
  [[nodiscard]] HRESULT SetElementValue(uint32_t id, const SAXValue& value) override;
  [[nodiscard]] HRESULT Characters(const OLECHAR* text, int32_t length) override;
};

namespace SAXSchemaParserImpl {
class ContentHandler;
}  // namespace SAXSchemaParserImpl

// A parser over the grammar that `GetSchema` returns, and the root handler of
// its own parses. Names are compared case-sensitively and unknown elements
// and attributes are skipped unless the options say otherwise.
class SAXSchemaParser : public DefaultSAXSchemaElementHandler {
 public:
  SAXSchemaParser() = default;
  ~SAXSchemaParser() override;
  SAXSchemaParser(const SAXSchemaParser&) = delete;
  SAXSchemaParser& operator=(const SAXSchemaParser&) = delete;

  // The grammar: a static table that outlives the parser.
  virtual const GrammarRecord* GetSchema() const = 0;

  // Parses `text` (the request; a null BSTR is an empty text) against the
  // grammar, with this parser as root handler. S_OK also after a quiet
  // abort. On failure the thread's error information holds the "<KXError"
  // description: the first failure of the parse, a handler's or worker's
  // own description kept at the end of the chain.
  [[nodiscard]] HRESULT Parse(BSTR text);
  // The same for the file at `path` (a path or a "file://" URL), read by
  // the same reader with the same limits as request texts.
  [[nodiscard]] HRESULT ParseFile(const OLECHAR* path);

  // The parse driver behind `Parse`: runs one parse of `text` through
  // `handler` with `root` as root handler and publishes the first failure.
  [[nodiscard]] static HRESULT ParseString(SAXSchemaParserImpl::ContentHandler* handler, BSTR text,
                                           SAXSchemaElementHandler* root);

  // The name of the first attribute record (kinds 8-11) with value id `id`,
  // or null.
  const OLECHAR* GetValueName(uint32_t id) const;

  // Each thread keeps the reader of its last parse for the next one instead
  // of activating a new one every time. Dropping it makes the next parse ask
  // activation again (tests that change how the reader is activated).
  static void ReleaseSpareReader();

  // True when the last `Parse` stopped early through KXSAX_E_ABORT.
  bool WasAborted() const { return m_aborted; }

  void SetCompareNoCase(bool on) { m_compareNoCase = on; }
  bool GetCompareNoCase() const { return m_compareNoCase; }
  void SetIgnoreUnknown(bool on) { m_ignoreUnknown = on; }
  bool GetIgnoreUnknown() const { return m_ignoreUnknown; }
  // Strict integers: an integer attribute or text value whose text holds no
  // decimal number after its blanks and sign ("abc", "NaN"), a hexadecimal
  // one ("0x10") or one beyond 32 bits fails the parse with DISP_E_TYPEMISMATCH
  // or DISP_E_OVERFLOW, naming the value and the text ("'abc' is not a number
  // for attribute Index"), before its handler sees it. Without it such a text
  // reads as `_wtol` reads it: 0, or clamped. Either way an empty text is 0
  // and empty, and a number followed by other characters reads up to them.
  void SetStrictIntegers(bool on) { m_strictIntegers = on; }
  bool GetStrictIntegers() const { return m_strictIntegers; }
  // With strict integers: true for an integer value whose text the parser's
  // own handling refuses, in words of its own (a field's value names the
  // field); such a text reaches it as without strict integers.
  virtual bool ChecksIntegerText(uint32_t id) const {
    (void)id;
    return false;
  }

 private:
  [[nodiscard]] HRESULT Run(BSTR text, const OLECHAR* path);

  SAXSchemaParserImpl::ContentHandler* m_contentHandler = nullptr;  // held, created on first use
  bool m_compareNoCase = false;
  bool m_ignoreUnknown = true;
  bool m_strictIntegers = false;
  bool m_aborted = false;
};
