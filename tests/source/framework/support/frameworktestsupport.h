// Test doubles for the framework tests.
//
// RecordingHook: a tracer hook that keeps every piece written, in order.
// Installing it (ScopedTraceCapture) replaces the tracer's hook and level
// for the scope and puts them back afterwards.
//
// TestJournal: the host journal as the tracer reaches it, whose Invoke accepts exactly the journal
// write (DISPID 0xFFFF, one VT_BSTR argument) and records the text; any other call is refused and
// counted. Reference counted; deleted with its last Release.
//
// FakeErrorRecords: an error object that is IErrorInfo and IErrorRecords,
// carrying a list of OLE DB error records (code, interface id, description,
// source).
#pragma once

#include <string>
#include <vector>

#include "com/errorinfo.h"
#include "com/oleauto.h"
#include "com/types.h"
#include "host/settings.h"
#include "kxtrace.h"

namespace kx::test {

std::string Narrow(const std::u16string& text);
std::string Narrow(const OLECHAR* text);

class RecordingHook final : public KXCETracerHook {
 public:
  void Write(const OLECHAR* text) override { pieces.emplace_back(text); }
  std::u16string Joined() const;
  std::vector<std::u16string> pieces;
};

class ScopedTraceCapture {
 public:
  explicit ScopedTraceCapture(int32_t level = kTraceLevelHigh);
  ScopedTraceCapture(const ScopedTraceCapture&) = delete;
  ScopedTraceCapture& operator=(const ScopedTraceCapture&) = delete;
  ~ScopedTraceCapture();
  RecordingHook hook;

 private:
  KXCETracerHook* savedHook_;
  int32_t savedLevel_;
};

class TestJournal final : public IKXQJournal {
 public:
  static TestJournal* Create();  // one reference, the caller's
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) override;
  // The C++ form of the write; counted apart (the tracer must use Invoke).
  HRESULT Write(BSTR text) override;
  int directWrites = 0;

  std::vector<std::u16string> lines;
  int refusedCalls = 0;
  LCID lastLcid = 0;
  ULONG refs() const { return refs_; }

 private:
  TestJournal() = default;
  ~TestJournal() = default;
  ULONG refs_ = 1;
};

struct FakeRecord {
  HRESULT hr;
  IID iid;
  std::u16string description;
  std::u16string source;
};

// Creates an error object holding `records`; one reference, the caller's.
IErrorInfo* CreateFakeErrorRecords(std::vector<FakeRecord> records, std::u16string description);

// Sets a plain error information (description, source) on the thread.
void SetThreadError(const char16_t* description, const char16_t* source);
// The description of the thread's error information (taken off the
// thread), or "<none>".
std::u16string TakeThreadErrorDescription();

// Splits a "<KXError" chain at CR LF.
std::vector<std::u16string> SplitChain(const std::u16string& chain);

}  // namespace kx::test
