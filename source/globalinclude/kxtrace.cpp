#include "kxtrace.h"

#include <atomic>

#include "com/dispatch.h"
#include "com/oleauto.h"
#include "com/wstr.h"

Tracer& GetTracer() {
  static Tracer tracer;
  return tracer;
}

void Trace(Tracer& tracer, int32_t severity, char kind, const OLECHAR* text) {
  if (severity <= tracer.level || tracer.hook == nullptr) return;
  KXCETracerHook& hook = *tracer.hook;
  const OLECHAR* body = text != nullptr ? text : u"";
  hook.Write(tracer.prefix);
  switch (kind) {
    case '>':
      hook.Write(u" >>>> Enter ");
      hook.Write(body);
      hook.Write(u"()\n");
      break;
    case '<':
      hook.Write(u" <<<< Leave ");
      hook.Write(body);
      hook.Write(u"()\n");
      break;
    case '!':
      hook.Write(u" !!!! ");
      hook.Write(body);
      hook.Write(u"\n");
      break;
    case '.':
      hook.Write(u" ....      ");
      hook.Write(body);
      hook.Write(u"\n");
      break;
    case 'a': {
      hook.Write(u" .... ATL: ");
      hook.Write(body);
      const size_t length = kx_wcslen(body);
      if (length == 0 || body[length - 1] != u'\n') hook.Write(u"\n");
      break;
    }
    default: break;
  }
}

bool TraceLevelFromText(const OLECHAR* text, int32_t* level) {
  if (text == nullptr) return false;
  static constexpr struct {
    const OLECHAR* name;
    int32_t level;
  } kLevels[] = {{u"none", kTraceLevelNone},
                 {u"low", kTraceLevelLow},
                 {u"normal", kTraceLevelNormal},
                 {u"high", kTraceLevelHigh}};
  for (const auto& entry : kLevels) {
    if (_wcsicmp(text, entry.name) == 0) {
      *level = entry.level;
      return true;
    }
  }
  return false;
}

namespace DataServiceKXCETracer {

namespace {

// The hook owns its journal reference for the life of the process; the
// holder releases it when the process ends.
struct HookHolder {
  CustomKXCETracerHook hook;
  ~HookHolder() {
    if (hook.journal != nullptr) hook.journal->Release();
  }
};

HookHolder& Holder() {
  static HookHolder holder;
  return holder;
}

// Claimed once per process, whichever thread attaches first.
std::atomic<bool> g_configured{false};

}  // namespace

void CustomKXCETracerHook::Write(const OLECHAR* text) {
  if (journal == nullptr) return;
  VARIANTARG argument;
  VariantInit(&argument);
  argument.vt = VT_BSTR;
  argument.bstrVal = SysAllocString(text);
  if (argument.bstrVal == nullptr && text != nullptr && text[0] != 0) return;
  DISPPARAMS params{};
  params.rgvarg = &argument;
  params.cArgs = 1;
  // Journal write: DISPID 0xFFFF, lcid 2, flags 0, no result wanted.
  (void)journal->Invoke(0xFFFF, IID_NULL, 2, 0, &params, nullptr, nullptr, nullptr);
  VariantClear(&argument);
}

CustomKXCETracerHook& GetJournalHook() { return Holder().hook; }

void ApplyTracerSettings(const OLECHAR* journalTrace, const OLECHAR* general,
                         JournalSource journalSource, void* cookie) {
  Tracer& tracer = GetTracer();
  if (journalTrace != nullptr && _wcsicmp(journalTrace, u"yes") == 0) {
    CustomKXCETracerHook& hook = GetJournalHook();
    if (!hook.installed) {
      if (hook.journal == nullptr && journalSource != nullptr) hook.journal = journalSource(cookie);
      if (hook.journal != nullptr) {
        hook.previous = tracer.hook;
        tracer.hook = &hook;
        hook.installed = true;
      }
    }
  }
  int32_t level = 0;
  if (TraceLevelFromText(general, &level)) tracer.level = level;
}

bool ClaimConfiguration() { return !g_configured.exchange(true); }

bool ConfigureTracerOnce(const OLECHAR* journalTrace, const OLECHAR* general,
                         JournalSource journalSource, void* cookie) {
  if (!ClaimConfiguration()) return false;
  ApplyTracerSettings(journalTrace, general, journalSource, cookie);
  return true;
}

void ResetTracerForTesting() {
  g_configured.store(false);
  CustomKXCETracerHook& hook = GetJournalHook();
  Tracer& tracer = GetTracer();
  if (hook.installed && tracer.hook == &hook) tracer.hook = hook.previous;
  hook.installed = false;
  hook.previous = nullptr;
  if (hook.journal != nullptr) {
    hook.journal->Release();
    hook.journal = nullptr;
  }
  tracer.level = kTraceLevelNormal;
}

}  // namespace DataServiceKXCETracer
