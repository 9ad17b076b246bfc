// The attribute list handed to startElement.
#pragma once

#ifndef KX_MSXML_INTERNAL
#error "msxml/internal headers are private to their library; include its public headers"
#endif

#include <cstdint>
#include <expat.h>
#include <string>
#include <vector>

#include "msxml/internal/object.h"
#include "msxml/internal/utf.h"

namespace kx::msxml {

// Holds the UTF-16 names and values of one element's attributes. The parse
// reloads it for every element, so a pointer it hands out stays valid only
// until the next Load.
class Attributes final : public com::Object<Attributes, ISAXAttributes> {
 public:
  // Replaces the list by expat's name/value pairs (null-terminated array).
  void Load(const XML_Char** pairs);
  // Empties the list, then adds name/value pairs already in UTF-16.
  void Clear() {
    text_.clear();
    entries_.clear();
  }
  void Add(const char16_t* name, std::size_t name_length, const char16_t* value,
           std::size_t value_length);

  HRESULT getLength(int* length) override;
  HRESULT getURI(int index, const char16_t** uri, int* cchUri) override;
  HRESULT getLocalName(int index, const char16_t** localName, int* cchLocalName) override;
  HRESULT getQName(int index, const char16_t** qName, int* cchQName) override;
  HRESULT getName(int index, const char16_t** uri, int* cchUri, const char16_t** localName,
                  int* cchLocalName, const char16_t** qName, int* cchQName) override;
  HRESULT getIndexFromName(const char16_t* uri, int cchUri, const char16_t* localName,
                           int cchLocalName, int* index) override;
  HRESULT getIndexFromQName(const char16_t* qName, int cchQName, int* index) override;
  HRESULT getType(int index, const char16_t** type, int* cchType) override;
  HRESULT getTypeFromName(const char16_t* uri, int cchUri, const char16_t* localName,
                          int cchLocalName, const char16_t** type, int* cchType) override;
  HRESULT getTypeFromQName(const char16_t* qName, int cchQName, const char16_t** type,
                           int* cchType) override;
  HRESULT getValue(int index, const char16_t** value, int* cchValue) override;
  HRESULT getValueFromName(const char16_t* uri, int cchUri, const char16_t* localName,
                           int cchLocalName, const char16_t** value, int* cchValue) override;
  HRESULT getValueFromQName(const char16_t* qName, int cchQName, const char16_t** value,
                            int* cchValue) override;

 private:
  struct Entry {
    std::uint32_t name, name_length, value, value_length;  // offsets into text_
  };
  bool Valid(int index) const { return index >= 0 && index < static_cast<int>(entries_.size()); }
  // Index of the attribute named `name`, or -1; a negative length means the
  // name is zero-terminated.
  int Find(const char16_t* name, int length) const;
  // Index for the namespace-aware lookups: the URI must be empty.
  int FindByName(const char16_t* uri, int cchUri, const char16_t* localName,
                 int cchLocalName) const;

  Utf16Buffer text_;  // every name and value, each followed by a zero
  std::vector<Entry> entries_;
  ModuleLock module_;
};

// The position of the event being reported: expat's while a parse runs,
// afterwards the last one seen.
class Locator final : public com::Object<Locator, ISAXLocator> {
 public:
  void Attach(XML_Parser parser) { parser_ = parser; }
  void Detach();
  // A position outside expat's reach (errors found before parsing).
  void Set(int line, int column) {
    parser_ = nullptr;
    line_ = line;
    column_ = column;
  }

  HRESULT getColumnNumber(int* column) override;
  HRESULT getLineNumber(int* line) override;
  HRESULT getPublicId(const char16_t** id) override;
  HRESULT getSystemId(const char16_t** id) override;

 private:
  XML_Parser parser_ = nullptr;
  int line_ = 1;
  int column_ = 1;
  ModuleLock module_;
};

}  // namespace kx::msxml
