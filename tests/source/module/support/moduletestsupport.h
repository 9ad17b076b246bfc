// Test doubles and helpers for the module's tests.
//
// Recording workers: a Main created in-process (CreateInProcessMain) is
// given a worker table (MainWorkers) whose annotation workers,
// database-event handlers, SummarySheetClasses and automation-method
// workers record what they received instead of working. Each appends one
// line describing it to Seams().calls and returns Seams().result (S_OK
// unless a test sets it); a failing one leaves an error description on the
// thread as a real worker would. `action`, when set, runs inside the
// annotation workers (a test writes a reply through it). The module loaded
// by activation keeps the real table.
//
// FakeObject: an IKXQObject with an id and the classes it belongs to;
// IsOfClass answers from them (case-insensitively) or fails on request.
// Every other operation fails with E_NOTIMPL.
//
// FakeArgument: an IDispatch that answers QueryInterface for one given
// interface id (besides IUnknown/IDispatch) and nothing else: the argument
// of a database event. It has no behaviour of its own; the recording seams
// never call it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "com/dispatch_impl.h"
#include "host/host.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "store/admin.h"
#include "store/object.h"
#include "testhost.h"

namespace kx::test::inprocess {

struct SeamLog {
  std::vector<std::string> calls;
  HRESULT result = S_OK;
  // Classes that the recording SummarySheetClasses hands out.
  std::vector<std::u16string> summaryClasses{u"Pump", u"Vessel"};
  std::function<HRESULT(MainContext&)> action;
};

// Cleared by ResetSeams(), which every fixture calls.
SeamLog& Seams();
void ResetSeams();

std::string Narrow(std::u16string_view text);
std::string Narrow(const OLECHAR* text);

class FakeObject final : public kx::com::DispatchObject<FakeObject, IKXQObject> {
 public:
  FakeObject(LONG id, std::vector<std::u16string> classes)
      : id_(id), classes_(std::move(classes)) {}
  std::span<const kx::com::DispatchEntry> dispatch_entries() const { return {}; }

  bool failIsOfClass = false;
  // Throws std::runtime_error from IsOfClass: a callee that breaks the rule
  // that nothing but HRESULTs crosses an interface.
  bool throwIsOfClass = false;
  int isOfClassCalls = 0;

  HRESULT get_Id(LONG* id) override;
  HRESULT IsOfClass(VARIANT cls, VARIANT_BOOL* is) override;
  HRESULT get_Class(IKXQClass**) override { return E_NOTIMPL; }
  HRESULT get_Name(VARIANT, BSTR*) override { return E_NOTIMPL; }
  HRESULT get_Attribute(BSTR, VARIANT, IKXQAttribute**) override { return E_NOTIMPL; }
  HRESULT GetOwner(IKXQObject**, LONG) override { return E_NOTIMPL; }
  HRESULT put_Owner(IKXQObject*) override { return E_NOTIMPL; }
  HRESULT get_HoldingAttributeName(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_ContainingAttribute(IKXQAttribute**) override { return E_NOTIMPL; }
  HRESULT Delete() override { return E_NOTIMPL; }
  HRESULT Unlink() override { return E_NOTIMPL; }
  HRESULT Copy(IKXQObject**) override { return E_NOTIMPL; }
  HRESULT get_Claimants(SAFEARRAY**) override { return E_NOTIMPL; }
  HRESULT IsScoped(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT TestFilter(VARIANT, LONG*) override { return E_NOTIMPL; }
  HRESULT get_EvaluationContext(IKXQEvaluationContext**) override { return E_NOTIMPL; }
  HRESULT get_Users(SAFEARRAY**) override { return E_NOTIMPL; }
  HRESULT PutUser(BSTR, LONG) override { return E_NOTIMPL; }
  HRESULT HasTrigger(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT get_Trigger(BSTR, IKXQTrigger**) override { return E_NOTIMPL; }
  HRESULT RemoveTrigger(BSTR) override { return E_NOTIMPL; }
  HRESULT CallMethod(BSTR, SAFEARRAY*, VARIANT*) override { return E_NOTIMPL; }
  HRESULT WorkflowAction(LONG, VARIANT) override { return E_NOTIMPL; }
  HRESULT OpenVersion(LONG, VARIANT) override { return E_NOTIMPL; }
  HRESULT CloseVersion(VARIANT) override { return E_NOTIMPL; }
  HRESULT CheckPrivilege(BSTR, BSTR, VARIANT_BOOL*, BSTR*) override { return E_NOTIMPL; }
  HRESULT GetView(VARIANT, IKXQView**) override { return E_NOTIMPL; }
  HRESULT get_Representation(BSTR, IUnknown**) override { return E_NOTIMPL; }
  HRESULT get_IsStatusCopy(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT Bind(VARIANT, IUnknown**) override { return E_NOTIMPL; }
  HRESULT PutText(VARIANT) override { return E_NOTIMPL; }

 private:
  LONG id_;
  std::vector<std::u16string> classes_;
};

class FakeArgument final : public kx::com::DispatchObject<FakeArgument, IDispatch> {
 public:
  explicit FakeArgument(const IID& answers) : answers_(answers) {}
  std::span<const kx::com::DispatchEntry> dispatch_entries() const { return {}; }
  HRESULT query_extra(REFIID riid, void** ppv);

 private:
  IID answers_;
};

// Creates a fake (whose count starts at one, unlike the host's objects),
// owned by the result.
template <class T, class... Args>
kx::host::Ref<T> MakeFake(Args&&... args) {
  return kx::host::Ref<T>::Adopt(new T(std::forward<Args>(args)...));
}

// The id of a store object for the recording seams' lines ("null" for none).
std::string ObjectText(IKXQObject* object);

// The recording worker table described above.
MainWorkers& RecordingWorkers();

// A Main created in-process, given `workers` (the recording ones unless a
// test passes others), as the host holds it.
kx::host::Ref<IKXQDataService> CreateInProcessMain(MainWorkers* workers = &RecordingWorkers());
// The Main behind such a service.
Main& MainOf(IKXQDataService* service);

// Loads the module library from the build tree, registers it in the
// registration store and creates Main by activation of its ProgID.
std::string ModulePath();
HRESULT RegisterBuiltModule();
kx::host::Ref<IKXQDataService> ActivateModule();

// A host driver with the module attached: journal captured in memory,
// "TraceLevel::JournalTrace" yes and "TraceLevel::General" high.
void ConfigureHost(kx::host::Host& host);

// The error description the module left, in UTF-8.
std::string ErrorText(const kx::host::CallResult& result);

// The shared test host (testhost.h) on an in-memory store made from a
// fixture text, with a Main created in-process (the real workers)
// attached; its application reports no project.
class StoreHost : public kx::test::TestHost {
 public:
  explicit StoreHost(const char* fixture);

  // The text of `attribute` of object `id` (at a 1-based `position`, 0 for
  // the single value); "(none)" when it holds no text.
  std::string Text(LONG id, const char16_t* attribute, LONG position = 0);
};

}  // namespace kx::test::inprocess
