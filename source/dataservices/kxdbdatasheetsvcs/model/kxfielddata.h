// The field-data record: the in-memory form of one field element
// ("String", "Real", "Annotation", ...) of a datasheet page, read from its
// XML text with the grammar-driven parser and written back with the XML
// string writer.
//
// A text may also be a "Fields" list of field elements; `ParseFieldData`
// then keeps the one child that the caller's index selects.
//
// Thread affinity: a record is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "com/bstr.h"
#include "com/types.h"
#include "saxschemaparser.h"

class _bstr_t;
struct IKXQApplication;
struct IKXQAttribute;
struct ikxXMLStringWriter;

// The record's type id, equal to the grammar's element id.
enum FieldKind : int32_t {
  kFieldCleared = -1,
  kFieldList = 0,  // while the record holds a "Fields" list
  kFieldAnnotation = 1,
  kFieldString = 2,
  kFieldReal = 3,
  kFieldInteger = 4,
  kFieldBool = 5,
  kFieldDate = 6,
  kFieldSketch = 7,
  kFieldCheck = 8,
  kFieldRadio = 9,
};

// What `WriteFieldData` writes.
enum FieldDataWriteMode : int32_t {
  // The field's definition: no number decorations, no state and no value
  // (but a radio field's value).
  kFieldDataDefinition = 0,
  // Everything that is set.
  kFieldDataFull = 1,
  // The show form for a page: element "Show<Kind>Field" with "PageId", no
  // "AttribId".
  kFieldDataShow = 2,
};

// The grammar of field data: "Fields" and the nine field elements.
class FieldDataSchema : public SAXSchemaParser {
 public:
  const GrammarRecord* GetSchema() const override;
  // The element name of a type id 0 to 9, or null.
  static const OLECHAR* GetElementName(int32_t typeId);
};

class KXFieldData : public FieldDataSchema {
 public:
  KXFieldData() = default;
  ~KXFieldData() override = default;

  // Resets every field to its unset value and deletes the children. The
  // index is kept.
  void Clear();

  // Reads `text` (a field element or a "Fields" list; null or empty gives a
  // cleared record). From a list the first child (`selectIndex` -1) or the
  // first child whose "Index" equals `selectIndex` is kept; none found leaves
  // the record cleared. The type id is `type` afterwards, whatever the text said. On
  // failure the thread's error information holds the "<KXError" description.
  // The last few texts read are remembered, so that a text read again in a
  // call is not parsed again; `remember` false (a page of many records read
  // once each) only looks there.
  [[nodiscard]] HRESULT ParseFieldData(int32_t type, BSTR text, int32_t selectIndex,
                                       bool remember = true);
  // The record text at `position` of `fields` read as ParseFieldData(type,
  // text, selectIndex) reads it, without a copy of the text when it is one
  // of the last few read, or starts with a NUL (read as empty): true then.
  // Else false, the record cleared or left as it was, and `text` holds the
  // text as GetAttributeValueStringAt gives it (null for none; a text with
  // a NUL further in is always given) for the caller to read. The text's
  // read is recorded as that read records it.
  bool ReadKnownText(IKXQAttribute* fields, int32_t position, int32_t type, int32_t selectIndex,
                     _bstr_t& text);

  // Clears the record and reads `text` keeping the kind the text names; from
  // a "Fields" list the first child (`fieldNumber` -1) or the first child
  // whose "FieldId" is `fieldNumber` is kept (none found: the record ends
  // cleared). Null or empty text: a cleared record. On failure the thread's
  // error information holds the "<KXError" description.
  [[nodiscard]] HRESULT SelectField(const OLECHAR* text, int32_t fieldNumber);
  // The same for a text already held as a BSTR: read in place, not copied
  // (a text with a NUL inside is read up to it, as above).
  [[nodiscard]] HRESULT SelectField(const _bstr_t& text, int32_t fieldNumber);

  // Sets "Value", "Prefix", "Postfix" and "Substitution" to copies of the
  // texts; a null text leaves that text unset.
  void SetNumberTexts(const OLECHAR* valueText, const OLECHAR* prefixText,
                      const OLECHAR* postfixText, const OLECHAR* substitutionText);

  // Whether this record (the current content of a field) differs from
  // `reference` by the rule of its kind. `emptyReferenceChanges`: a reference
  // without content counts as a change whatever this record holds. When the
  // schema of `application`'s database carries the knowledge-base method of
  // the kind ("IsStringFieldChanged", ...), it decides the cases the default
  // rule cannot. Throws KXComException when the database or schema cannot be
  // reached, or a failing method run left a result.
  bool IsFieldChanged(const KXFieldData& reference, IKXQApplication* application,
                      bool emptyReferenceChanges) const;
  // Whether the field shows nothing: no value, and for a number no prefix,
  // postfix or substitution either ("TBA" alone is something).
  bool IsBlank() const;

  // Writes the record as one element without line breaks or declaration;
  // `*text` receives a new BSTR the caller frees (null on failure). Fails
  // with "Unknown field type" for a type id outside 1 to 9.
  [[nodiscard]] HRESULT WriteFieldData(BSTR* text, int32_t mode, int32_t pageId) const;
  // The same element appended to `writer`, whose line-break option stays as
  // the caller set it: a caller writing many records reuses one writer.
  // After a failure the writer may hold part of an element.
  [[nodiscard]] HRESULT WriteFieldData(ikxXMLStringWriter& writer, int32_t mode,
                                       int32_t pageId) const;

  // Handler operations.
  HRESULT GetChildHandler(uint32_t childId, SAXSchemaElementHandler** handler) override;
  HRESULT SetAttribute(uint32_t id, const SAXValue& value) override;

  size_t ChildCount() const { return m_children.size(); }
  const KXFieldData& Child(size_t i) const { return *m_children[i]; }

  int32_t typeId = kFieldCleared;
  SAXText value;         // "Value"
  SAXText prefix;        // "Prefix"
  SAXText postfix;       // "Postfix"
  SAXText substitution;  // "Substitution"
  SAXText format;        // "Format"
  int32_t fieldId = -1;
  int32_t attribId = -1;
  int32_t state = 0;
  int32_t alignment = -1;
  int32_t verticalAlignment = -1;
  int32_t x = 0;
  int32_t y = 0;
  int32_t tlx = 0;
  int32_t tly = 0;
  int32_t brx = 0;
  int32_t bry = 0;
  bool markup = false;
  int32_t index = -1;

 private:
  // The part of ParseFieldData that needs no parse: true when `text` is
  // empty or was read recently (the record then holds it); else the record
  // is left as it was. `length`: the text's, or kUnknownLength (read up to
  // its NUL).
  static constexpr size_t kUnknownLength = static_cast<size_t>(-1);
  bool TakeKnownText(int32_t type, const OLECHAR* text, size_t length, int32_t selectIndex);
  // Copies every field but the children and the parser's state.
  void CopyFields(const KXFieldData& other);
  // SelectField on `text`; `held`, when not null, is the same text as a
  // BSTR the reader may read as it is.
  HRESULT SelectParsed(const OLECHAR* text, BSTR held, int32_t fieldNumber);

  std::vector<std::unique_ptr<KXFieldData>> m_children;
};
