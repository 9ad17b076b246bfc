// Activation: class factories, the process-local class registry,
// CoCreateInstance and friends, GUID text forms and task memory.
//
// CoCreateInstance / CoGetClassObject look for a class in this order:
//  1. the process-local class registry (CoRegisterClassObject);
//  2. the registration store: HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32,
//     default value = path of a shared library, loaded with dlopen and asked
//     through its exported DllGetClassObject;
//  3. classes the platform knows itself (CLSID_SAXXMLReader60 ->
//     libkxmsxml.so in the directory of libkxcom.so), served the same way.
// Failures: REGDB_E_CLASSNOTREG when nothing names the class;
// CO_E_DLLNOTFOUND when the library cannot be loaded; CO_E_ERRORINDLL when
// it has no DllGetClassObject; whatever DllGetClassObject returns (e.g.
// CLASS_E_CLASSNOTAVAILABLE) otherwise. Each failure also sets the thread's
// error information with a text naming the class and, where one is
// involved, the library. Loaded libraries stay loaded until exit.
#pragma once

#include <string>

#include "com/types.h"

struct IClassFactory : IUnknown {
  // punkOuter must be null (CLASS_E_NOAGGREGATION otherwise, unless the class
  // supports aggregation).
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                   void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};
KX_DEFINE_IID(IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
              0x46)

// Class contexts.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_SERVER =
    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
inline constexpr DWORD CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// CoRegisterClassObject flags (accepted; every registration is multiple-use).
inline constexpr DWORD REGCLS_SINGLEUSE = 0;
inline constexpr DWORD REGCLS_MULTIPLEUSE = 1;
inline constexpr DWORD REGCLS_MULTI_SEPARATE = 2;
inline constexpr DWORD REGCLS_SUSPENDED = 4;

// CoInitializeEx flags.
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Threads need no initialisation here; these count calls per thread so that
// the answers match Windows (S_OK first, S_FALSE when already initialised).
HRESULT CoInitialize(LPVOID pvReserved);
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void CoUninitialize();

// Creates one object of class rclsid and gives interface riid on it
// (AddRef'd, the caller's) in *ppv; *ppv is null on failure.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
// The class object (usually IClassFactory) of rclsid. pServerInfo must be
// null.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pServerInfo, REFIID riid,
                         LPVOID* ppv);

// Registers a class object in the process-local registry; it takes priority
// over the registration store and the platform's own classes. The registry
// holds a reference on pUnk until CoRevokeClassObject(*lpdwRegister). A
// later registration of the same class shadows an earlier one until revoked.
HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags,
                              DWORD* lpdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);

// ProgID -> class id: HKEY_CLASSES_ROOT\<ProgID>\CLSID default value in the
// registration store (or the platform's own ProgIDs). CO_E_CLASSSTRING when
// unknown.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (hex digits in any case) ->
// GUID; CO_E_CLASSSTRING for any other text. A ProgID is also accepted, as
// on Windows.
HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
HRESULT IIDFromString(LPCOLESTR lpsz, LPGUID lpiid);
// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case) into lpsz of
// cchMax characters; returns the characters written including the
// terminating zero (39), or 0 when the buffer is too small.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// As StringFromGUID2 into a CoTaskMemAlloc'd string the caller frees.
HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);
HRESULT StringFromIID(REFIID rclsid, LPOLESTR* lplpsz);
// The braced upper-case text form as a string (helper).
std::u16string kx_guid_to_string(REFGUID guid);

// Task memory (malloc-backed; null is allowed for Free).
LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

// The entry points an in-process server library exports (extern "C").
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using LPFNCANUNLOADNOW = HRESULT (*)();

// Directory of libkxcom.so (where the platform's own servers are looked for),
// with a trailing '/'; empty if it cannot be determined.
std::string kx_platform_library_dir();
