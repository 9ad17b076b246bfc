#include "moduletestsupport.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdexcept>

#include "com/activation.h"
#include "com/comutil.h"
#include "com/errorinfo.h"
#include "com/wstr.h"
#include "host/events.h"
#include "main/datasheetservices.h"
#include "pages/annotations.h"

namespace kx::test::inprocess {

SeamLog& Seams() {
  static SeamLog log;
  return log;
}

void ResetSeams() { Seams() = SeamLog{}; }

std::string Narrow(std::u16string_view text) { return kx_utf16_to_utf8_lossy(text); }
std::string Narrow(const OLECHAR* text) {
  return text == nullptr ? std::string("<null>") : Narrow(std::u16string_view(text));
}

HRESULT FakeObject::get_Id(LONG* id) {
  if (id == nullptr) return E_POINTER;
  *id = id_;
  return S_OK;
}

HRESULT FakeObject::IsOfClass(VARIANT cls, VARIANT_BOOL* is) {
  ++isOfClassCalls;
  if (is == nullptr) return E_POINTER;
  *is = VARIANT_FALSE;
  if (throwIsOfClass) throw std::runtime_error("class test threw");
  if (failIsOfClass) return kx_set_error_info(E_FAIL, u"class test refused");
  if (cls.vt != VT_BSTR) return E_INVALIDARG;
  for (const std::u16string& name : classes_) {
    if (kx_wcsicmp(name, cls.bstrVal == nullptr ? u"" : cls.bstrVal) == 0) *is = VARIANT_TRUE;
  }
  return S_OK;
}

HRESULT FakeArgument::query_extra(REFIID riid, void** ppv) {
  if (!IsEqualGUID(riid, answers_)) return E_NOINTERFACE;
  *ppv = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

std::string ObjectText(IKXQObject* object) {
  if (object == nullptr) return "null";
  LONG id = 0;
  object->get_Id(&id);
  return std::to_string(id);
}

kx::host::Ref<IKXQDataService> CreateInProcessMain(MainWorkers* workers) {
  IKXQDataService* service = nullptr;
  if (FAILED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&service)))) {
    return {};
  }
  MainOf(service).UseWorkers(workers);
  return kx::host::Ref<IKXQDataService>::Adopt(service);
}

Main& MainOf(IKXQDataService* service) { return static_cast<Main&>(*service); }

std::string ModulePath() { return kx_platform_library_dir() + "libKXDBDatasheetSvcs.so"; }

HRESULT RegisterBuiltModule() {
  void* library = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return CO_E_DLLNOTFOUND;
  auto registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllRegisterServer"));
  return registerServer == nullptr ? CO_E_ERRORINDLL : registerServer();
}

kx::host::Ref<IKXQDataService> ActivateModule() {
  if (FAILED(RegisterBuiltModule())) return {};
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(u"KXDBDatasheetSvcs.Main", &clsid))) return {};
  IKXQDataService* service = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKXQDataService,
                              reinterpret_cast<void**>(&service)))) {
    return {};
  }
  return kx::host::Ref<IKXQDataService>::Adopt(service);
}

void ConfigureHost(kx::host::Host& host) {
  host.journal().Capture();
  host.settings().Set(u"TraceLevel::JournalTrace", u"yes");
  host.settings().Set(u"TraceLevel::General", u"high");
}

std::string ErrorText(const kx::host::CallResult& result) { return Narrow(result.error); }

// ---------------------------------------------------------------------------
// Recording workers.

namespace {

HRESULT Record(std::string line) {
  Seams().calls.push_back(std::move(line));
  if (FAILED(Seams().result)) {
    return kx_set_error_info(Seams().result, u"recorded worker failed", u"moduletest");
  }
  return Seams().result;
}

std::string Text(const SAXText& text) {
  return text.IsNull() ? "<null>" : "\"" + Narrow(text.str()) + "\"";
}

// The envelope's values, as every annotation line starts.
std::string Envelope(const char* message, const MessageParser& request) {
  return std::string(message) + " target=" + Text(request.m_targetId) +
         " status=" + std::to_string(request.m_status);
}

std::string Describe(MessageParser& request) {
  if (auto* p = dynamic_cast<CreateAnnotationMessageParser*>(&request)) {
    return Envelope("CreateAnnotation", *p) + " page=" + std::to_string(p->m_pageId) +
           " value=" + Text(p->m_value) + " x=" + std::to_string(p->m_x) +
           " y=" + std::to_string(p->m_y) + " markup=" + std::to_string(p->m_markup ? 1 : 0);
  }
  if (auto* p = dynamic_cast<SetAnnotationMessageParser*>(&request)) {
    return Envelope("SetAnnotation", *p) + " page=" + std::to_string(p->m_pageId) +
           " annotation=" + std::to_string(p->m_annotationId) + " value=" + Text(p->m_value);
  }
  if (auto* p = dynamic_cast<MoveAnnotationMessageParser*>(&request)) {
    return Envelope("MoveAnnotation", *p) + " page=" + std::to_string(p->m_pageId) +
           " annotation=" + std::to_string(p->m_annotationId) + " x=" + std::to_string(p->m_x) +
           " y=" + std::to_string(p->m_y);
  }
  return {};
}

class Recorder final : public MainWorkers {
 public:
  HRESULT RunWorker(MessageParser& request, uint32_t element) override {
    const std::string line = Describe(request);
    if (line.empty()) return MainWorkers::RunWorker(request, element);
    if (Seams().action) {
      const HRESULT hr = Seams().action(*request.m_pMain);
      if (FAILED(hr)) return hr;
    }
    return Record(line);
  }

  HRESULT HandleCreateEvent(Main&, IKXQObject* object) override {
    return Record("HandleCreateEvent(" + ObjectText(object) + ")");
  }
  HRESULT HandleDeleteEvent(Main&, IKXQObject* object) override {
    return Record("HandleDeleteEvent(" + ObjectText(object) + ")");
  }
  HRESULT HandleDeleteCaseEvent(Main&, IKXQObject* object, LONG caseNumber) override {
    return Record("HandleDeleteCaseEvent(" + ObjectText(object) + "," + std::to_string(caseNumber) +
                  ")");
  }
  HRESULT HandleUpdateProjectEvent(Main&, IKXQProjectUpdate* update) override {
    return Record(std::string("HandleUpdateProjectEvent(") + (update ? "update" : "null") + ")");
  }
  HRESULT HandleDeleteProjectEvent(Main&, IKXQProject* project) override {
    return Record(std::string("HandleDeleteProjectEvent(") + (project ? "project" : "null") + ")");
  }
  HRESULT HandleChangeClassEvent(Main&, IKXQObject* object, IKXQClass* newClass) override {
    return Record("HandleChangeClassEvent(" + ObjectText(object) + "," +
                  (newClass ? "class" : "null") + ")");
  }
  HRESULT HandleChangeClaimStatusEvent(Main&, IKXQObject* object) override {
    return Record("HandleChangeClaimStatusEvent(" + ObjectText(object) + ")");
  }

  HRESULT SummarySheetClasses(Main&, IDispatch*, VARIANT* classes) override {
    Seams().calls.push_back("SummarySheetClasses");
    if (FAILED(Seams().result)) return kx_set_error_info(Seams().result, u"no classes");
    VariantClear(classes);
    const auto& names = Seams().summaryClasses;
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(names.size()));
    for (LONG i = 0; i < static_cast<LONG>(names.size()); ++i) {
      _bstr_t name(names[i]);
      SafeArrayPutElement(array, &i, static_cast<BSTR>(static_cast<OLECHAR*>(name)));
    }
    classes->vt = VT_ARRAY | VT_BSTR;
    classes->parray = array;
    return S_OK;
  }

  HRESULT ValidateDatasheetObject(Main&, IKXQObject* datasheet) override {
    return Record("ValidateDatasheetObject(" + ObjectText(datasheet) + ")");
  }
  HRESULT ValidateLabelObject(Main&, IKXQObject* label, LONG status) override {
    return Record("ValidateLabelObject(" + ObjectText(label) + "," + std::to_string(status) + ")");
  }
  HRESULT WriteRealFieldsWithUOM(Main&, IKXQObject* datasheet, BSTR* xml) override {
    *xml = SysAllocString(u"<RealFields/>");
    return Record("WriteRealFieldsWithUOM(" + ObjectText(datasheet) + ")");
  }
};

}  // namespace

MainWorkers& RecordingWorkers() {
  static Recorder recorder;
  return recorder;
}

StoreHost::StoreHost(const char* fixture) : TestHost(fixture, kx::test::Projects::kNone) {
  AttachMain(&MainWorkers::Defaults());
}

std::string StoreHost::Text(LONG id, const char16_t* attribute, LONG position) {
  IKXQObjectPtr object;
  if (FAILED(database()->get_Object(id, &object))) return "(no object)";
  return kx::test::TextAt(object, attribute, position).value_or("(none)");
}

}  // namespace kx::test::inprocess
