// The module's tracer: one per process, writing diagnostic lines piece by
// piece to an output hook. Without a hook every trace is discarded.
//
// Severities used by the module: 0 parser detail, 1 method entry, 3 errors.
// A line is written when its severity is above the tracer's level.
//
// Thread affinity: the tracer is created under the runtime's static guard;
// configuration and writes happen on the host's apartment thread and take
// no lock.
#pragma once

#include <cstdint>

#include "com/types.h"

struct IDispatch;
struct IKXQApplication;

// Receives one piece of trace text (zero-terminated, not owned, valid only
// for the call).
class KXCETracerHook {
 public:
  virtual void Write(const OLECHAR* text) = 0;

 protected:
  ~KXCETracerHook() = default;
};

class Tracer {
 public:
  static constexpr int kPrefixCapacity = 16;

  int32_t level = 1;
  OLECHAR prefix[kPrefixCapacity] = u"&KXCE&";
  KXCETracerHook* hook = nullptr;  // not owned
};

// Trace levels set by "TraceLevel::General".
inline constexpr int32_t kTraceLevelNone = 3;
inline constexpr int32_t kTraceLevelLow = 2;
inline constexpr int32_t kTraceLevelNormal = 1;
inline constexpr int32_t kTraceLevelHigh = 0;

// The process's tracer, created on first call.
Tracer& GetTracer();

// Writes one line when severity > tracer.level and a hook is installed.
// Kinds: '>' entry, '<' leave, '!' error, '.' detail, 'a' framework text;
// any other kind writes only the prefix.
void Trace(Tracer& tracer, int32_t severity, char kind, const OLECHAR* text);
inline void Trace(int32_t severity, char kind, const OLECHAR* text) {
  Trace(GetTracer(), severity, kind, text);
}

// The level for a "TraceLevel::General" value ("none", "low", "normal",
// "high", any letter case); false for any other value (null, empty
// included), which leaves the level as it is.
bool TraceLevelFromText(const OLECHAR* text, int32_t* level);

namespace DataServiceKXCETracer {

// Forwards trace text to the host journal: Invoke(DISPID 0xFFFF, IID_NULL,
// lcid 2, DISPATCH_METHOD, one VT_BSTR argument); the result is ignored.
// Holds one reference to the journal until the process ends.
class CustomKXCETracerHook final : public KXCETracerHook {
 public:
  void Write(const OLECHAR* text) override;

  IDispatch* journal = nullptr;  // held
  bool installed = false;
  KXCETracerHook* previous = nullptr;
};

// The hook singleton (created on first use, lives for the process).
CustomKXCETracerHook& GetJournalHook();

// Provides the journal on demand: returns it with a reference the caller
// takes over, or null.
using JournalSource = IDispatch* (*)(void* cookie);

// The work of ConfigureTracer on already-read settings: installs the journal
// hook when `journalTrace` is "yes" (any case) and a journal is obtained,
// and sets the level from `general`. No once-per-process guard.
void ApplyTracerSettings(const OLECHAR* journalTrace, const OLECHAR* general,
                         JournalSource journalSource, void* cookie);

// Marks the configuration as done; true only for the first call of the
// process.
bool ClaimConfiguration();

// Once per process (the flag is set before anything is read): as
// ApplyTracerSettings. Returns false when the configuration had already
// run and nothing was done.
bool ConfigureTracerOnce(const OLECHAR* journalTrace, const OLECHAR* general,
                         JournalSource journalSource, void* cookie);

// For tests only: forgets that the configuration ran, uninstalls the journal
// hook (putting back the hook it replaced), releases the journal and sets
// the level back to 1.
void ResetTracerForTesting();

}  // namespace DataServiceKXCETracer

// Reads "TraceLevel::JournalTrace" and "TraceLevel::General" from the host
// application's settings and installs the journal hook; once per process
// (later calls, whatever their settings, change nothing). Without settings
// nothing more happens. Called from Main's attach.
void ConfigureTracer(IKXQApplication* application);
