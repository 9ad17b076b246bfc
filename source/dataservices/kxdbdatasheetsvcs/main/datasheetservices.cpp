#include "main/datasheetservices.h"

#include <new>
#include <span>

#include "com/comutil.h"
#include "com/dispatch_impl.h"
#include "com/errorinfo.h"
#include "host/application.h"
#include "kxcomexception.h"
#include "kxvalueutils.h"
#include "loader/kxdbdatasheetsummary.h"
#include "main/kxdbdatasheetsvcs_i.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "main/module.h"
#include "model/kxdbdatasheetpages.h"
#include "model/kxdbdatasheetutils.h"
#include "store/object.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/datasheetservices";

// The common part of the two objects: identity, plain reference count,
// IDispatch over a table, ISupportErrorInfo, the bound objects and the
// module lock.
template <class Derived, class Interface>
class ServiceObject : public kx::com::DispatchImpl<Derived, Interface>, public ISupportErrorInfo {
 public:
  ServiceObject(IKXQApplication* application, IKXQObject* object, Main* main)
      : m_pApplication(application), m_pObject(object), m_pMain(main) {
    if (m_pApplication != nullptr) m_pApplication->AddRef();
    if (m_pObject != nullptr) m_pObject->AddRef();
    if (m_pMain != nullptr) m_pMain->AddRef();
    ModuleLock();
  }
  ServiceObject(const ServiceObject&) = delete;
  ServiceObject& operator=(const ServiceObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, kx_uuidof<Interface>()) ||
        IsEqualGUID(riid, IID_IDispatch)) {
      *ppv = static_cast<Interface*>(this);
    } else if (IsEqualGUID(riid, IID_ISupportErrorInfo)) {
      *ppv = static_cast<ISupportErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualGUID(riid, kx_uuidof<Interface>()) ? S_OK : S_FALSE;
  }

 protected:
  // The standard method boundary: entry trace and error context under
  // `name`; a failed worker's HRESULT is raised at the method's `line` with
  // the error information the worker left.
  template <class Work>
  HRESULT Serve(const OLECHAR* name, int line, Work&& work) {
    constexpr FrameOptions kBoundary{.file = kFile, .boundary = true};
    return ServeRequest(name, kBoundary, [&](KXComException& ctx) {
      ctx.activity = name;
      const HRESULT hr = work();
      KX_CHECK(ctx, hr, SourceLocation{kFile, line});
      return hr;
    });
  }

  // Serve for a worker that goes through Main: it needs the application
  // Main holds, which the host's detach drops (the object keeps its own).
  template <class Work>
  HRESULT ServeThroughMain(const OLECHAR* name, int line, Work&& work) {
    return Serve(name, line,
                 [&] { return m_pMain->m_pApplication != nullptr ? work() : ReportNotAttached(); });
  }

  // Releases Main, the object and the application, then the module lock.
  virtual ~ServiceObject() {
    if (m_pMain != nullptr) m_pMain->Release();
    if (m_pObject != nullptr) m_pObject->Release();
    if (m_pApplication != nullptr) m_pApplication->Release();
    ModuleUnlock();
  }

  IKXQApplication* m_pApplication;
  IKXQObject* m_pObject;
  Main* m_pMain;

 private:
  ULONG m_refs = 0;
};

// Stores an out value into the Invoke result, or frees it when the caller
// wants no result.
void ReturnBstr(BSTR value, VARIANT* result) {
  if (result == nullptr) {
    SysFreeString(value);
    return;
  }
  result->vt = VT_BSTR;
  result->bstrVal = value;
}

void ReturnDispatch(IDispatch* value, VARIANT* result) {
  if (result == nullptr) {
    if (value != nullptr) value->Release();
    return;
  }
  result->vt = VT_DISPATCH;
  result->pdispVal = value;
}

IDispatch* DispatchArgument(const VARIANT& value) {
  const VARIANT& v = ResolveVariant(value);
  if (v.vt == VT_DISPATCH) return v.pdispVal;
  if (v.vt == (VT_DISPATCH | VT_BYREF) && v.ppdispVal != nullptr) return *v.ppdispVal;
  return nullptr;
}

// ---------------------------------------------------------------------------
class KXDatasheetServices final : public ServiceObject<KXDatasheetServices, IKXDatasheetServices> {
 public:
  using ServiceObject::ServiceObject;

  std::span<const kx::com::DispatchEntry> dispatch_entries() const;

  // The service is registered for the class "Datasheet": a method that
  // answers about the bound object refuses another ("Object 1071 is a
  // Page, not a datasheet") rather than answer for it.
  void RequireDatasheet() const {
    if (m_pObject == nullptr || KXDBDatasheetSvcs::IsObjectOfClass(m_pObject, u"Datasheet")) return;
    LONG id = 0;
    (void)m_pObject->get_Id(&id);
    KXDBDatasheetSvcs::RefuseObjectClass(m_pObject, id, u"a datasheet");
  }

  HRESULT STDMETHODCALLTYPE DatasheetName(BSTR* vName) override {
    return Serve(u"DatasheetServices::DatasheetName", __LINE__, [&] {
      RequireDatasheet();
      const HRESULT hr =
          KXDBDatasheetSvcs::GetDatasheetName(m_pApplication, m_pObject, vName, true, 1);
      if (FAILED(hr) && vName != nullptr) {
        // The caller of a failed method frees no out value, so it must not
        // get one.
        SysFreeString(*vName);
        *vName = nullptr;
      }
      return hr;
    });
  }

  HRESULT STDMETHODCALLTYPE IsSummarySheet(VARIANT_BOOL* pbIsSummary) override {
    return Serve(u"DatasheetServices::IsSummarySheet", __LINE__, [&] {
      RequireDatasheet();
      return KXDBDatasheetSvcs::IsSummarySheet(m_pApplication, m_pObject, pbIsSummary);
    });
  }

  HRESULT STDMETHODCALLTYPE GetSummarySheetProject(IDispatch** ppProject) override {
    return Serve(u"DatasheetServices::GetSummarySheetProject", __LINE__, [&] {
      RequireDatasheet();
      IKXQProject* project = nullptr;
      const HRESULT hr =
          KXDBDatasheetSvcs::GetSummarySheetProject(m_pApplication, m_pObject, &project);
      if (ppProject != nullptr) {
        *ppProject = project;  // the worker's reference passes to the caller
      } else if (project != nullptr) {
        project->Release();
      }
      return hr;
    });
  }

  HRESULT STDMETHODCALLTYPE ValidateDatasheet() override {
    return ServeThroughMain(u"DatasheetServices::ValidateDatasheet", __LINE__, [&] {
      return m_pMain->Workers().ValidateDatasheetObject(*m_pMain, m_pObject);
    });
  }

  HRESULT STDMETHODCALLTYPE DatasheetObjects(SAFEARRAY** psaObjects) override {
    return Serve(u"DatasheetServices::DatasheetObjects", __LINE__, [&] {
      RequireDatasheet();
      return KXDBDatasheetSvcs::GetDatasheetObjects(m_pApplication, m_pObject, psaObjects);
    });
  }

  // The bound object is not used: the method works on the template and
  // datasheet it is given.
  HRESULT STDMETHODCALLTYPE ProcessSummarySheet(IDispatch* pTemplate,
                                                IDispatch* pDatasheet) override {
    // The trace name is spelt as the host's journals know it.
    return ServeThroughMain(u"DatasheetServices::ProcessSummmrySheet", __LINE__, [&] {
      _com_ptr_t<IKXQTemplate> tmpl;
      _com_ptr_t<IKXQObject> datasheet;
      if (pTemplate != nullptr) {
        (void)pTemplate->QueryInterface(kx_uuidof<IKXQTemplate>(), reinterpret_cast<void**>(&tmpl));
      }
      if (pDatasheet != nullptr) {
        (void)pDatasheet->QueryInterface(kx_uuidof<IKXQObject>(),
                                         reinterpret_cast<void**>(&datasheet));
      }
      return KXDBDatasheetSvcs::ProcessSummarySheet(*m_pMain, tmpl, datasheet);
    });
  }

  HRESULT STDMETHODCALLTYPE GetRealFieldsWithUOM(BSTR* vXml) override {
    return ServeThroughMain(u"DatasheetServices::GetRealFieldsWithUOM", __LINE__, [&] {
      RequireDatasheet();
      return m_pMain->Workers().WriteRealFieldsWithUOM(*m_pMain, m_pObject, vXml);
    });
  }
};

const kx::com::DispatchEntry kDatasheetEntries[] = {
    {u"DatasheetName", DISPID_DatasheetName, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0,
     [](void* self, WORD, VARIANT* const*, VARIANT* result) {
       BSTR name = nullptr;
       const HRESULT hr = static_cast<KXDatasheetServices*>(self)->DatasheetName(&name);
       if (SUCCEEDED(hr))
         ReturnBstr(name, result);
       else
         SysFreeString(name);
       return hr;
     }},
    {u"IsSummarySheet", DISPID_IsSummarySheet, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0,
     [](void* self, WORD, VARIANT* const*, VARIANT* result) {
       VARIANT_BOOL summary = VARIANT_FALSE;
       const HRESULT hr = static_cast<KXDatasheetServices*>(self)->IsSummarySheet(&summary);
       if (SUCCEEDED(hr) && result != nullptr) {
         result->vt = VT_BOOL;
         result->boolVal = summary;
       }
       return hr;
     }},
    {u"GetSummarySheetProject", DISPID_GetSummarySheetProject,
     DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0,
     [](void* self, WORD, VARIANT* const*, VARIANT* result) {
       IDispatch* project = nullptr;
       const HRESULT hr = static_cast<KXDatasheetServices*>(self)->GetSummarySheetProject(&project);
       if (SUCCEEDED(hr)) {
         ReturnDispatch(project, result);
       } else if (project != nullptr) {
         project->Release();
       }
       return hr;
     }},
    {u"ValidateDatasheet", DISPID_ValidateDatasheet, DISPATCH_METHOD, 0,
     [](void* self, WORD, VARIANT* const*, VARIANT*) {
       return static_cast<KXDatasheetServices*>(self)->ValidateDatasheet();
     }},
    {u"DatasheetObjects", DISPID_DatasheetObjects, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0,
     [](void* self, WORD, VARIANT* const*, VARIANT* result) {
       SAFEARRAY* objects = nullptr;
       const HRESULT hr = static_cast<KXDatasheetServices*>(self)->DatasheetObjects(&objects);
       if (SUCCEEDED(hr) && result != nullptr && objects != nullptr) {
         result->vt = VT_ARRAY | VT_VARIANT;
         result->parray = objects;
       } else if (objects != nullptr) {
         SafeArrayDestroy(objects);
       }
       return hr;
     }},
    {u"ProcessSummarySheet", DISPID_ProcessSummarySheet, DISPATCH_METHOD, 2,
     [](void* self, WORD, VARIANT* const* args, VARIANT*) {
       return static_cast<KXDatasheetServices*>(self)->ProcessSummarySheet(
           DispatchArgument(*args[0]), DispatchArgument(*args[1]));
     }},
    {u"GetRealFieldsWithUOM", DISPID_GetRealFieldsWithUOM, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
     0,
     [](void* self, WORD, VARIANT* const*, VARIANT* result) {
       BSTR xml = nullptr;
       const HRESULT hr = static_cast<KXDatasheetServices*>(self)->GetRealFieldsWithUOM(&xml);
       if (SUCCEEDED(hr))
         ReturnBstr(xml, result);
       else
         SysFreeString(xml);
       return hr;
     }},
};

std::span<const kx::com::DispatchEntry> KXDatasheetServices::dispatch_entries() const {
  return kDatasheetEntries;
}

// ---------------------------------------------------------------------------
class KXDataviewServices final : public ServiceObject<KXDataviewServices, IKXDataviewServices> {
 public:
  using ServiceObject::ServiceObject;

  std::span<const kx::com::DispatchEntry> dispatch_entries() const;

  HRESULT STDMETHODCALLTYPE ValidateLabel(LONG iStatus) override {
    return ServeThroughMain(u"DataviewServices::ValidateLabel", __LINE__, [&] {
      return m_pMain->Workers().ValidateLabelObject(*m_pMain, m_pObject, iStatus);
    });
  }
};

const kx::com::DispatchEntry kDataviewEntries[] = {
    {u"ValidateLabel", DISPID_ValidateLabel, DISPATCH_METHOD, 1,
     [](void* self, WORD, VARIANT* const* args, VARIANT*) {
       LONG status = 0;
       const HRESULT hr = VariantToLong(*args[0], &status, true);
       if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
       return static_cast<KXDataviewServices*>(self)->ValidateLabel(status);
     }},
};

std::span<const kx::com::DispatchEntry> KXDataviewServices::dispatch_entries() const {
  return kDataviewEntries;
}

template <class T>
HRESULT CreateService(IKXQApplication* application, IKXQObject* object, Main* main,
                      IDispatch** services) {
  if (services == nullptr) return E_POINTER;
  *services = nullptr;
  T* created = new (std::nothrow) T(application, object, main);
  if (created == nullptr) return E_OUTOFMEMORY;
  created->AddRef();
  const HRESULT hr = created->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(services));
  created->Release();
  return hr;
}

}  // namespace

HRESULT CreateDatasheetServices(IKXQApplication* application, IKXQObject* object, Main* main,
                                IDispatch** services) {
  return CreateService<KXDatasheetServices>(application, object, main, services);
}

HRESULT CreateDataviewServices(IKXQApplication* application, IKXQObject* object, Main* main,
                               IDispatch** services) {
  return CreateService<KXDataviewServices>(application, object, main, services);
}
