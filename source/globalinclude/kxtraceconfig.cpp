// The tracer's configuration from the host application.
#include <string>

#include "com/oleauto.h"
#include "host/application.h"
#include "host/settings.h"
#include "kxtrace.h"

namespace {

// The named setting's text; empty when the host has none or fails.
std::u16string ReadSetting(IKXQSettings* settings, const OLECHAR* name) {
  BSTR key = SysAllocString(name);
  BSTR value = nullptr;
  std::u16string text;
  if (key != nullptr && SUCCEEDED(settings->GetValue(key, &value)) && value != nullptr) {
    text.assign(value, SysStringLen(value));
  }
  SysFreeString(value);
  SysFreeString(key);
  return text;
}

IDispatch* JournalOf(void* cookie) {
  IKXQJournal* journal = nullptr;
  if (FAILED(static_cast<IKXQApplication*>(cookie)->get_Journal(&journal))) return nullptr;
  return journal;  // the reference passes to the hook
}

}  // namespace

void ConfigureTracer(IKXQApplication* application) {
  using namespace DataServiceKXCETracer;
  if (!ClaimConfiguration() || application == nullptr) return;
  IKXQSettings* settings = nullptr;
  if (FAILED(application->get_Settings(&settings)) || settings == nullptr) return;
  const std::u16string journalTrace = ReadSetting(settings, u"TraceLevel::JournalTrace");
  const std::u16string general = ReadSetting(settings, u"TraceLevel::General");
  settings->Release();
  ApplyTracerSettings(journalTrace.c_str(), general.c_str(), &JournalOf, application);
}
