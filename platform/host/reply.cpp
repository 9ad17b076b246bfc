#include "host/reply.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "host/errors.h"
#include "host/failure_points.h"
#include "host/internal/sendable_file.h"
#include "host/internal/xml_text.h"

namespace kx::host {

using internal::BstrView;
using internal::Fail;

std::u16string ToHostPath(std::u16string_view path) {
  std::u16string result(path);
  for (char16_t& c : result) {
    if (c == u'\\') c = u'/';
  }
  return result;
}

// ---- XMLAttributes ----

namespace {

// Names are short: they are compared and copied four characters at a time
// in place, without a library call.
bool SameText(std::u16string_view a, std::u16string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  if (n < 4) {
    for (size_t i = 0; i < n; ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }
  uint64_t x = 0;
  uint64_t y = 0;
  for (size_t i = 0; i + 4 < n; i += 4) {
    std::memcpy(&x, a.data() + i, sizeof x);
    std::memcpy(&y, b.data() + i, sizeof y);
    if (x != y) return false;
  }
  // The last four, overlapping those compared.
  std::memcpy(&x, a.data() + n - 4, sizeof x);
  std::memcpy(&y, b.data() + n - 4, sizeof y);
  return x == y;
}

char16_t* CopyName(std::u16string_view name, char16_t* out) {
  const char16_t* in = name.data();
  const size_t n = name.size();
  if (n < 4) {
    for (size_t i = 0; i < n; ++i) out[i] = in[i];
    return out + n;
  }
  for (size_t i = 0; i + 4 < n; i += 4) std::memcpy(out + i, in + i, 4 * sizeof(char16_t));
  std::memcpy(out + n - 4, in + n - 4, 4 * sizeof(char16_t));
  return out + n;
}

}  // namespace

uint8_t XMLAttributes::FindName(std::u16string_view key) const {
  // Lists are mostly filled in the same order each time: the entry that
  // followed the last name is tried first.
  const uint8_t hint = items_.empty()                   ? first_
                       : items_.back().name == kUnknown ? kUnknown
                                                        : names_[items_.back().name].next;
  if (hint != kUnknown && SameText(names_[hint].text, key)) return hint;
  for (size_t n = 0; n < names_.size(); ++n) {
    if (SameText(names_[n].text, key)) return static_cast<uint8_t>(n);
  }
  return kUnknown;
}

inline char16_t* XMLAttributes::Room(size_t count) {
  if (text_.size() - size_ < count) [[unlikely]]
    text_.resize(std::max(2 * text_.size(), size_ + count));
  return text_.data() + size_;
}

HRESULT XMLAttributes::Add(BSTR name, VARIANT value) {
  const std::u16string_view key = BstrView(name);
  uint8_t entry = FindName(key);
  if (entry != kUnknown) {
    if (present_ & (uint64_t{1} << entry)) {
      for (Item& item : items_) {
        if (item.name == entry) return Replace(item, value);
      }
    }
  } else {
    // A name without an entry (every entry is taken) is looked for among
    // the items that have none.
    for (Item& item : items_) {
      if (item.name == kUnknown && SameText(NameOf(item), key)) return Replace(item, value);
    }
    if (!internal::IsXmlName(key)) return Fail(E_INVALIDARG, u"Invalid XML attribute name");
    if (names_.size() < kMaxNames) {
      names_.push_back(Name{std::u16string(key)});
      entry = static_cast<uint8_t>(names_.size() - 1);
    }
  }
  if (value.vt == VT_BSTR) {
    Put(key, entry, BstrView(value.bstrVal), true);
    return S_OK;
  }
  // Numbers and flags are digits, signs, points and letters: never escaped.
  char16_t scalar[internal::kScalarTextSize];
  if (const size_t n = internal::FormatScalarValue(value, scalar); n > 0) {
    Put(key, entry, std::u16string_view(scalar, n), false);
    return S_OK;
  }
  std::u16string indirect;
  if (FAILED(internal::AppendAttributeValue(value, indirect)))
    return Fail(DISP_E_BADVARTYPE, u"Unsupported type of XML attribute value");
  Put(key, entry, indirect, true);
  return S_OK;
}

[[gnu::always_inline]] inline void XMLAttributes::Put(std::u16string_view key, uint8_t entry,
                                                      std::u16string_view text, bool check) {
  char16_t* out = Room(key.size() + text.size() + 4);
  *out++ = u' ';
  out = CopyName(key, out);
  *out++ = u'=';
  *out++ = u'"';
  bool escaped = false;
  if (check) {
    escaped = internal::CopyAttributeValue(text, out);
  } else {
    CopyName(text, out);
  }
  out[text.size()] = u'"';
  if (items_.empty()) {
    first_ = entry;
  } else if (items_.back().name != kUnknown) {
    names_[items_.back().name].next = entry;
  }
  items_.push_back(Item{size_, static_cast<uint32_t>(key.size()),
                        static_cast<uint32_t>(text.size()), entry, escaped});
  size_ += key.size() + text.size() + 4;
  if (entry != kUnknown) present_ |= uint64_t{1} << entry;
  if (escaped) ++escaped_;
}

// A name added again takes the new value in its place.
HRESULT XMLAttributes::Replace(Item& item, const VARIANT& value) {
  std::u16string text;
  if (FAILED(internal::AppendAttributeValue(value, text))) {
    return Fail(DISP_E_BADVARTYPE, u"Unsupported type of XML attribute value");
  }
  std::u16string rest(Text().substr(item.value_at() + item.value_size));
  const bool escaped = internal::NeedsAttributeEscape(text);
  // Room is made before anything changes: a failed allocation leaves the
  // list as it was.
  const size_t start = item.value_at();
  if (const size_t end = start + text.size() + rest.size(); end > size_) Room(end - size_);
  size_ = start;
  char16_t* out = text_.data() + size_;
  out = std::copy(text.begin(), text.end(), out);
  std::copy(rest.begin(), rest.end(), out);
  size_ += text.size() + rest.size();
  const ptrdiff_t shift = static_cast<ptrdiff_t>(text.size()) - item.value_size;
  for (Item* later = &item + 1; later != items_.data() + items_.size(); ++later) {
    later->at = static_cast<size_t>(static_cast<ptrdiff_t>(later->at) + shift);
  }
  item.value_size = static_cast<uint32_t>(text.size());
  escaped_ = escaped_ - (item.escaped ? 1 : 0) + (escaped ? 1 : 0);
  item.escaped = escaped;
  return S_OK;
}

HRESULT XMLAttributes::Clear() {
  size_ = 0;
  items_.clear();
  escaped_ = 0;
  present_ = 0;
  return S_OK;
}

HRESULT XMLAttributes::get_Count(LONG* count) {
  if (!count) return E_POINTER;
  *count = static_cast<LONG>(items_.size());
  return S_OK;
}

HRESULT XMLAttributes::GetAttribute(LONG index, BSTR* name, VARIANT* value) {
  if (!name || !value) return E_POINTER;
  *name = nullptr;
  VariantClear(value);
  if (index < 0 || static_cast<size_t>(index) >= items_.size()) return E_INVALIDARG;
  const Item& item = items_[static_cast<size_t>(index)];
  const std::u16string_view key = NameOf(item);
  const std::u16string_view rendered = ValueOf(item);
  *name = SysAllocStringLen(key.data(), static_cast<UINT>(key.size()));
  BSTR text = SysAllocStringLen(rendered.data(), static_cast<UINT>(rendered.size()));
  if (!*name || !text) {
    SysFreeString(*name);
    SysFreeString(text);
    *name = nullptr;
    return E_OUTOFMEMORY;
  }
  value->vt = VT_BSTR;
  value->bstrVal = text;
  return S_OK;
}

void XMLAttributes::AppendTo(std::u16string& out) const {
  if (escaped_ == 0) {
    out.append(text_.data(), size_);
    return;
  }
  for (const Item& item : items_) {
    if (!item.escaped) {
      out.append(text_.data() + item.at, item.end() - item.at);
      continue;
    }
    out.append(text_.data() + item.at, item.value_at() - item.at);
    internal::AppendEscapedAttribute(out, ValueOf(item));
    out += u'"';
  }
}

// ---- Response ----

HRESULT Response::CheckOpen() const {
  if (finished_) return Fail(E_UNEXPECTED, u"The request of this response has ended");
  return S_OK;
}

HRESULT Response::SendText(BSTR text) {
  if (HRESULT hr = failures_.Check("SendText"); FAILED(hr)) return hr;
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  text_ += BstrView(text);
  return S_OK;
}

HRESULT Response::BeginXMLReply() {
  if (HRESULT hr = failures_.Check("BeginXMLReply"); FAILED(hr)) return hr;
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  begun_ = true;
  return S_OK;
}

void Response::CloseOpenElements() {
  while (!open_.empty()) {
    text_ += u"</";
    text_ += open_.back();
    text_ += u'>';
    open_.pop_back();
  }
}

HRESULT Response::EndReply() {
  if (HRESULT hr = failures_.Check("EndReply"); FAILED(hr)) return hr;
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  ++end_calls_;
  CloseOpenElements();
  return S_OK;
}

HRESULT Response::NewAttributes(IKXQXMLAttributes** attributes) {
  if (HRESULT hr = failures_.Check("NewAttributes"); FAILED(hr))
    return internal::NullOut(hr, attributes);
  if (!attributes) return E_POINTER;
  *attributes = MakeRef<XMLAttributes>().Detach();
  return S_OK;
}

// Reads a list of another implementation through its interface; a list of
// this library's own is read in place: its names were checked and its values
// formatted when they were added, so nothing can fail half-way.
HRESULT Response::AppendStartTag(BSTR name, IKXQXMLAttributes* attributes, bool empty) {
  if (HRESULT hr = failures_.Check("AppendStartTag"); FAILED(hr)) return hr;
  const std::u16string_view tag = BstrView(name);
  // Elements mostly come one kind after another: the last valid name is
  // not checked again.
  if (tag.empty() || tag != checked_tag_) {
    if (!internal::IsXmlName(tag)) return Fail(E_INVALIDARG, u"Invalid XML element name");
    checked_tag_ = tag;
  }
  // XMLAttributes is final: its own lists are those of exactly its type.
  if (attributes != nullptr && typeid(*attributes) == typeid(XMLAttributes)) {
    text_ += u'<';
    text_ += tag;
    static_cast<const XMLAttributes*>(attributes)->AppendTo(text_);
    text_ += empty ? u"/>" : u">";
    return S_OK;
  }
  std::u16string out = u"<";
  out += tag;
  if (attributes) {
    LONG count = 0;
    if (HRESULT hr = attributes->get_Count(&count); FAILED(hr)) return hr;
    for (LONG i = 0; i < count; ++i) {
      BSTR key = nullptr;
      VARIANT value;
      VariantInit(&value);
      HRESULT hr = attributes->GetAttribute(i, &key, &value);
      std::u16string text;
      if (SUCCEEDED(hr)) hr = internal::FormatAttributeValue(value, text);
      const std::u16string keyText(BstrView(key));
      SysFreeString(key);
      VariantClear(&value);
      if (FAILED(hr)) return Fail(hr, u"Unreadable XML attribute");
      if (!internal::IsXmlName(keyText)) return Fail(E_INVALIDARG, u"Invalid XML attribute name");
      out += u' ';
      out += keyText;
      out += u"=\"";
      internal::AppendEscapedAttribute(out, text);
      out += u'"';
    }
  }
  out += empty ? u"/>" : u">";
  text_ += out;
  return S_OK;
}

HRESULT Response::StartElement(BSTR name, IKXQXMLAttributes* attributes) {
  if (HRESULT hr = failures_.Check("StartElement"); FAILED(hr)) return hr;
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  if (HRESULT hr = AppendStartTag(name, attributes, false); FAILED(hr)) return hr;
  open_.emplace_back(BstrView(name));
  return S_OK;
}

HRESULT Response::EndElement(BSTR name) {
  if (HRESULT hr = failures_.Check("EndElement"); FAILED(hr)) return hr;
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  const std::u16string_view tag = BstrView(name);
  if (open_.empty() || open_.back() != tag) {
    return Fail(E_INVALIDARG, u"End of an XML element that is not the open one");
  }
  text_ += u"</";
  text_ += tag;
  text_ += u'>';
  open_.pop_back();
  return S_OK;
}

HRESULT Response::ElementText(BSTR text) {
  if (HRESULT hr = failures_.Check("ElementText"); FAILED(hr)) return hr;
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  internal::AppendEscapedText(text_, BstrView(text));
  return S_OK;
}

HRESULT Response::WriteElement(BSTR name, IKXQXMLAttributes* attributes, BSTR text) {
  if (HRESULT hr = failures_.Check("WriteElement"); FAILED(hr)) return hr;
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  if (!text) return AppendStartTag(name, attributes, true);
  if (HRESULT hr = AppendStartTag(name, attributes, false); FAILED(hr)) return hr;
  internal::AppendEscapedText(text_, BstrView(text));
  text_ += u"</";
  text_ += BstrView(name);
  text_ += u'>';
  return S_OK;
}

HRESULT Response::Flush() {
  if (HRESULT hr = failures_.Check("Flush"); FAILED(hr)) return hr;
  return CheckOpen();
}

HRESULT Response::SendFile(BSTR path, VARIANT binary) {
  if (HRESULT hr = failures_.Check("SendFile"); FAILED(hr)) return hr;
  if (HRESULT hr = CheckOpen(); FAILED(hr)) return hr;
  if (BstrView(path).empty()) return Fail(E_INVALIDARG, u"No file to send");
  if (binary.vt != VT_BOOL) return Fail(DISP_E_TYPEMISMATCH, u"The file kind is not a Boolean");
  SentFile file{ToHostPath(BstrView(path)), binary.boolVal != VARIANT_FALSE, {}};
  if (HRESULT hr = internal::ReadSendableFile(file.path, folders_, &file.content); FAILED(hr))
    return hr;
  files_.push_back(std::move(file));
  return S_OK;
}

void Response::Finish(bool succeeded) {
  if (finished_) return;
  if (succeeded) {
    CloseOpenElements();
  } else {
    text_.clear();
    open_.clear();
    files_.clear();
  }
  finished_ = true;
}

// ---- RequestContext ----

HRESULT RequestContext::get_Response(IKXQResponse** response) {
  if (HRESULT hr = failures_.Check("get_Response"); FAILED(hr))
    return internal::NullOut(hr, response);
  if (!response) return E_POINTER;
  *response = response_.AddRefCopy();
  return S_OK;
}

HRESULT RequestContext::NotifyFormatChange() {
  if (HRESULT hr = failures_.Check("NotifyFormatChange"); FAILED(hr)) return hr;
  ++format_changes_;
  return S_OK;
}

HRESULT RequestContext::RegisterLoadStorage(void*) {
  if (HRESULT hr = failures_.Check("RegisterLoadStorage"); FAILED(hr)) return hr;
  return S_OK;
}

HRESULT RequestContext::Report(BSTR text) {
  if (HRESULT hr = failures_.Check("Report"); FAILED(hr)) return hr;
  reports_.emplace_back(BstrView(text));
  return S_OK;
}

}  // namespace kx::host
