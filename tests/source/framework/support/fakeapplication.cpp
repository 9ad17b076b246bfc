#include "fakeapplication.h"

#include <span>
#include <utility>

#include "com/dispatch_impl.h"
#include "frameworktestsupport.h"
#include "host/settings.h"

namespace kx::test {

namespace {

class FakeSettings final : public kx::com::DispatchImpl<FakeSettings, IKXQSettings> {
 public:
  explicit FakeSettings(std::map<std::u16string, std::u16string> values)
      : values_(std::move(values)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
  }
  std::span<const kx::com::DispatchEntry> dispatch_entries() const { return {}; }
  HRESULT GetValue(BSTR name, BSTR* value) override {
    *value = nullptr;
    auto found = values_.find(name == nullptr ? u"" : std::u16string(name, SysStringLen(name)));
    if (found != values_.end()) *value = SysAllocString(found->second.c_str());
    return S_OK;
  }
  HRESULT GetFolder(BSTR, BSTR* path) override {
    *path = nullptr;
    return S_OK;
  }

 private:
  ~FakeSettings() = default;
  std::map<std::u16string, std::u16string> values_;
  ULONG refs_ = 1;
};

class FakeApplicationImpl final
    : public kx::com::DispatchImpl<FakeApplicationImpl, FakeApplication> {
 public:
  FakeApplicationImpl(std::map<std::u16string, std::u16string> settings, TestJournal* journal)
      : settings_(std::move(settings)), journal_(journal) {
    if (journal_ != nullptr) journal_->AddRef();
  }
  ~FakeApplicationImpl() {
    if (journal_ != nullptr) journal_->Release();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
  }
  std::span<const kx::com::DispatchEntry> dispatch_entries() const { return {}; }

  HRESULT get_Settings(IKXQSettings** settings) override {
    ++settingsAsked;
    *settings = hasSettings ? new FakeSettings(settings_) : nullptr;
    return S_OK;
  }
  HRESULT get_Journal(IKXQJournal** journal) override {
    ++journalAsked;
    *journal = journal_;
    if (journal_ != nullptr) journal_->AddRef();
    return S_OK;
  }

  HRESULT get_Schema(IKXQSchema**) override { return E_NOTIMPL; }
  HRESULT get_Database(IKXQDatabase**) override { return E_NOTIMPL; }
  HRESULT get_TemplateLibrary(IKXQTemplateLibrary**) override { return E_NOTIMPL; }
  HRESULT get_Privileges(IKXQPrivileges**) override { return E_NOTIMPL; }
  HRESULT get_ActiveProject(IKXQProject**) override { return E_NOTIMPL; }
  HRESULT get_RootProject(IKXQProject**) override { return E_NOTIMPL; }
  HRESULT SwitchEvaluation(LONG, VARIANT*) override { return E_NOTIMPL; }
  HRESULT get_CurrentDatasheet(IKXQObject**) override { return E_NOTIMPL; }
  HRESULT put_CurrentDatasheet(IKXQObject*) override { return E_NOTIMPL; }
  HRESULT get_CurrentPage(IKXQObject**) override { return E_NOTIMPL; }
  HRESULT put_CurrentPage(IKXQObject*) override { return E_NOTIMPL; }
  HRESULT LogWarning(BSTR) override { return E_NOTIMPL; }
  HRESULT LogNotice(BSTR) override { return E_NOTIMPL; }
  HRESULT ShowMessage(BSTR) override { return E_NOTIMPL; }
  HRESULT LogDiagnostic(BSTR) override { return E_NOTIMPL; }
  HRESULT GetLocalPrivileges(SAFEARRAY**) override { return E_NOTIMPL; }
  HRESULT PostEvent(IKXQApplicationEvent*) override { return E_NOTIMPL; }
  HRESULT GetPendingEvents(SAFEARRAY**) override { return E_NOTIMPL; }
  HRESULT BeginObjectCreation() override { return E_NOTIMPL; }
  HRESULT EndObjectCreation() override { return E_NOTIMPL; }
  HRESULT get_ClassConfirmation(IKXQClassConfirmation**) override { return E_NOTIMPL; }
  HRESULT CreateObjectCollection(IKXQObjectCollection**) override { return E_NOTIMPL; }
  HRESULT CreateHold(BSTR, VARIANT, IKXQObject**) override { return E_NOTIMPL; }
  HRESULT CloseHold(IKXQObject*, VARIANT) override { return E_NOTIMPL; }
  HRESULT BeginTemplateWork() override { return E_NOTIMPL; }
  HRESULT EndTemplateWork() override { return E_NOTIMPL; }
  HRESULT get_RebuildMode(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT put_RebuildMode(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT GetService(BSTR, IDispatch**) override { return E_NOTIMPL; }

 private:
  std::map<std::u16string, std::u16string> settings_;
  TestJournal* journal_;
  ULONG refs_ = 1;
};

}  // namespace

FakeApplication* CreateFakeApplication(std::map<std::u16string, std::u16string> settings,
                                       TestJournal* journal) {
  return new FakeApplicationImpl(std::move(settings), journal);
}

}  // namespace kx::test
