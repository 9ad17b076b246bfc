#include "frameworktestsupport.h"

#include <utility>

#include "com/wstr.h"

namespace kx::test {

std::string Narrow(const std::u16string& text) { return kx_utf16_to_utf8_lossy(text); }
std::string Narrow(const OLECHAR* text) {
  return text == nullptr ? "<null>" : Narrow(std::u16string(text));
}

std::u16string RecordingHook::Joined() const {
  std::u16string all;
  for (const auto& piece : pieces) all += piece;
  return all;
}

ScopedTraceCapture::ScopedTraceCapture(int32_t level)
    : savedHook_(GetTracer().hook), savedLevel_(GetTracer().level) {
  GetTracer().hook = &hook;
  GetTracer().level = level;
}

ScopedTraceCapture::~ScopedTraceCapture() {
  GetTracer().hook = savedHook_;
  GetTracer().level = savedLevel_;
}

// ---------------------------------------------------------------------------
// TestJournal

TestJournal* TestJournal::Create() { return new TestJournal(); }

HRESULT TestJournal::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID_IKXQJournal)) {
    *out = static_cast<IKXQJournal*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG TestJournal::Release() {
  const ULONG refs = --refs_;
  if (refs == 0) delete this;
  return refs;
}

HRESULT TestJournal::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT TestJournal::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT TestJournal::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  ++refusedCalls;
  return E_NOTIMPL;
}

HRESULT TestJournal::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) {
  lastLcid = lcid;
  if (id != 0xFFFF || !IsEqualIID(iid, IID_NULL) || flags != 0 || params == nullptr ||
      params->cArgs != 1 || params->cNamedArgs != 0 || params->rgvarg[0].vt != VT_BSTR ||
      result != nullptr || excepInfo != nullptr || argError != nullptr) {
    ++refusedCalls;
    return DISP_E_MEMBERNOTFOUND;
  }
  const BSTR text = params->rgvarg[0].bstrVal;
  lines.emplace_back(text == nullptr ? u"" : std::u16string(text, SysStringLen(text)));
  return S_OK;
}

HRESULT TestJournal::Write(BSTR) {
  ++directWrites;
  return S_OK;
}

// ---------------------------------------------------------------------------
// FakeErrorRecords

namespace {

class FakeErrorRecords final : public IErrorInfo, public IErrorRecords {
 public:
  FakeErrorRecords(std::vector<FakeRecord> records, std::u16string description)
      : records_(std::move(records)), description_(std::move(description)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IErrorInfo)) {
      *out = static_cast<IErrorInfo*>(this);
    } else if (IsEqualIID(iid, IID_IErrorRecords)) {
      *out = static_cast<IErrorRecords*>(this);
    } else {
      return E_NOINTERFACE;
    }
    ++refs_;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
  }

  // IErrorInfo: the object's own description (often generic).
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
    *guid = GUID_NULL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) override {
    *source = SysAllocString(u"Provider");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) override {
    *description = SysAllocString(description_.c_str());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* file) override {
    *file = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* context) override {
    *context = 0;
    return S_OK;
  }

  // IErrorRecords
  HRESULT STDMETHODCALLTYPE AddErrorRecord(ERRORINFO*, DWORD, DISPPARAMS*, IUnknown*,
                                           DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetBasicErrorInfo(ULONG i, ERRORINFO* info) override {
    if (i >= records_.size()) return DB_E_BADRECORDNUM;
    *info = ERRORINFO{records_[i].hr, 0, GUID_NULL, records_[i].iid, 0};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCustomErrorObject(ULONG, REFIID, IUnknown** out) override {
    *out = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetErrorInfo(ULONG i, LCID, IErrorInfo** out) override {
    *out = nullptr;
    if (i >= records_.size()) return DB_E_BADRECORDNUM;
    ICreateErrorInfo* creator = nullptr;
    if (FAILED(CreateErrorInfo(&creator))) return E_OUTOFMEMORY;
    creator->SetDescription(records_[i].description.data());
    creator->SetSource(records_[i].source.data());
    const HRESULT hr = creator->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(out));
    creator->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetErrorParameters(ULONG, DISPPARAMS*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRecordCount(ULONG* count) override {
    *count = static_cast<ULONG>(records_.size());
    return S_OK;
  }

 private:
  static constexpr HRESULT DB_E_BADRECORDNUM = static_cast<HRESULT>(0x80040E2F);
  ~FakeErrorRecords() = default;
  std::vector<FakeRecord> records_;
  std::u16string description_;
  ULONG refs_ = 1;
};

}  // namespace

IErrorInfo* CreateFakeErrorRecords(std::vector<FakeRecord> records, std::u16string description) {
  return new FakeErrorRecords(std::move(records), std::move(description));
}

void SetThreadError(const char16_t* description, const char16_t* source) {
  ICreateErrorInfo* creator = nullptr;
  if (FAILED(CreateErrorInfo(&creator))) return;
  std::u16string d = description, s = source;
  creator->SetDescription(d.data());
  creator->SetSource(s.data());
  IErrorInfo* info = nullptr;
  creator->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  creator->Release();
  SetErrorInfo(0, info);
  if (info != nullptr) info->Release();
}

std::u16string TakeThreadErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return u"<none>";
  BSTR text = nullptr;
  info->GetDescription(&text);
  info->Release();
  std::u16string result = text == nullptr ? u"" : std::u16string(text, SysStringLen(text));
  SysFreeString(text);
  return result;
}

std::vector<std::u16string> SplitChain(const std::u16string& chain) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = chain.find(u"\r\n", start);
    parts.push_back(
        chain.substr(start, at == std::u16string::npos ? std::u16string::npos : at - start));
    if (at == std::u16string::npos) break;
    start = at + 2;
  }
  return parts;
}

}  // namespace kx::test
