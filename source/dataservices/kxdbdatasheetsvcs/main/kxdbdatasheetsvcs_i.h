// The module's own automation interfaces and identities: the default
// interface of `Main` and the interfaces of the two object-service objects.
// All are dual: callers may use the C++ vtable directly or go through
// IDispatch by name (GetIDsOfNames/Invoke are served from small tables).
//
// Ownership follows the automation rules: [out] BSTRs, SAFEARRAYs and
// interface pointers belong to the caller; [in] arguments are borrowed.
#pragma once

#include "com/dispatch.h"
#include "com/oleauto.h"
#include "model/moduleidentity.h"

// Identities of the module. The ProgIDs are "KXDBDatasheetSvcs.Main" and
// "KXDBDatasheetSvcs.Main.<major version>".
KX_DEFINE_GUID(LIBID_KXDBDatasheetSvcs, 0x6f0d2a41, 0x93c7, 0x4e58, 0xa1, 0x2b, 0x7c, 0x5e, 0x90,
               0x31, 0xd4, 0x17)
KX_DEFINE_GUID(CLSID_Main, 0x2b8e4c90, 0x51f3, 0x4d6a, 0x8c, 0x07, 0x3e, 0x91, 0xa5, 0x6d, 0x20,
               0xc4)
KX_DEFINE_GUID(CLSID_DatasheetServices, 0x9a4471de, 0x0c3b, 0x4f12, 0xb6, 0x58, 0x21, 0xe8, 0x7d,
               0x4a, 0x90, 0x3b)
KX_DEFINE_GUID(CLSID_DataviewServices, 0x5c19e7a3, 0x6b2d, 0x40f8, 0x9e, 0x33, 0xd0, 0x4f, 0x18,
               0x7b, 0xa2, 0x65)

// Default interface of `Main`.
struct IKXDBDatasheetSvcsMain : IDispatch {
  // The data views on which an attribute appears. *ppObjects is AddRef'd.
  virtual HRESULT STDMETHODCALLTYPE VisualAppearances(IDispatch* pAttribute,
                                                      IDispatch** ppObjects) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadBEDDData(BSTR* bstrTemplateId, IDispatch* pObject,
                                                 VARIANT* vPbsFolder) = 0;

 protected:
  ~IKXDBDatasheetSvcsMain() = default;
};
KX_DEFINE_IID(IKXDBDatasheetSvcsMain, 0x0e6a3f25, 0x8d4b, 0x4c71, 0x95, 0x1e, 0x62, 0xb0, 0x3c,
              0xd8, 0x47, 0x19)

// The "Datasheet" object service, bound to one datasheet.
struct IKXDatasheetServices : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE DatasheetName(BSTR* vName) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsSummarySheet(VARIANT_BOOL* pbIsSummary) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSummarySheetProject(IDispatch** ppProject) = 0;
  virtual HRESULT STDMETHODCALLTYPE ValidateDatasheet() = 0;
  virtual HRESULT STDMETHODCALLTYPE DatasheetObjects(SAFEARRAY** psaObjects) = 0;
  virtual HRESULT STDMETHODCALLTYPE ProcessSummarySheet(IDispatch* pTemplate,
                                                        IDispatch* pDatasheet) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRealFieldsWithUOM(BSTR* vXml) = 0;

 protected:
  ~IKXDatasheetServices() = default;
};
KX_DEFINE_IID(IKXDatasheetServices, 0x47c2b9e0, 0x1a6f, 0x4b83, 0xa4, 0x7d, 0x0f, 0x35, 0xe2, 0x9c,
              0x61, 0xb8)

// The "Dataview" object service, bound to one label.
struct IKXDataviewServices : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE ValidateLabel(LONG iStatus) = 0;

 protected:
  ~IKXDataviewServices() = default;
};
KX_DEFINE_IID(IKXDataviewServices, 0xd3a85f71, 0x2e94, 0x4a0c, 0xbb, 0x16, 0x48, 0x7e, 0x09, 0xf2,
              0xc5, 0x3d)

// Dispatch ids of the automation members (in interface order).
inline constexpr DISPID DISPID_VisualAppearances = 1;
inline constexpr DISPID DISPID_LoadBEDDData = 2;
inline constexpr DISPID DISPID_DatasheetName = 1;
inline constexpr DISPID DISPID_IsSummarySheet = 2;
inline constexpr DISPID DISPID_GetSummarySheetProject = 3;
inline constexpr DISPID DISPID_ValidateDatasheet = 4;
inline constexpr DISPID DISPID_DatasheetObjects = 5;
inline constexpr DISPID DISPID_ProcessSummarySheet = 6;
inline constexpr DISPID DISPID_GetRealFieldsWithUOM = 7;
inline constexpr DISPID DISPID_ValidateLabel = 1;
