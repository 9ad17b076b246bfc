#include "host/reply.h"

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

HRESULT XMLAttributes::Add(BSTR name, VARIANT value) {
  const std::u16string_view key = BstrView(name);
  for (size_t i = 0; i < count_; ++i) {
    if (items_[i].first == key) {
      std::u16string text;
      if (FAILED(internal::FormatAttributeValue(value, text))) {
        return Fail(DISP_E_BADVARTYPE, u"Unsupported type of XML attribute value");
      }
      items_[i].second = std::move(text);
      return S_OK;
    }
  }
  if (count_ == items_.size()) items_.emplace_back();
  // A kept name was checked when it was first added.
  Item& slot = items_[count_];
  const bool checked = !slot.first.empty() && slot.first == key;
  if (!checked && !internal::IsXmlName(key))
    return Fail(E_INVALIDARG, u"Invalid XML attribute name");
  if (FAILED(internal::FormatAttributeValue(value, slot.second))) {
    return Fail(DISP_E_BADVARTYPE, u"Unsupported type of XML attribute value");
  }
  if (!checked) slot.first = key;
  ++count_;
  return S_OK;
}

HRESULT XMLAttributes::Clear() {
  count_ = 0;
  return S_OK;
}

HRESULT XMLAttributes::get_Count(LONG* count) {
  if (!count) return E_POINTER;
  *count = static_cast<LONG>(count_);
  return S_OK;
}

HRESULT XMLAttributes::GetAttribute(LONG index, BSTR* name, VARIANT* value) {
  if (!name || !value) return E_POINTER;
  *name = nullptr;
  VariantClear(value);
  if (index < 0 || static_cast<size_t>(index) >= count_) return E_INVALIDARG;
  const auto& item = items_[static_cast<size_t>(index)];
  *name = SysAllocStringLen(item.first.data(), static_cast<UINT>(item.first.size()));
  BSTR text = SysAllocStringLen(item.second.data(), static_cast<UINT>(item.second.size()));
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
  if (!internal::IsXmlName(tag)) return Fail(E_INVALIDARG, u"Invalid XML element name");
  if (const auto* own = dynamic_cast<const XMLAttributes*>(attributes); own != nullptr) {
    text_ += u'<';
    text_ += tag;
    for (const auto& [key, value] : own->items()) {
      text_ += u' ';
      text_ += key;
      text_ += u"=\"";
      internal::AppendEscapedAttribute(text_, value);
      text_ += u'"';
    }
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
