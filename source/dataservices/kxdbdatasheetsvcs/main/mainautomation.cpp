// Main's direct calls: the automation method VisualAppearances, the
// object-service methods "GetDisplayName" and "SetDisplayName", and the
// summary-sheet classes that start-up subscribes the create events with.
#include <vector>

#include "com/wstr.h"
#include "host/application.h"
#include "kxattributeutils.h"
#include "kxcomexception.h"
#include "main/main.h"
#include "model/kxdbdatasheetutils.h"

namespace {

constexpr OLECHAR kFile[] = u"source/dataservices/kxdbdatasheetsvcs/main";
constexpr FrameOptions kFrame{.file = kFile};
// The automation methods are the host's entry points: an exception of
// unknown type is answered here.
constexpr FrameOptions kEntryFrame{.file = kFile, .boundary = true};

}  // namespace

HRESULT Main::RunMethod(LONG methodId, VARIANT, IKXQObject* object, VARIANT,
                        IKXQApplication* application, VARIANT* result) {
  return ServeRequest(u"KXDBDatasheetSvcsMain::RunMethod", kEntryFrame, [&](KXComException& ctx) {
    _variant_t answer;
    if (methodId == 0) {  // "GetDisplayName"
      CheckPointerArgument(ctx, application);
      BSTR name = nullptr;
      KX_CHECK(ctx, KXDBDatasheetSvcs::GetDatasheetName(application, object, &name, true, 1));
      _bstr_t held(name, false);
      if (held.length() > 0) answer = held;
    } else if (methodId == 1) {  // "SetDisplayName"
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_FAIL,
                              u"The name can only be set via the Datasheet Editor");
    }
    if (result != nullptr) {
      VariantClear(result);
      *result = answer.Detach();
    }
    return S_OK;
  });
}

HRESULT Main::VisualAppearances(IDispatch* pAttribute, IDispatch** ppObjects) {
  return ServeRequest(u"Main::VisualAppearances", kEntryFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, ppObjects);
    *ppObjects = nullptr;
    if (pAttribute == nullptr) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_INVALIDARG,
                              u"Invalid attribute pointer passed in");
    }
    IKXQAttributePtr attribute;
    if (FAILED(pAttribute->QueryInterface(kx_uuidof<IKXQAttribute>(),
                                          reinterpret_cast<void**>(&attribute)))) {
      ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_POINTER, nullptr);
    }
    CheckPointerArgument(ctx, m_pApplication);
    _com_ptr_t<IKXQObjectCollection> views;
    KX_CHECK(ctx, m_pApplication->CreateObjectCollection(&views));
    CheckPointerArgument(ctx, views.GetInterfacePtr());
    SAFEARRAY* raw = nullptr;
    KX_CHECK(ctx, attribute->get_Appearances(&raw));
    VariantUtil::SafeArrayVector places(raw, true);
    if (places.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
    SortedPtrArray<IKXQObject> kept;
    for (int32_t i = 0; i < places.Count(); ++i) {
      // A place that names no holder shows nothing.
      _com_ptr_t<IKXQDataviewIndex> place;
      if (FAILED(places.GetInterfaceAt(i, &place)) || !place) {
        ClearThreadErrorInfo();
        continue;
      }
      IKXQObjectPtr holder;
      KX_CHECK(ctx, place->get_Holder(&holder));
      if (!holder || !KXDBDatasheetSvcs::IsObjectOfClass(holder, u"Dataview")) continue;
      int32_t at = 0;
      if (kept.Find(holder.GetInterfacePtr(), &at)) continue;
      kept.InsertAt(at);
      kept.SetAt(at, holder);
      _variant_t ignored;
      KX_CHECK(ctx, views->Add(holder, &ignored));
    }
    KX_CHECK(ctx, views->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(ppObjects)));
    return S_OK;
  });
}

namespace KXDBDatasheetSvcs {

HRESULT SummarySheetClasses(Main&, IDispatch* templates, VARIANT* classes) {
  return ServeRequest(u"KXDBDatasheetSvcs::SummarySheetClasses", kFrame, [&](KXComException& ctx) {
    CheckPointerArgument(ctx, classes);
    std::vector<_bstr_t> names;
    // No template collection: no summary templates.
    IKXQTemplateLibraryPtr library;
    if (templates != nullptr) {
      KX_CHECK(ctx, templates->QueryInterface(kx_uuidof<IKXQTemplateLibrary>(),
                                              reinterpret_cast<void**>(&library)));
    }
    LONG count = 0;
    if (library) KX_CHECK(ctx, library->get_Count(&count));
    for (LONG i = 1; i <= count; ++i) {
      IKXQTemplatePtr tmpl;
      KX_CHECK(ctx, library->get_Item(i, &tmpl));
      CheckPointerArgument(ctx, tmpl.GetInterfacePtr());
      _bstr_t kind;
      KX_CHECK(ctx, tmpl->get_Kind(kind.GetAddress()));
      if (kind.length() == 0 || _wcsicmp(kind, u"Summary") != 0) continue;
      SAFEARRAY* raw = nullptr;
      KX_CHECK(ctx, GetTemplateClasses(tmpl, &raw));
      VariantUtil::SafeArrayVector attached(raw, true);
      if (attached.Array() == nullptr && raw != nullptr) SafeArrayDestroy(raw);
      for (int32_t j = 0; j < attached.Count(); ++j) {
        IKXQClassPtr cls;
        KX_CHECK(ctx, attached.GetClassAt(j, &cls));
        CheckPointerArgument(ctx, cls.GetInterfacePtr());
        _bstr_t name;
        KX_CHECK(ctx, cls->get_Name(name.GetAddress()));
        bool known = false;
        for (const _bstr_t& other : names) known = known || other.view() == name.view();
        if (!known) names.push_back(name);
      }
    }
    SAFEARRAYBOUND bound{static_cast<ULONG>(names.size()), 1};
    SAFEARRAY* array = SafeArrayCreate(VT_BSTR, 1, &bound);
    if (array == nullptr) ThrowKXComExceptionHrAt(ctx, KX_HERE(kFile), E_OUTOFMEMORY, nullptr);
    for (size_t k = 0; k < names.size(); ++k) {
      LONG at = static_cast<LONG>(k) + 1;
      const HRESULT hr = SafeArrayPutElement(array, &at, static_cast<BSTR>(names[k]));
      if (FAILED(hr)) {
        SafeArrayDestroy(array);
        KX_CHECK(ctx, hr);
      }
    }
    VariantClear(classes);
    classes->vt = VT_ARRAY | VT_BSTR;
    classes->parray = array;
    return S_OK;
  });
}

}  // namespace KXDBDatasheetSvcs
