// Error information: IErrorInfo / ICreateErrorInfo, the per-thread slot
// (SetErrorInfo / GetErrorInfo), ISupportErrorInfo, and OLE DB's
// IErrorRecords (declared; nothing in the platform produces it).
#pragma once

#include "com/dispatch.h"

struct IErrorInfo : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) = 0;
  // The BSTR out-values are owned by the caller (null when never set).
  virtual HRESULT STDMETHODCALLTYPE GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* pdwHelpContext) = 0;

 protected:
  ~IErrorInfo() = default;
};
KX_DEFINE_IID(IErrorInfo, 0x1CF2B120, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1,
              0x19)

struct ICreateErrorInfo : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) = 0;
  // Texts are copied; null sets the empty text.
  virtual HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR szSource) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR szDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR szHelpFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD dwHelpContext) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};
KX_DEFINE_IID(ICreateErrorInfo, 0x22F03340, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B,
              0xD1, 0x19)

struct ISupportErrorInfo : IUnknown {
  // S_OK when the object's methods of riid set error information.
  virtual HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};
KX_DEFINE_IID(ISupportErrorInfo, 0xDF0B3D60, 0x548F, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B,
              0xD1, 0x19)

// The calling thread's error information. SetErrorInfo AddRefs perrinfo
// (null clears) and releases the one it replaces. GetErrorInfo hands the
// slot's reference to the caller and empties the slot: S_OK with the object,
// or S_FALSE with *pperrinfo = null when there is none. dwReserved must be 0.
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);
// A new error object (one reference, the caller's) that answers both
// ICreateErrorInfo and IErrorInfo. Its reference count is atomic.
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);

// Convenience for failure paths: creates error information with the given
// texts (null = empty), GUID and help context, puts it on the thread and
// returns `hr` unchanged (or the creation's failure code if that failed).
HRESULT kx_set_error_info(HRESULT hr, const OLECHAR* description, const OLECHAR* source = nullptr,
                          REFGUID guid = GUID_NULL, const OLECHAR* help_file = nullptr,
                          DWORD help_context = 0);

// OLE DB error records.
struct ERRORINFO {
  HRESULT hrError;
  DWORD dwMinor;
  CLSID clsid;
  IID iid;
  DISPID dispid;
};

struct IErrorRecords : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddErrorRecord(ERRORINFO* pErrorInfo, DWORD dwLookupID,
                                                   DISPPARAMS* pdispparams,
                                                   IUnknown* punkCustomError,
                                                   DWORD dwDynamicErrorID) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBasicErrorInfo(ULONG ulRecordNum, ERRORINFO* pErrorInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCustomErrorObject(ULONG ulRecordNum, REFIID riid,
                                                         IUnknown** ppObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetErrorInfo(ULONG ulRecordNum, LCID lcid,
                                                 IErrorInfo** ppErrorInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetErrorParameters(ULONG ulRecordNum,
                                                       DISPPARAMS* pdispparams) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRecordCount(ULONG* pcRecords) = 0;

 protected:
  ~IErrorRecords() = default;
};
KX_DEFINE_IID(IErrorRecords, 0x0c733a67, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77,
              0x3d)
