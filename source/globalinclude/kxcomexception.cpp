#include "kxcomexception.h"

#include <cstdarg>
#include <exception>
#include <new>
#include <string>

#include "com/activation.h"
#include "com/comutil.h"
#include "com/errorinfo.h"
#include "com/oleauto.h"
#include "com/sysmsg.h"
#include "com/wstr.h"
#include "kxtrace.h"

namespace {

constexpr size_t kKXErrorTagLength = 8;  // "<KXError"

[[noreturn]] void ThrowOutOfMemory() { _com_issue_error(E_OUTOFMEMORY); }

BSTR AllocBstr(const std::u16string& text) {
  BSTR result = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (result == nullptr) ThrowOutOfMemory();
  return result;
}

std::u16string VFormat(const OLECHAR* format, va_list args) { return kx_vformat(format, args); }

std::u16string DescriptionOf(IErrorInfo* info) {
  _bstr_t text;
  if (info == nullptr || FAILED(info->GetDescription(text.GetAddress()))) return {};
  return std::u16string(text.view());
}

std::u16string SourceOf(IErrorInfo* info) {
  _bstr_t text;
  if (info == nullptr || FAILED(info->GetSource(text.GetAddress()))) return {};
  return std::u16string(text.view());
}

bool StartsWithKXErrorTag(const std::u16string& text) {
  return text.size() >= kKXErrorTagLength &&
         _wcsnicmp(text.c_str(), u"<KXError", kKXErrorTagLength) == 0;
}

// A description that already is a "<KXError" chain (and more than the bare
// tag) is passed on unchanged.
bool IsKXErrorText(const std::u16string& text) {
  return text.size() > kKXErrorTagLength && StartsWithKXErrorTag(text);
}

std::u16string SystemText(HRESULT hr) {
  BSTR message = GetHResultMessage(hr);
  std::u16string text =
      message == nullptr ? std::u16string() : std::u16string(message, SysStringLen(message));
  SysFreeString(message);
  return text;
}

std::u16string HexCode(HRESULT hr) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  uint32_t code = static_cast<uint32_t>(hr);
  OLECHAR digits[8];
  int n = 0;
  do {
    digits[n++] = kDigits[code & 0xF];
    code >>= 4;
  } while (code != 0);
  std::u16string text = u"0x";
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

std::u16string HResultName(HRESULT hr) {
  OLECHAR name[16];
  FormatHResultName(hr, name);
  return name;
}

// Values are written between double quotes: a double quote becomes an
// apostrophe, and the XML specials are escaped so that the chain stays
// well-formed whatever text a failure carries.
void AppendEscaped(std::u16string& out, const std::u16string& value) {
  for (char16_t c : value) {
    switch (c) {
      case u'"': out.push_back(u'\''); break;
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      default: out.push_back(c);
    }
  }
}

// Builds one "<KXError .../>" element.
class ElementWriter {
 public:
  ElementWriter() : m_text(u"<KXError ") {}
  void Add(const char16_t* name, const std::u16string& value) {
    m_text += name;
    m_text += u"=\"";
    AppendEscaped(m_text, value);
    m_text += u"\" ";
  }
  void AddIfNotEmpty(const char16_t* name, const std::u16string& value) {
    if (!value.empty()) Add(name, value);
  }
  void AddLocation(const SourceLocation* location) {
    if (location == nullptr || location->file == nullptr) return;
    Add(u"File", LastTwoComponents(location->file));
    Add(u"Line", std::u16string(DecimalText(location->line)));
  }
  std::u16string Finish() {
    m_text += u"/>";
    return std::move(m_text);
  }

  static std::u16string LastTwoComponents(const OLECHAR* path) {
    std::u16string text(path);
    auto isSeparator = [](char16_t c) { return c == u'/' || c == u'\\'; };
    size_t cut = text.size();
    int separators = 0;
    while (cut > 0) {
      if (isSeparator(text[cut - 1]) && ++separators == 2) break;
      --cut;
    }
    return text.substr(cut);
  }

  static std::u16string DecimalText(int32_t value) {
    std::u16string digits;
    int64_t v = value;
    const bool negative = v < 0;
    if (negative) v = -v;
    do {
      digits.insert(digits.begin(), static_cast<char16_t>(u'0' + v % 10));
      v /= 10;
    } while (v != 0);
    if (negative) digits.insert(digits.begin(), u'-');
    return digits;
  }

 private:
  std::u16string m_text;
};

// Makes `text` the context's and the thread's error information, with
// `source` as its source.
void InstallErrorInfo(KXComException& ctx, const std::u16string& text,
                      const std::u16string& source) {
  _com_ptr_t<ICreateErrorInfo> creator;
  if (FAILED(CreateErrorInfo(&creator)) || creator.GetInterfacePtr() == nullptr) ThrowOutOfMemory();
  std::u16string description = text;
  std::u16string sourceText = source;
  creator.GetInterfacePtr()->SetDescription(description.data());
  creator.GetInterfacePtr()->SetSource(sourceText.data());
  _com_ptr_t<IErrorInfo> info;
  if (FAILED(creator.GetInterfacePtr()->QueryInterface(IID_IErrorInfo,
                                                       reinterpret_cast<void**>(&info))) ||
      info.GetInterfacePtr() == nullptr) {
    ThrowOutOfMemory();
  }
  ctx.SetErrorInfoHeld(info.GetInterfacePtr());
  SetErrorInfo(0, info.GetInterfacePtr());
}

std::u16string OleDbElements(IErrorRecords* records, ULONG count) {
  std::u16string text;
  for (ULONG i = 0; i < count; ++i) {
    ERRORINFO basic{};
    records->GetBasicErrorInfo(i, &basic);
    _com_ptr_t<IErrorInfo> recordInfo;
    records->GetErrorInfo(i, LOCALE_USER_DEFAULT, &recordInfo);
    std::u16string source = SourceOf(recordInfo.GetInterfacePtr());
    if (source.empty()) {
      OLECHAR guid[40] = {};
      StringFromGUID2(basic.iid, guid, 40);
      source = std::u16string(u"OLEDB Interface::") + guid;
    }
    ElementWriter element;
    element.AddIfNotEmpty(u"Desc", DescriptionOf(recordInfo.GetInterfacePtr()));
    element.Add(u"Src", source);
    element.Add(u"HR", HexCode(basic.hrError));
    if (i > 0) text += u"\r\n";
    text += element.Finish();
  }
  return text;
}

// ConvertErrorToKXError with the failure code to name in a conversion-form
// element.
std::u16string ConvertWithCode(KXComException& ctx, HRESULT hr) {
  IErrorInfo* info = ctx.errorInfo;
  std::u16string text;
  const std::u16string source = SourceOf(info);
  _com_ptr_t<IErrorRecords> records;
  ULONG recordCount = 0;
  if (info != nullptr &&
      SUCCEEDED(info->QueryInterface(IID_IErrorRecords, reinterpret_cast<void**>(&records))) &&
      records.GetInterfacePtr() != nullptr &&
      SUCCEEDED(records.GetInterfacePtr()->GetRecordCount(&recordCount)) && recordCount > 0) {
    text = OleDbElements(records.GetInterfacePtr(), recordCount);
  } else {
    std::u16string description = DescriptionOf(info);
    if (IsKXErrorText(description)) {
      text = std::move(description);
    } else {
      ElementWriter element;
      element.AddIfNotEmpty(u"Desc", description.empty() ? SystemText(hr) : description);
      element.AddIfNotEmpty(u"Src", source);
      element.Add(u"HR", HResultName(hr));
      text = element.Finish();
    }
  }
  Trace(3, '!', text.c_str());
  InstallErrorInfo(ctx, text, source);
  return text;
}

HRESULT ReportComErrorText(KXComException& ctx, const SourceLocation* location, HRESULT hr,
                           const std::u16string* message) {
  const HRESULT effective = hr < 0 ? hr : ctx.hr;

  // The failure reported so far: the context's own information, else what
  // a callee left on the thread (adopted so that its source is kept).
  if (ctx.errorInfo == nullptr) ctx.TakeThreadErrorInfo();
  std::u16string previous = DescriptionOf(ctx.errorInfo);
  const std::u16string previousSource = SourceOf(ctx.errorInfo);
  if (previous.empty() && FAILED(ctx.hr)) previous = SystemText(ctx.hr);
  if (previous.size() > kKXErrorTagLength && !StartsWithKXErrorTag(previous) && FAILED(effective)) {
    previous = ConvertWithCode(ctx, FAILED(ctx.hr) ? ctx.hr : effective);
  }

  std::u16string text;
  if (FAILED(effective)) {
    if (location != nullptr) TraceAtLocation(*location, u"!!!! KXComException Error !!!!");
    std::u16string desc;
    if (message != nullptr) {
      desc = *message;
    } else {
      BSTR inner = GetErrorDescription(previous.c_str());
      if (inner != nullptr) desc.assign(inner, SysStringLen(inner));
      SysFreeString(inner);
      if (desc.empty()) {
        desc = SystemText(effective);
        if (ctx.activity != nullptr) {
          desc = kx_format(u"Error while %ls (%ls)", ctx.activity, desc.c_str());
        }
      }
    }
    ElementWriter element;
    element.AddIfNotEmpty(u"Desc", desc);
    if (ctx.activity != nullptr) element.Add(u"Activity", ctx.activity);
    element.Add(u"HR", HResultName(effective));
    element.AddLocation(location);
    text = element.Finish();
    Trace(3, '!', text.c_str());
  }
  if (!previous.empty()) {
    if (!text.empty()) text += u"\r\n";
    text += previous;
  }
  if (!text.empty()) {
    InstallErrorInfo(ctx, text,
                     ctx.methodName != nullptr ? std::u16string(ctx.methodName) : previousSource);
  }
  if (FAILED(effective)) ctx.hr = effective;
  return ctx.hr;
}

[[noreturn]] void ThrowCopy(const KXComException& ctx) { throw KXComException(ctx); }

}  // namespace

// ---------------------------------------------------------------------------
// KXComException

KXComException::KXComException(const OLECHAR* method, int32_t severity)
    : KXComException(method, severity, true) {}

void KXComException::TraceEntry() const { Trace(severity, '>', methodName); }

KXComException::KXComException(const KXComException& other)
    : hr(other.hr),
      errorInfo(other.errorInfo),
      severity(other.severity),
      methodName(other.methodName),
      activity(other.activity) {
  if (errorInfo != nullptr) errorInfo->AddRef();
}

KXComException& KXComException::operator=(const KXComException& other) {
  if (this == &other) return *this;
  SetErrorInfoHeld(other.errorInfo);
  hr = other.hr;
  severity = other.severity;
  methodName = other.methodName;
  activity = other.activity;
  return *this;
}

void KXComException::SetErrorInfoHeld(IErrorInfo* info) {
  if (info != nullptr) info->AddRef();
  IErrorInfo* old = errorInfo;
  errorInfo = info;
  if (old != nullptr) old->Release();
}

void KXComException::TakeThreadErrorInfo() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
  IErrorInfo* old = errorInfo;
  errorInfo = info;  // GetErrorInfo handed its reference over
  if (old != nullptr) old->Release();
}

HRESULT KXComException::Return() const {
  if (errorInfo != nullptr) SetErrorInfo(0, errorInfo);
  return hr;
}

void KXComException::Absorb() {
  hr = S_OK;
  DropErrorInfo();
  ClearThreadErrorInfo();
}

HRESULT KXComException::GetDescription(const KXComException& error, BSTR* text) {
  if (text == nullptr) return E_POINTER;
  *text = nullptr;
  std::u16string description;
  if (error.errorInfo != nullptr) {
    description = DescriptionOf(error.errorInfo);
  } else {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
    description = DescriptionOf(info);
    if (info != nullptr) info->Release();
  }
  if (description.empty() && FAILED(error.hr)) description = SystemText(error.hr);
  *text = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
  return *text != nullptr ? S_OK : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------------------
// Reporting

// The message of a reporter's format and arguments; `format` may be null.
#define KX_FORMAT_MESSAGE(format, message) \
  std::u16string message;                  \
  if ((format) != nullptr) {               \
    va_list args;                          \
    va_start(args, format);                \
    message = VFormat((format), args);     \
    va_end(args);                          \
  }

HRESULT ReportComError(KXComException& ctx, const SourceLocation* location, HRESULT hr,
                       const OLECHAR* format, ...) {
  KX_FORMAT_MESSAGE(format, message)
  return ReportComErrorText(ctx, location, hr, format != nullptr ? &message : nullptr);
}

namespace {

// The body of the throwing reporters: reports `message` (none when null)
// and throws a copy of the context, whose code becomes `hr` when `setCode`
// is set.
[[noreturn]] void ReportAndThrow(KXComException& ctx, const SourceLocation* location, HRESULT hr,
                                 bool setCode, const std::u16string* message) {
  ReportComErrorText(ctx, location, hr, message);
  if (setCode) ctx.hr = hr;
  ThrowCopy(ctx);
}

}  // namespace

void ThrowKXComException(KXComException& ctx, const SourceLocation& location, const OLECHAR* format,
                         ...) {
  KX_FORMAT_MESSAGE(format, message)
  ReportAndThrow(ctx, &location, 0, false, format != nullptr ? &message : nullptr);
}

void ThrowKXComExceptionHr(KXComException& ctx, HRESULT hr, const OLECHAR* format, ...) {
  KX_FORMAT_MESSAGE(format, message)
  ReportAndThrow(ctx, nullptr, hr, true, format != nullptr ? &message : nullptr);
}

void ThrowKXComExceptionHrAt(KXComException& ctx, const SourceLocation& location, HRESULT hr,
                             const OLECHAR* format, ...) {
  KX_FORMAT_MESSAGE(format, message)
  ReportAndThrow(ctx, &location, hr, true, format != nullptr ? &message : nullptr);
}

void ThrowIfFailed(KXComException& ctx, const OLECHAR* format, ...) {
  if (format == nullptr && ctx.methodName == nullptr && ctx.activity == nullptr) {
    SetKXErrorInfo(ctx);
    ThrowCopy(ctx);
  }
  KX_FORMAT_MESSAGE(format, message)
  ReportAndThrow(ctx, nullptr, 0, false, format != nullptr ? &message : nullptr);
}

void ThrowCheckedResult(KXComException& ctx, HRESULT hr) {
  ctx.hr = hr;
  ctx.TakeThreadErrorInfo();
  ThrowIfFailed(ctx);
}

void CheckResult(KXComException& ctx, HRESULT hr, const OLECHAR* format, ...) {
  ctx.DropErrorInfo();
  if (SUCCEEDED(hr)) return;
  ctx.hr = hr;
  ctx.TakeThreadErrorInfo();
  if (format == nullptr) ThrowIfFailed(ctx);
  KX_FORMAT_MESSAGE(format, message)
  ReportAndThrow(ctx, nullptr, 0, false, &message);
}

void CheckResult(KXComException& ctx, HRESULT hr, const SourceLocation& location) {
  ctx.DropErrorInfo();
  if (SUCCEEDED(hr)) return;
  ctx.hr = hr;
  ctx.TakeThreadErrorInfo();
  ReportAndThrow(ctx, &location, 0, false, nullptr);
}

void CheckPointerArgument(KXComException& ctx, const void* pointer, const OLECHAR* format, ...) {
  if (pointer != nullptr) return;
  KX_FORMAT_MESSAGE(format, message)
  if (format == nullptr && ctx.methodName != nullptr) {
    message = kx_format(u"Invalid pointer passed to method %ls", ctx.methodName);
  }
  ctx.DropErrorInfo();
  ctx.hr = E_POINTER;
  ElementWriter element;
  element.AddIfNotEmpty(u"Desc", message);
  if (ctx.methodName != nullptr) element.Add(u"Src", ctx.methodName);
  if (ctx.activity != nullptr) element.Add(u"Activity", ctx.activity);
  element.Add(u"HR", HResultName(E_POINTER));
  const std::u16string text = element.Finish();
  Trace(3, '!', text.c_str());
  InstallErrorInfo(ctx, text, ctx.methodName != nullptr ? ctx.methodName : u"");
  ThrowCopy(ctx);
}

HRESULT SetKXErrorInfo(KXComException& ctx) {
  if (!FAILED(ctx.hr)) return ctx.hr;
  if (IsKXErrorText(DescriptionOf(ctx.errorInfo))) {
    SetErrorInfo(0, ctx.errorInfo);
    return ctx.hr;
  }
  ConvertWithCode(ctx, ctx.hr);
  return ctx.hr;
}

HRESULT ConvertErrorToKXError(KXComException& ctx, BSTR* description) {
  if (description != nullptr) *description = nullptr;
  if (!FAILED(ctx.hr)) return ctx.hr;
  const std::u16string text = ConvertWithCode(ctx, ctx.hr);
  if (description != nullptr) *description = AllocBstr(text);
  return ctx.hr;
}

BSTR GetErrorDescription(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  const std::u16string whole(text);
  if (!StartsWithKXErrorTag(whole)) return AllocBstr(whole);
  static constexpr std::u16string_view kDesc = u" Desc=\"";
  const size_t start = whole.find(kDesc);
  if (start == std::u16string::npos) return AllocBstr(u"");
  const size_t valueStart = start + kDesc.size();
  const size_t valueEnd = whole.find(u'"', valueStart);
  const std::u16string raw = whole.substr(
      valueStart, valueEnd == std::u16string::npos ? std::u16string::npos : valueEnd - valueStart);
  // Undo the escaping of the element writer.
  static constexpr struct {
    std::u16string_view entity;
    char16_t c;
  } kEntities[] = {
      {u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'}, {u"&apos;", u'\''}};
  std::u16string decoded;
  decoded.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    bool replaced = false;
    if (raw[i] == u'&') {
      for (const auto& e : kEntities) {
        if (raw.compare(i, e.entity.size(), e.entity) == 0) {
          decoded.push_back(e.c);
          i += e.entity.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) decoded.push_back(raw[i++]);
  }
  return AllocBstr(decoded);
}

BSTR GetHResultMessage(HRESULT hr) {
  std::u16string text = kx_system_message(hr);
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
  if (text.empty())
    text =
        kx_format(u"Unknown error 0x%0lX", static_cast<unsigned long>(static_cast<uint32_t>(hr)));
  return AllocBstr(text);
}

void FormatHResultName(HRESULT hr, OLECHAR (&out)[16]) {
  const char16_t* name = nullptr;
  switch (hr) {
    case E_ACCESSDENIED: name = u"E_ACCESSDENIED"; break;
    case E_OUTOFMEMORY: name = u"E_OUTOFMEMORY"; break;
    case E_INVALIDARG: name = u"E_INVALIDARG"; break;
    case E_UNEXPECTED: name = u"E_UNEXPECTED"; break;
    case E_NOTIMPL: name = u"E_NOTIMPL"; break;
    case E_NOINTERFACE: name = u"E_NOINTERFACE"; break;
    case E_POINTER: name = u"E_POINTER"; break;
    case E_FAIL: name = u"E_FAIL"; break;
    default: break;
  }
  const std::u16string text = name != nullptr ? std::u16string(name) : HexCode(hr);
  text.copy(out, 15);
  out[text.size() < 15 ? text.size() : 15] = 0;
}

// ---------------------------------------------------------------------------
// Catch clauses

void HandleKXComException(KXComException& ctx, const SourceLocation& location,
                          const KXComException& caught) {
  if (ctx.errorInfo == nullptr || ctx.errorInfo != caught.errorInfo) {
    ctx.hr = caught.hr;
    ctx.SetErrorInfoHeld(caught.errorInfo);
    if (ctx.methodName != nullptr || ctx.activity != nullptr) {
      ReportComErrorText(ctx, nullptr, 0, nullptr);
    }
    return;
  }
  TraceAtLocation(location, u"~~~~ Caught KXComException ~~~~");
}

void HandleComError(KXComException& ctx, const SourceLocation& location, const _com_error& error) {
  {
    _com_ptr_t<IErrorInfo> info(error.ErrorInfo(), false);
    SetErrorInfo(0, info.GetInterfacePtr());
  }
  KXComException temporary = KXComException::Silent();
  ReportComErrorText(temporary, &location, error.Error(), nullptr);
  HandleKXComException(ctx, location, temporary);
}

void HandleUnknownException(KXComException& /*ctx*/, const SourceLocation& location) {
  TraceAtLocation(location, u"!!!! Unhandled Exception !!!!");
  throw;
}

void HandleUnknownExceptionAtBoundary(KXComException& ctx, const SourceLocation& location) {
  TraceAtLocation(location, u"!!!! Unhandled Exception !!!!");
  HRESULT code = E_UNEXPECTED;
  std::u16string message;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    code = E_OUTOFMEMORY;
    message = u"Out of memory";
  } catch (const std::exception& e) {
    message = kx_format(u"Unhandled exception: %hs", e.what());
  } catch (...) {
    message = u"Unhandled exception of unknown type";
  }
  // Nothing that was left behind belongs to this failure.
  ctx.DropErrorInfo();
  ClearThreadErrorInfo();
  ctx.hr = S_OK;  // so that no system text is chained behind the element
  try {
    ReportComErrorText(ctx, &location, code, &message);
  } catch (...) {
    // Out of memory while describing the failure: the code alone must do.
    ctx.DropErrorInfo();
  }
  ctx.hr = code;
}

void TraceAtLocation(const SourceLocation& location, const OLECHAR* text) {
  Tracer& tracer = GetTracer();
  if (location.file == nullptr || tracer.hook == nullptr) return;
  std::u16string line = location.file;
  line += u"(";
  line += ElementWriter::DecimalText(location.line);
  line += u") : ";
  if (text != nullptr) line += text;
  line += u"\n";
  tracer.hook->Write(line.c_str());
}

std::u16string TakeThreadErrorText() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return {};
  std::u16string text = DescriptionOf(info);
  info->Release();
  return text;
}

void ClearThreadErrorInfo() { SetErrorInfo(0, nullptr); }
