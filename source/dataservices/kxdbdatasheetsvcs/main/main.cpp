#include "main/main.h"

#include <memory>
#include <new>
#include <span>

#include "com/comutil.h"
#include "com/dispatch_impl.h"
#include "host/registrar.h"
#include "kxcomexception.h"
#include "kxvalueutils.h"
#include "main/datasheetservices.h"
#include "main/eventarguments.h"
#include "main/mainworkers.h"
#include "main/module.h"
#include "model/kxdbdatasheetutils.h"
#include "store/database.h"
#include "store/object.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/main";
// The host's entry points: an exception of unknown type is answered here,
// a failure the work returns is passed on as it is.
constexpr FrameOptions kEntryFrame{.file = kFile, .passReturnedFailure = true, .boundary = true};

// Automation names of IKXDBDatasheetSvcsMain.
const kx::com::DispatchEntry kMainEntries[] = {
    {u"VisualAppearances", DISPID_VisualAppearances, DISPATCH_METHOD, 1,
     [](void* self, WORD, VARIANT* const* args, VARIANT* result) {
       const VARIANT& attribute = ResolveVariant(*args[0]);
       IDispatch* objects = nullptr;
       const HRESULT hr = static_cast<Main*>(self)->VisualAppearances(
           attribute.vt == VT_DISPATCH ? attribute.pdispVal : nullptr, &objects);
       if (SUCCEEDED(hr) && result != nullptr) {
         result->vt = VT_DISPATCH;
         result->pdispVal = objects;
       } else if (objects != nullptr) {
         objects->Release();
       }
       return hr;
     }},
    {u"LoadBEDDData", DISPID_LoadBEDDData, DISPATCH_METHOD, 3,
     [](void* self, WORD, VARIANT* const* args, VARIANT*) {
       const VARIANT& id = ResolveVariant(*args[0]);
       const VARIANT& object = ResolveVariant(*args[1]);
       BSTR templateId = id.vt == VT_BSTR ? id.bstrVal : nullptr;
       return static_cast<Main*>(self)->LoadBEDDData(
           &templateId, object.vt == VT_DISPATCH ? object.pdispVal : nullptr, args[2]);
     },
     1},  // the folder is optional
};

// The event argument queried for `I` (AddRef'd), or null.
template <class I>
I* EventInterface(VARIANT* arguments) {
  return static_cast<I*>(QueryEventArgument(arguments, kx_uuidof<I>()));
}

// The is-of-class test of the create event; a failed test counts as "no".
bool IsOfClassOrNo(IKXQObject* object, const OLECHAR* className) {
  _variant_t name(className);
  VARIANT_BOOL is = VARIANT_FALSE;
  if (FAILED(object->IsOfClass(name, &is))) {
    ClearThreadErrorInfo();
    return false;
  }
  return is != VARIANT_FALSE;
}

VARIANT LongVariant(LONG value) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

// A VT_BSTR VARIANT borrowing `text`'s BSTR.
VARIANT StringVariant(const _bstr_t& text) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = static_cast<BSTR>(static_cast<OLECHAR*>(text));
  return v;
}

[[noreturn]] void RaiseStartUpFailure(KXComException& ctx, int line, const OLECHAR* text) {
  ThrowKXComExceptionHrAt(ctx, SourceLocation{kFile, line}, E_FAIL, u"%ls", text);
}

}  // namespace

Main::Main() : m_pWorkers(&MainWorkers::Defaults()) { ModuleLock(); }

Main::~Main() {
  // The kept template pages, issued pages and datasheet names hold objects
  // of the store this Main worked on.
  KXDBDatasheetSvcs::ForgetKeptTemplatePages();
  KXDBDatasheetSvcs::ForgetKeptIssuedPages();
  KXDBDatasheetSvcs::ForgetKeptDatasheetNames();
  ModuleUnlock();
}

WorkerTable& Main::Workers() { return *m_pWorkers; }

void Main::UseWorkers(MainWorkers* workers) {
  m_pWorkers = workers != nullptr ? workers : &MainWorkers::Defaults();
}

HRESULT Main::RunWorker(MessageParser& request, uint32_t element) {
  return m_pWorkers->RunWorker(request, element);
}

HRESULT Main::CreateInstance(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  Main* main = new (std::nothrow) Main();
  if (main == nullptr) return E_OUTOFMEMORY;
  main->AddRef();
  const HRESULT hr = main->QueryInterface(riid, ppv);
  main->Release();
  return hr;
}

HRESULT Main::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IKXDBDatasheetSvcsMain) ||
      IsEqualGUID(riid, IID_IDispatch)) {
    *ppv = static_cast<IKXDBDatasheetSvcsMain*>(this);
  } else if (IsEqualGUID(riid, IID_IProvideClassInfo) ||
             IsEqualGUID(riid, IID_IProvideClassInfo2)) {
    *ppv = static_cast<IProvideClassInfo2*>(this);
  } else if (IsEqualGUID(riid, IID_ISupportErrorInfo)) {
    *ppv = static_cast<ISupportErrorInfo*>(this);
  } else if (IsEqualGUID(riid, IID_IKXQDataService)) {
    *ppv = static_cast<IKXQDataService*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG Main::AddRef() { return ++m_refs; }

ULONG Main::Release() {
  const ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

std::span<const kx::com::DispatchEntry> Main::dispatch_entries() const { return kMainEntries; }

HRESULT Main::GetClassInfo(ITypeInfo** ppTI) {
  if (ppTI == nullptr) return E_POINTER;
  *ppTI = nullptr;
  return E_NOTIMPL;
}

HRESULT Main::GetGUID(DWORD dwGuidKind, GUID* pGUID) {
  if (pGUID == nullptr) return E_POINTER;
  *pGUID = GUID_NULL;
  return dwGuidKind == GUIDKIND_DEFAULT_SOURCE_DISP_IID ? E_FAIL : E_INVALIDARG;
}

HRESULT Main::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualGUID(riid, IID_IKXDBDatasheetSvcsMain) || IsEqualGUID(riid, IID_IKXQDataService)
             ? S_OK
             : S_FALSE;
}

// ---------------------------------------------------------------------------
// IKXQDataService.

HRESULT Main::StartUp(IKXQRegistrar* registrar) {
  return ServeRequest(nullptr, kEntryFrame, [&](KXComException&) {
    ClearThreadErrorInfo();
    return RegisterServices(registrar);
  });
}

HRESULT Main::TriggerFired(IKXQTrigger* trigger, IKXQApplication* application) {
  return ServeRequest(nullptr, kEntryFrame, [&](KXComException& ctx) {
    ClearThreadErrorInfo();
    const HRESULT hr = OnTriggerFired(trigger, application);
    KX_CHECK(ctx, hr);
    return hr;
  });
}

HRESULT Main::GetObjectServices(LONG kind, VARIANT, IKXQObject* object,
                                IKXQApplication* application, IDispatch** services) {
  return ServeRequest(u"GetObjectServices", kEntryFrame, [&](KXComException& ctx) {
    ctx.activity = u"GetObjectServices";
    CheckPointerArgument(ctx, services);
    *services = nullptr;
    HRESULT hr = S_OK;
    if (kind == 10) {
      hr = CreateDatasheetServices(application, object, this, services);
    } else if (kind == 11) {
      hr = CreateDataviewServices(application, object, this, services);
    } else {
      return E_UNEXPECTED;
    }
    if (FAILED(hr)) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), hr,
                              u"Could not create the object service of kind %d", kind);
    }
    return hr;
  });
}

HRESULT Main::OnDatabaseEvent(LONG kind, IKXQObject* object, VARIANT* arguments) {
  return ServeRequest(nullptr, kEntryFrame, [&](KXComException&) {
    ClearThreadErrorInfo();
    return OnEvent(kind, object, arguments);
  });
}

// ---------------------------------------------------------------------------
// Start-up registration.

HRESULT Main::RegisterServices(IKXQRegistrar* registrar) {
  KXComException ctx(u"Main::RegisterServices");
  CheckPointerArgument(ctx, registrar);

  (void)registrar->RegisterService(_bstr_t(kMainProgId));

  const _bstr_t group(u"Datasheet Editor");
  KX_CHECK(ctx, registrar->DeclarePrivilege(
                    _bstr_t(u"Modify Non-Project Summary"), group,
                    _bstr_t(u"The privilege required to modify the displayed objects on "
                            u"non-project summary sheets")));
  KX_CHECK(ctx, registrar->DeclarePrivilege(
                    _bstr_t(u"Globally Change Display Units"), group,
                    _bstr_t(u"The privilege required to change the display units for all "
                            u"datasheets")));

  IDispatch* templates = nullptr;
  KX_CHECK(ctx, registrar->GetTemplates(&templates));
  _com_ptr_t<IDispatch> templatesHolder(templates, false);

  _variant_t summaryClasses;
  if (FAILED(m_pWorkers->SummarySheetClasses(*this, templates, &summaryClasses))) {
    RaiseStartUpFailure(ctx, __LINE__, u"Failed to retrieve summary sheet classes");
  }

  struct SubscriptionLine {
    LONG localKind;
    LONG eventKind;
    const OLECHAR* className;  // null: the summary-sheet classes
    const OLECHAR* failure;
  };
  // Local kinds 3 (copy) and 4 (clone) are bound to database kinds 4 and 3.
  static constexpr SubscriptionLine kSubscriptions[] = {
      {1, 1, nullptr, u"Failed to register create event for summary sheet classes"},
      {2, 2, kDeleteEventClass, u"Failed to register delete event for objects"},
      {3, 4, nullptr, u"Failed to register copy event for summary sheet classes"},
      {4, 3, nullptr, u"Failed to register clone event for summary sheet classes"},
      {5, 11, u"Datasheet", u"Failed to register delete case event for Datasheet"},
      {6, 13, u"GlobalsClass", u"Failed to register update project event"},
      {7, 15, u"Project", u"Failed to register delete project event"},
      {8, 5, u"GenericClass", u"Failed to register change class event"},
      {9, 16, u"GenericClass", u"Failed to register change claim status event"},
  };
  for (const SubscriptionLine& line : kSubscriptions) {
    _variant_t filter;
    if (line.className == nullptr) {
      filter = summaryClasses;
    } else {
      filter = _variant_t(line.className);
    }
    if (FAILED(registrar->Subscribe(line.localKind, LongVariant(line.eventKind), filter,
                                    VARIANT_FALSE))) {
      RaiseStartUpFailure(ctx, __LINE__, line.failure);
    }
  }

  const _bstr_t datasheet(u"Datasheet");
  const _bstr_t dataview(u"Dataview");
  if (FAILED(registrar->RegisterObjectService(10, datasheet, StringVariant(datasheet)))) {
    RaiseStartUpFailure(ctx, __LINE__, u"Failed to register datasheet object service");
  }
  if (FAILED(registrar->RegisterObjectService(11, dataview, StringVariant(dataview)))) {
    RaiseStartUpFailure(ctx, __LINE__, u"Failed to register dataview object service");
  }

  // The declarations raise nothing: start-up answers with the last one.
  const _bstr_t getName(u"GetDisplayName");
  const _bstr_t setName(u"SetDisplayName");
  (void)registrar->DeclareMethod(0, getName, StringVariant(datasheet), getName,
                                 _bstr_t(u"Gets the display name of the datasheet"), VARIANT_FALSE,
                                 VARIANT_TRUE, VARIANT_FALSE);
  const HRESULT hr = registrar->DeclareMethod(1, setName, StringVariant(datasheet), setName,
                                              _bstr_t(u"Sets the display name of the datasheet"),
                                              VARIANT_FALSE, VARIANT_TRUE, VARIANT_FALSE);
  if (SUCCEEDED(hr)) {
    // A refused first declaration must not leave its error information
    // behind a successful start-up.
    ClearThreadErrorInfo();
    return hr;
  }
  ctx.hr = hr;
  ctx.TakeThreadErrorInfo();
  return SetKXErrorInfo(ctx);
}

// ---------------------------------------------------------------------------
// Database events.

HRESULT Main::OnEvent(LONG kind, IKXQObject* object, VARIANT* arguments) {
  KXComException ctx = KXComException::Silent(u"Main::OnEvent");
  // Every handler works with the host's application and store: while
  // detached none runs, as no request handler does; what fails before a
  // handler is reached fails as it does attached.
  const auto handle = [this](auto&& handler) {
    return m_pApplication != nullptr ? handler() : ReportNotAttached();
  };
  HRESULT hr = S_OK;
  switch (kind) {
    case 1:
      CheckPointerArgument(ctx, object);
      // Documents and data views are never members of summary sheets.
      if (IsOfClassOrNo(object, u"Document") || IsOfClassOrNo(object, u"DataView")) break;
      hr = handle([&] { return m_pWorkers->HandleCreateEvent(*this, object); });
      break;
    case 2: hr = handle([&] { return m_pWorkers->HandleDeleteEvent(*this, object); }); break;
    case 3:
    case 4: hr = handle([&] { return m_pWorkers->HandleCreateEvent(*this, object); }); break;
    case 5: {
      LONG caseNumber = 0;
      if (arguments == nullptr || FAILED(VariantToLong(*arguments, &caseNumber, false))) {
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                                u"The delete case event carries no case number");
      }
      hr = handle([&] { return m_pWorkers->HandleDeleteCaseEvent(*this, object, caseNumber); });
      break;
    }
    case 6: {
      const std::unique_ptr<IKXQProjectUpdate, void (*)(IKXQProjectUpdate*)> update(
          QueryProjectUpdate(arguments), &ReleaseProjectUpdate);
      if (update == nullptr) {
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                                u"Could not get expected event interface");
      }
      hr = handle([&] { return m_pWorkers->HandleUpdateProjectEvent(*this, update.get()); });
      break;
    }
    case 7: {
      _com_ptr_t<IKXQProject> project(EventInterface<IKXQProject>(arguments), false);
      if (!project) {
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                                u"Could not get expected event interface");
      }
      hr = handle([&] { return m_pWorkers->HandleDeleteProjectEvent(*this, project); });
      break;
    }
    case 8: {
      _com_ptr_t<IKXQClass> newClass(EventInterface<IKXQClass>(arguments), false);
      if (!newClass) {
        ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                                u"Could not get expected event interface");
      }
      hr = handle([&] { return m_pWorkers->HandleChangeClassEvent(*this, object, newClass); });
      break;
    }
    case 9:
      hr = handle([&] { return m_pWorkers->HandleChangeClaimStatusEvent(*this, object); });
      break;
    default: return S_OK;
  }
  // Detached, no handler ran: a refusal is answered as a request's is.
  if (m_pApplication == nullptr) return hr;
  KX_CHECK(ctx, hr);
  return hr;
}

// ---------------------------------------------------------------------------
// The database events are in maindatabaseevents.cpp, the automation methods
// in mainautomation.cpp and beddmaster.cpp, the trigger callback in
// triggercallbacks.cpp.
