// Error reporting of the data services.
//
// Inside the module failures travel as `KXComException`. At every COM
// boundary they become an HRESULT plus thread error information whose
// description is a chain of "<KXError .../>" elements, newest first,
// separated by CR LF.
//
// A COM-facing method keeps one `KXComException` on its stack: it is the
// method's error context and its trace scope (the constructor writes the
// entry line). The usual shape:
//
//   static const OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/x";
//   HRESULT Main::Foo(IKXQObject* obj) {
//     KXComException ctx(u"KXDBDatasheetSvcs::Foo");
//     try {
//       CheckPointerArgument(ctx, obj);
//       KX_CHECK(ctx, obj->get_Id(&id));          // wrapped call
//       if (bad) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL, u"...");
//     }
//     KX_CATCH(ctx, KX_HERE(kFile))
//     return ctx.Return();
//   }
//
// Outermost boundaries (the host's IKXQDataService slots and automation
// methods) use KX_CATCH_BOUNDARY instead of KX_CATCH: there an exception of
// unknown type must not reach the host, so it becomes E_UNEXPECTED with a
// "<KXError" description. Everywhere else it is traced and rethrown.
//
// Error information left on the thread is chained into the next failure
// reported, so it must not outlive its failure: request entries call
// ClearThreadErrorInfo() first, and code that absorbs a failure on purpose
// calls Absorb() on its context.
//
// Values in a description are escaped (double quote to apostrophe, & < > as
// entities); GetErrorDescription() gives the original text back.
#pragma once

#include <cstdint>
#include <string>

#include "com/bstr.h"
#include "com/comutil.h"  // _com_error, caught by KX_CATCH

// Where a failure was raised or caught. `file` is a path without extension
// such as u"source/dataservices/kxdbdatasheetsvcs/annotations"; only its last
// two components are written into a description. Not owned.
struct SourceLocation {
  const OLECHAR* file = nullptr;
  int32_t line = 0;
};

#define KX_HERE(file) (::SourceLocation{(file), __LINE__})

// The error context of one method and the exception thrown from it.
//
// Fields as the error chain needs them; copies (the thrown exception) share
// the error information with an added reference. The method name and the
// activity text are not owned and must outlive the context (string literals
// in practice).
class KXComException {
 public:
  // A fresh context: S_OK, no error information. Writes the method's entry
  // trace line (kind '>') at `severity`. `method` may be null.
  explicit KXComException(const OLECHAR* method, int32_t severity = 1);
  // A context that writes no trace line (temporary contexts, tests).
  static KXComException Silent(const OLECHAR* method = nullptr) {
    return KXComException(method, 0, false);
  }

  KXComException(const KXComException& other);
  KXComException& operator=(const KXComException& other);
  // Most contexts end without a failure: nothing to release then.
  ~KXComException() { DropErrorInfo(); }

  HRESULT hr = 0;                   // S_OK until something fails
  IErrorInfo* errorInfo = nullptr;  // held (one reference)
  int32_t severity = 0;
  const OLECHAR* methodName = nullptr;  // not owned
  const OLECHAR* activity = nullptr;    // not owned, usually null

  // Replaces the held error information; `info` gets its own reference
  // (null drops it).
  void SetErrorInfoHeld(IErrorInfo* info);
  // Releases the held error information (every check of a result does:
  // inline, as it mostly holds none).
  void DropErrorInfo() {
    if (errorInfo != nullptr) SetErrorInfoHeld(nullptr);
  }
  // Moves the thread's error information (if any) into the context,
  // replacing what it held.
  void TakeThreadErrorInfo();

  // The end of a method after its catch clauses: sets the held error
  // information (when there is one) as the thread's and returns `hr`.
  [[nodiscard]] HRESULT Return() const;

  // Absorbing a failure on purpose (a test that answers "no" when the store
  // fails): forgets the failure and clears the thread's error information so
  // that it cannot leak into an unrelated later error.
  void Absorb();

  // The description of a caught failure: that of `error`'s own error
  // information, else of the thread's (which is taken off the thread), else
  // for a failed HRESULT its system text. *text (REQUIRES: not null) is set
  // first to null, then to a new BSTR the caller frees; it stays null when
  // the description cannot be made (E_OUTOFMEMORY).
  [[nodiscard]] static HRESULT GetDescription(const KXComException& error, BSTR* text);

 private:
  // Inline: most helpers open a silent context for every call.
  KXComException(const OLECHAR* method, int32_t severityValue, bool trace)
      : severity(severityValue), methodName(method) {
    if (trace && method != nullptr) TraceEntry();
  }
  void TraceEntry() const;
};

// ReportComError, SetKXErrorInfo and ConvertErrorToKXError answer the
// context's own code, which stays in `ctx.hr`: their result may be ignored.
//
// Formats the description of the context's failure and sets it as the
// context's and the thread's error information. `location` may be null;
// `hr` is used when negative, else the context's own code; `format` (Windows
// wide-printf rules) may be null.
HRESULT ReportComError(KXComException& ctx, const SourceLocation* location, HRESULT hr,
                       const OLECHAR* format, ...);

// ReportComError with the context's own HRESULT, then throws a copy.
[[noreturn]] void ThrowKXComException(KXComException& ctx, const SourceLocation& location,
                                      const OLECHAR* format, ...);
// ReportComError with `hr` (no location), sets it on the context, throws.
[[noreturn]] void ThrowKXComExceptionHr(KXComException& ctx, HRESULT hr, const OLECHAR* format,
                                        ...);
// ReportComError with location and `hr`, sets it on the context, throws.
[[noreturn]] void ThrowKXComExceptionHrAt(KXComException& ctx, const SourceLocation& location,
                                          HRESULT hr, const OLECHAR* format, ...);

// The error path of a wrapped call: `ctx.hr` holds the failure and
// `ctx.errorInfo` the callee's information. Without format, method name and
// activity the callee's description is kept (or converted); otherwise a new
// element is reported in front. Always throws.
[[noreturn]] void ThrowIfFailed(KXComException& ctx, const OLECHAR* format = nullptr, ...);

// The failure path of CheckResult(ctx, hr): takes the thread's error
// information and throws through ThrowIfFailed.
[[noreturn]] void ThrowCheckedResult(KXComException& ctx, HRESULT hr);
// A wrapped call's result: drops the context's error information; on failure
// takes the thread's error information and throws through ThrowIfFailed.
// Inline: nearly every store and host call is checked, and nearly all succeed.
inline void CheckResult(KXComException& ctx, HRESULT hr) {
  ctx.DropErrorInfo();
  if (FAILED(hr)) ThrowCheckedResult(ctx, hr);
}
// The same, the failure reported in front under `format` (Windows
// wide-printf rules).
void CheckResult(KXComException& ctx, HRESULT hr, const OLECHAR* format, ...);
// The same, the failure raised at `location` as ThrowKXComException does.
void CheckResult(KXComException& ctx, HRESULT hr, const SourceLocation& location);

// Evaluates a call to a host or store interface the wrapped way; a format
// and its arguments, or a location, may follow the call.
#define KX_CHECK(ctx, ...) ::CheckResult((ctx), __VA_ARGS__)

// Throws E_POINTER with "Invalid pointer passed to method %ls" (or the given
// message) when `pointer` is null.
void CheckPointerArgument(KXComException& ctx, const void* pointer, const OLECHAR* format, ...);
// The same with the default message; inline, as the pointer is nearly always
// there.
inline void CheckPointerArgument(KXComException& ctx, const void* pointer) {
  if (pointer == nullptr) CheckPointerArgument(ctx, pointer, nullptr);
}

// For a failed context: keeps an existing "<KXError" description, else
// converts the foreign one; sets it on the thread. Returns ctx.hr.
HRESULT SetKXErrorInfo(KXComException& ctx);

// Turns the context's foreign error information (OLE DB records or a plain
// description) into "<KXError" elements, sets them as the context's and
// the thread's information. `description` (may be null) receives a new BSTR
// the caller frees.
HRESULT ConvertErrorToKXError(KXComException& ctx, BSTR* description = nullptr);

// The "Desc" of the first element when `text` is a "<KXError" chain (entities
// decoded), else a copy of `text`. Returns a new BSTR; the caller frees it.
// A null text gives a null BSTR.
[[nodiscard]] BSTR GetErrorDescription(const OLECHAR* text);

// The system message for `hr`, or "Unknown error 0x%0lX". New BSTR, the
// caller frees it.
[[nodiscard]] BSTR GetHResultMessage(HRESULT hr);

// The name written into "HR": "E_FAIL" etc. for eight well-known codes,
// else "0x" and the code in lower-case hexadecimal.
void FormatHResultName(HRESULT hr, OLECHAR (&out)[16]);

// The three catch clauses.
void HandleKXComException(KXComException& ctx, const SourceLocation& location,
                          const KXComException& caught);
void HandleComError(KXComException& ctx, const SourceLocation& location, const _com_error& error);
// Traces "!!!! Unhandled Exception !!!!" and rethrows the exception in flight.
// REQUIRES: called inside a catch handler.
[[noreturn]] void HandleUnknownException(KXComException& ctx, const SourceLocation& location);
// At an outermost COM boundary: traces, then reports E_UNEXPECTED (or
// E_OUTOFMEMORY for an allocation failure) with a "<KXError" description
// instead of letting the exception reach the host.
// REQUIRES: called inside a catch handler.
void HandleUnknownExceptionAtBoundary(KXComException& ctx, const SourceLocation& location);

// Writes "file(line) : text\n" through the tracer's hook, whatever the level.
void TraceAtLocation(const SourceLocation& location, const OLECHAR* text);

// The description of the thread's error information, which is taken off
// the thread; empty when there is none.
[[nodiscard]] std::u16string TakeThreadErrorText();

// Clears the calling thread's error information. Called at the start of each
// request and after a failure is absorbed.
void ClearThreadErrorInfo();

// The three catch clauses, the last one given.
#define KX_CATCH_CLAUSES(ctx, location, unknownHandler)    \
  catch (const ::KXComException& kx_caught_) {             \
    ::HandleKXComException((ctx), (location), kx_caught_); \
  }                                                        \
  catch (const ::_com_error& kx_caught_) {                 \
    ::HandleComError((ctx), (location), kx_caught_);       \
  }                                                        \
  catch (...) {                                            \
    unknownHandler((ctx), (location));                     \
  }

#define KX_CATCH(ctx, location) KX_CATCH_CLAUSES(ctx, location, ::HandleUnknownException)
#define KX_CATCH_BOUNDARY(ctx, location) \
  KX_CATCH_CLAUSES(ctx, location, ::HandleUnknownExceptionAtBoundary)
