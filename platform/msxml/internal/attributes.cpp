#include "msxml/internal/attributes.h"

#include <algorithm>
#include <limits>

namespace kx::msxml {

namespace {

constexpr char16_t kEmpty[] = u"";
constexpr char16_t kCdata[] = u"CDATA";

HRESULT Out(const char16_t* text, int length, const char16_t** p, int* n) {
  if (p == nullptr || n == nullptr) return E_POINTER;
  *p = text;
  *n = length;
  return S_OK;
}

int Length(const char16_t* s, int n) {
  if (n >= 0) return n;
  int k = 0;
  while (s[k] != 0) ++k;
  return k;
}

}  // namespace

void Attributes::Load(const XML_Char** pairs) {
  text_.clear();
  entries_.clear();
  for (; pairs[0] != nullptr; pairs += 2) {
    Entry e{};
    e.name = static_cast<std::uint32_t>(text_.size());
    text_.AppendUtf8z(pairs[0]);
    e.name_length = static_cast<std::uint32_t>(text_.size()) - e.name;
    text_.push_back(0);
    e.value = static_cast<std::uint32_t>(text_.size());
    text_.AppendUtf8z(pairs[1]);
    e.value_length = static_cast<std::uint32_t>(text_.size()) - e.value;
    text_.push_back(0);
    entries_.push_back(e);
  }
}

void Attributes::Add(const char16_t* name, std::size_t name_length, const char16_t* value,
                     std::size_t value_length) {
  Entry e{};
  e.name = static_cast<std::uint32_t>(text_.size());
  text_.Append(name, name_length);
  e.name_length = static_cast<std::uint32_t>(name_length);
  text_.push_back(0);
  e.value = static_cast<std::uint32_t>(text_.size());
  text_.Append(value, value_length);
  e.value_length = static_cast<std::uint32_t>(value_length);
  text_.push_back(0);
  entries_.push_back(e);
}

int Attributes::Find(const char16_t* name, int length) const {
  if (name == nullptr) return -1;
  length = Length(name, length);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (e.name_length == static_cast<std::uint32_t>(length) &&
        std::equal(name, name + length, text_.data() + e.name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int Attributes::FindByName(const char16_t* uri, int cchUri, const char16_t* localName,
                           int cchLocalName) const {
  if (uri != nullptr && Length(uri, cchUri) != 0) return -1;
  return Find(localName, cchLocalName);
}

HRESULT Attributes::getLength(int* length) {
  if (length == nullptr) return E_POINTER;
  *length = static_cast<int>(entries_.size());
  return S_OK;
}

HRESULT Attributes::getURI(int index, const char16_t** uri, int* cchUri) {
  if (!Valid(index)) return E_INVALIDARG;
  return Out(kEmpty, 0, uri, cchUri);
}

HRESULT Attributes::getLocalName(int index, const char16_t** localName, int* cchLocalName) {
  if (!Valid(index)) return E_INVALIDARG;
  const Entry& e = entries_[static_cast<std::size_t>(index)];
  return Out(text_.data() + e.name, static_cast<int>(e.name_length), localName, cchLocalName);
}

HRESULT Attributes::getQName(int index, const char16_t** qName, int* cchQName) {
  return getLocalName(index, qName, cchQName);
}

HRESULT Attributes::getName(int index, const char16_t** uri, int* cchUri,
                            const char16_t** localName, int* cchLocalName, const char16_t** qName,
                            int* cchQName) {
  if (!Valid(index)) return E_INVALIDARG;
  if (uri == nullptr || cchUri == nullptr || localName == nullptr || cchLocalName == nullptr ||
      qName == nullptr || cchQName == nullptr) {
    return E_POINTER;
  }
  Out(kEmpty, 0, uri, cchUri);
  getLocalName(index, localName, cchLocalName);
  return getLocalName(index, qName, cchQName);
}

HRESULT Attributes::getIndexFromName(const char16_t* uri, int cchUri, const char16_t* localName,
                                     int cchLocalName, int* index) {
  if (index == nullptr) return E_POINTER;
  *index = FindByName(uri, cchUri, localName, cchLocalName);
  return *index < 0 ? E_INVALIDARG : S_OK;
}

HRESULT Attributes::getIndexFromQName(const char16_t* qName, int cchQName, int* index) {
  if (index == nullptr) return E_POINTER;
  *index = Find(qName, cchQName);
  return *index < 0 ? E_INVALIDARG : S_OK;
}

HRESULT Attributes::getType(int index, const char16_t** type, int* cchType) {
  if (!Valid(index)) return E_INVALIDARG;
  return Out(kCdata, 5, type, cchType);
}

HRESULT Attributes::getTypeFromName(const char16_t* uri, int cchUri, const char16_t* localName,
                                    int cchLocalName, const char16_t** type, int* cchType) {
  return getType(FindByName(uri, cchUri, localName, cchLocalName), type, cchType);
}

HRESULT Attributes::getTypeFromQName(const char16_t* qName, int cchQName, const char16_t** type,
                                     int* cchType) {
  return getType(Find(qName, cchQName), type, cchType);
}

HRESULT Attributes::getValue(int index, const char16_t** value, int* cchValue) {
  if (!Valid(index)) return E_INVALIDARG;
  const Entry& e = entries_[static_cast<std::size_t>(index)];
  return Out(text_.data() + e.value, static_cast<int>(e.value_length), value, cchValue);
}

HRESULT Attributes::getValueFromName(const char16_t* uri, int cchUri, const char16_t* localName,
                                     int cchLocalName, const char16_t** value, int* cchValue) {
  return getValue(FindByName(uri, cchUri, localName, cchLocalName), value, cchValue);
}

HRESULT Attributes::getValueFromQName(const char16_t* qName, int cchQName, const char16_t** value,
                                      int* cchValue) {
  return getValue(Find(qName, cchQName), value, cchValue);
}

void Locator::Detach() {
  if (parser_ == nullptr) return;
  getLineNumber(&line_);
  getColumnNumber(&column_);
  parser_ = nullptr;
}

HRESULT Locator::getColumnNumber(int* column) {
  if (column == nullptr) return E_POINTER;
  if (parser_ == nullptr) {
    *column = column_;
    return S_OK;
  }
  XML_Size c = XML_GetCurrentColumnNumber(parser_);
  *column = c >= static_cast<XML_Size>(std::numeric_limits<int>::max())
                ? std::numeric_limits<int>::max()
                : static_cast<int>(c) + 1;
  return S_OK;
}

HRESULT Locator::getLineNumber(int* line) {
  if (line == nullptr) return E_POINTER;
  if (parser_ == nullptr) {
    *line = line_;
    return S_OK;
  }
  XML_Size l = XML_GetCurrentLineNumber(parser_);
  *line = l > static_cast<XML_Size>(std::numeric_limits<int>::max())
              ? std::numeric_limits<int>::max()
              : static_cast<int>(l);
  return S_OK;
}

HRESULT Locator::getPublicId(const char16_t** id) {
  if (id == nullptr) return E_POINTER;
  *id = kEmpty;
  return S_OK;
}

HRESULT Locator::getSystemId(const char16_t** id) {
  if (id == nullptr) return E_POINTER;
  *id = kEmpty;
  return S_OK;
}

}  // namespace kx::msxml
