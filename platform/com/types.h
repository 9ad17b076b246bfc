// Basic COM types: fixed-width integers as on Windows, HRESULT and its
// constants, GUIDs and interface identity, and IUnknown.
//
// Text is UTF-16: OLECHAR and WCHAR are char16_t (wchar_t is 32-bit here and
// never used for service text).
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Integer and character types (widths as on 64-bit Windows).
using BYTE = std::uint8_t;
using CHAR = char;
using UCHAR = unsigned char;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using WORD = std::uint16_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using LONGLONG = long long;
using ULONGLONG = unsigned long long;
using BOOL = std::int32_t;
using FLOAT = float;
using DOUBLE = double;
using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using LCID = DWORD;
using DISPID = LONG;
using MEMBERID = DISPID;
using VARIANT_BOOL = std::int16_t;
using DATE = double;
using PVOID = void*;
using LPVOID = void*;
using SIZE_T = std::size_t;

using OLECHAR = char16_t;
using WCHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

static_assert(sizeof(HRESULT) == 4);
static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4 && sizeof(DWORD) == 4);
static_assert(sizeof(VARIANT_BOOL) == 2);
static_assert(sizeof(OLECHAR) == 2);
static_assert(sizeof(DATE) == 8);

// Locale ids accepted (and otherwise ignored: conversions are
// locale-independent).
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_NEUTRAL = 0x0000;
inline constexpr LCID LOCALE_INVARIANT = 0x007F;

// ---------------------------------------------------------------------------
// HRESULT helpers.
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define MAKE_HRESULT(sev, fac, code)                             \
  static_cast<HRESULT>((static_cast<std::uint32_t>(sev) << 31) | \
                       (static_cast<std::uint32_t>(fac) << 16) | static_cast<std::uint32_t>(code))
#define HRESULT_CODE(hr) (static_cast<std::uint32_t>(hr) & 0xFFFFu)
#define HRESULT_FACILITY(hr) ((static_cast<std::uint32_t>(hr) >> 16) & 0x1FFFu)
#define HRESULT_SEVERITY(hr) ((static_cast<std::uint32_t>(hr) >> 31) & 0x1u)
#define SCODE_CODE(sc) HRESULT_CODE(sc)

inline constexpr std::uint32_t SEVERITY_SUCCESS = 0;
inline constexpr std::uint32_t SEVERITY_ERROR = 1;
inline constexpr std::uint32_t FACILITY_NULL = 0;
inline constexpr std::uint32_t FACILITY_RPC = 1;
inline constexpr std::uint32_t FACILITY_DISPATCH = 2;
inline constexpr std::uint32_t FACILITY_STORAGE = 3;
inline constexpr std::uint32_t FACILITY_ITF = 4;
inline constexpr std::uint32_t FACILITY_WIN32 = 7;
inline constexpr std::uint32_t FACILITY_WINDOWS = 8;

constexpr HRESULT kx_hr(std::uint32_t v) { return static_cast<HRESULT>(v); }

// Win32 error code -> HRESULT (0 stays S_OK; values that already are
// HRESULTs pass through).
constexpr HRESULT HRESULT_FROM_WIN32(std::uint32_t x) {
  return static_cast<HRESULT>(x) <= 0
             ? static_cast<HRESULT>(x)
             : static_cast<HRESULT>((x & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

// Win32 error codes the platform reports.
inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr std::uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr std::uint32_t ERROR_INVALID_DATA = 13;
inline constexpr std::uint32_t ERROR_OUTOFMEMORY = 14;
inline constexpr std::uint32_t ERROR_BAD_LENGTH = 24;
inline constexpr std::uint32_t ERROR_WRITE_FAULT = 29;
inline constexpr std::uint32_t ERROR_READ_FAULT = 30;
inline constexpr std::uint32_t ERROR_HANDLE_EOF = 38;
inline constexpr std::uint32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr std::uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_DISK_FULL = 112;
inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr std::uint32_t ERROR_INVALID_NAME = 123;
inline constexpr std::uint32_t ERROR_MOD_NOT_FOUND = 126;
inline constexpr std::uint32_t ERROR_PROC_NOT_FOUND = 127;
inline constexpr std::uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr std::uint32_t ERROR_MORE_DATA = 234;
inline constexpr std::uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr std::uint32_t ERROR_ARITHMETIC_OVERFLOW = 534;
inline constexpr std::uint32_t ERROR_NO_UNICODE_TRANSLATION = 1113;
inline constexpr std::uint32_t ERROR_NOT_FOUND = 1168;

// HRESULT values (as on Windows).
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT NOERROR = 0;
inline constexpr HRESULT E_NOTIMPL = kx_hr(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = kx_hr(0x80004002);
inline constexpr HRESULT E_POINTER = kx_hr(0x80004003);
inline constexpr HRESULT E_ABORT = kx_hr(0x80004004);
inline constexpr HRESULT E_FAIL = kx_hr(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = kx_hr(0x8000FFFF);
inline constexpr HRESULT E_BOUNDS = kx_hr(0x8000000B);
inline constexpr HRESULT E_ACCESSDENIED = kx_hr(0x80070005);
inline constexpr HRESULT E_HANDLE = kx_hr(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = kx_hr(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = kx_hr(0x80070057);

inline constexpr HRESULT CLASS_E_NOAGGREGATION = kx_hr(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = kx_hr(0x80040111);
inline constexpr HRESULT REGDB_E_READREGDB = kx_hr(0x80040150);
inline constexpr HRESULT REGDB_E_WRITEREGDB = kx_hr(0x80040151);
inline constexpr HRESULT REGDB_E_KEYMISSING = kx_hr(0x80040152);
inline constexpr HRESULT REGDB_E_INVALIDVALUE = kx_hr(0x80040153);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = kx_hr(0x80040154);
inline constexpr HRESULT SELFREG_E_TYPELIB = kx_hr(0x80040200);
inline constexpr HRESULT SELFREG_E_CLASS = kx_hr(0x80040201);
inline constexpr HRESULT MK_E_SYNTAX = kx_hr(0x800401E4);
inline constexpr HRESULT CO_E_NOTINITIALIZED = kx_hr(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = kx_hr(0x800401F3);
inline constexpr HRESULT CO_E_APPNOTFOUND = kx_hr(0x800401F5);
inline constexpr HRESULT CO_E_DLLNOTFOUND = kx_hr(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = kx_hr(0x800401F9);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = kx_hr(0x80080005);

inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = kx_hr(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = kx_hr(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = kx_hr(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = kx_hr(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = kx_hr(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = kx_hr(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = kx_hr(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = kx_hr(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = kx_hr(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = kx_hr(0x8002000B);
inline constexpr HRESULT DISP_E_UNKNOWNLCID = kx_hr(0x8002000C);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = kx_hr(0x8002000D);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = kx_hr(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = kx_hr(0x8002000F);
inline constexpr HRESULT DISP_E_BADCALLEE = kx_hr(0x80020010);
inline constexpr HRESULT DISP_E_NOTACOLLECTION = kx_hr(0x80020011);
inline constexpr HRESULT DISP_E_DIVBYZERO = kx_hr(0x80020012);
inline constexpr HRESULT TYPE_E_LIBNOTREGISTERED = kx_hr(0x8002801D);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = kx_hr(0x8002802B);
inline constexpr HRESULT TYPE_E_CANTLOADLIBRARY = kx_hr(0x80029C4A);

inline constexpr HRESULT STG_E_INVALIDFUNCTION = kx_hr(0x80030001);
inline constexpr HRESULT STG_E_FILENOTFOUND = kx_hr(0x80030002);
inline constexpr HRESULT STG_E_PATHNOTFOUND = kx_hr(0x80030003);
inline constexpr HRESULT STG_E_ACCESSDENIED = kx_hr(0x80030005);
inline constexpr HRESULT STG_E_INVALIDHANDLE = kx_hr(0x80030006);
inline constexpr HRESULT STG_E_INSUFFICIENTMEMORY = kx_hr(0x80030008);
inline constexpr HRESULT STG_E_INVALIDPOINTER = kx_hr(0x80030009);
inline constexpr HRESULT STG_E_SEEKERROR = kx_hr(0x80030019);
inline constexpr HRESULT STG_E_WRITEFAULT = kx_hr(0x8003001D);
inline constexpr HRESULT STG_E_READFAULT = kx_hr(0x8003001E);
inline constexpr HRESULT STG_E_INVALIDPARAMETER = kx_hr(0x80030057);
inline constexpr HRESULT STG_E_MEDIUMFULL = kx_hr(0x80030070);
inline constexpr HRESULT STG_E_INVALIDFLAG = kx_hr(0x800300FF);
inline constexpr HRESULT STG_E_REVERTED = kx_hr(0x80030102);

// ---------------------------------------------------------------------------
// GUIDs.
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPGUID = GUID*;
using LPCLSID = CLSID*;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }
constexpr bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr CLSID CLSID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// The interface id of T; specialised by KX_DEFINE_IID. Using it for an
// interface without an id is a link error.
template <class T>
constexpr const IID& kx_uuidof();

// Defines IID_<Interface> and kx_uuidof<Interface>(). Use at global scope,
// after the interface has been declared, with its unqualified name.
#define KX_DEFINE_IID(Interface, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)          \
  inline constexpr IID IID_##Interface{l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}; \
  template <>                                                                        \
  constexpr const IID& kx_uuidof<Interface>() {                                      \
    return IID_##Interface;                                                          \
  }

// The interface an interface derives from directly, when that is not
// IUnknown (e.g. IStream -> ISequentialStream); QueryInterface tables use it
// to answer for the parents of an implemented interface. Specialise with
// KX_DECLARE_PARENT at global scope. Interfaces deriving from IDispatch
// answer for IDispatch without a declaration.
struct IUnknown;
template <class I>
struct kx_interface_parent {
  using type = IUnknown;
};
#define KX_DECLARE_PARENT(Interface, Parent) \
  template <>                                \
  struct kx_interface_parent<Interface> {    \
    using type = Parent;                     \
  };

// Defines a named GUID constant (class ids, library ids).
#define KX_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name{l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};

// Calling convention markers (empty on this platform).
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

// ---------------------------------------------------------------------------
// IUnknown: the root of every interface. No virtual destructor: objects are
// destroyed by their own Release.
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};
KX_DEFINE_IID(IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

using LPUNKNOWN = IUnknown*;
