#include "com/activation.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "com/clsids.h"
#include "com/errorinfo.h"
#include "com/registry.h"
#include "com/wstr.h"

namespace {

// --------------------------------------------------------------------------
// The process-local class registry.
struct Registration {
  DWORD cookie;
  CLSID clsid;
  IUnknown* object;  // one reference held
};

struct ClassTable {
  std::mutex mutex;
  std::vector<Registration> entries;
  DWORD next_cookie = 1;
  // Libraries already loaded: path -> DllGetClassObject (never unloaded).
  // Its own lock, recursive: a library's static initialisers may activate
  // classes of other libraries while it is being loaded.
  std::recursive_mutex load_mutex;
  std::map<std::string, LPFNGETCLASSOBJECT> libraries;
};

ClassTable& table() {
  static ClassTable* t = new ClassTable;  // never destroyed: usable during exit
  return *t;
}

thread_local int t_init_count = 0;

int hex_value(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Strict "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
bool parse_guid(const char16_t* s, GUID* out) {
  if (s == nullptr || kx_wcslen(s) != 38 || s[0] != u'{' || s[37] != u'}') return false;
  unsigned char bytes[16];
  int b = 0;
  for (int i = 1; i < 37;) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (s[i] != u'-') return false;
      ++i;
      continue;
    }
    const int hi = hex_value(s[i]);
    const int lo = hex_value(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[b++] = static_cast<unsigned char>(hi * 16 + lo);
    i += 2;
  }
  out->Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
               (std::uint32_t{bytes[2]} << 8) | bytes[3];
  out->Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  out->Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(out->Data4, bytes + 8, 8);
  return true;
}

HRESULT fail(HRESULT hr, const std::u16string& text) {
  return kx_set_error_info(hr, text.c_str(), u"kxcom");
}

std::u16string wide(const std::string& s) { return kx_utf8_to_utf16_lossy(s); }

// The library that serves clsid, from the registration store or the
// platform's own list; empty when none.
std::string server_library(REFCLSID clsid) {
  const std::u16string key =
      u"HKEY_CLASSES_ROOT\\CLSID\\" + kx_guid_to_string(clsid) + u"\\InprocServer32";
  std::u16string path;
  if (SUCCEEDED(kx_reg_get_value(key, u"", &path)) && !path.empty()) {
    std::string utf8;
    if (kx_utf16_to_utf8(path, &utf8)) return utf8;
  }
  if (IsEqualGUID(clsid, CLSID_SAXXMLReader60))
    return kx_platform_library_dir() + kx_library_SAXXMLReader60;
  return {};
}

HRESULT from_library(REFCLSID clsid, REFIID riid, void** ppv) {
  const std::u16string name = kx_guid_to_string(clsid);
  const std::string path = server_library(clsid);
  if (path.empty()) return fail(REGDB_E_CLASSNOTREG, u"Class " + name + u" is not registered");
  LPFNGETCLASSOBJECT entry = nullptr;
  {
    ClassTable& t = table();
    std::lock_guard lock(t.load_mutex);
    auto it = t.libraries.find(path);
    if (it != t.libraries.end()) {
      entry = it->second;
    } else {
      void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle == nullptr) {
        const char* why = ::dlerror();
        return fail(CO_E_DLLNOTFOUND, u"Cannot load the library \"" + wide(path) + u"\" of class " +
                                          name + u": " + wide(why ? why : "unknown reason"));
      }
      entry = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
      if (entry == nullptr) {
        ::dlclose(handle);
        return fail(CO_E_ERRORINDLL, u"The library \"" + wide(path) +
                                         u"\" has no DllGetClassObject (class " + name + u")");
      }
      t.libraries.emplace(path, entry);
    }
  }
  const HRESULT hr = entry(clsid, riid, ppv);
  if (FAILED(hr)) {
    if (ppv != nullptr) *ppv = nullptr;
    return fail(hr, u"The library \"" + wide(path) + u"\" cannot supply class " + name);
  }
  return hr;
}

}  // namespace

HRESULT CoInitialize(LPVOID pvReserved) {
  return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(LPVOID, DWORD) { return t_init_count++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_init_count > 0) --t_init_count;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pServerInfo, REFIID riid,
                         LPVOID* ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  if (pServerInfo != nullptr) return E_INVALIDARG;
  IUnknown* registered = nullptr;
  {
    ClassTable& t = table();
    std::lock_guard lock(t.mutex);
    for (auto it = t.entries.rbegin(); it != t.entries.rend(); ++it) {
      if (IsEqualGUID(it->clsid, rclsid)) {
        registered = it->object;
        registered->AddRef();
        break;
      }
    }
  }
  if (registered != nullptr) {
    const HRESULT hr = registered->QueryInterface(riid, ppv);
    registered->Release();
    return hr;
  }
  if ((dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0)
    return fail(REGDB_E_CLASSNOTREG, u"Class " + kx_guid_to_string(rclsid) +
                                         u" has no server for the requested context");
  return from_library(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD, DWORD, DWORD* lpdwRegister) {
  if (pUnk == nullptr || lpdwRegister == nullptr) return E_INVALIDARG;
  ClassTable& t = table();
  std::lock_guard lock(t.mutex);
  pUnk->AddRef();
  try {
    t.entries.push_back(Registration{t.next_cookie, rclsid, pUnk});
  } catch (const std::bad_alloc&) {
    pUnk->Release();
    return E_OUTOFMEMORY;
  }
  *lpdwRegister = t.next_cookie++;
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
  IUnknown* object = nullptr;
  {
    ClassTable& t = table();
    std::lock_guard lock(t.mutex);
    for (auto it = t.entries.begin(); it != t.entries.end(); ++it) {
      if (it->cookie == dwRegister) {
        object = it->object;
        t.entries.erase(it);
        break;
      }
    }
  }
  if (object == nullptr) return E_INVALIDARG;
  object->Release();  // outside the lock: the object may call back in
  return S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
  *lpclsid = CLSID_NULL;
  std::u16string text;
  const std::u16string key = u"HKEY_CLASSES_ROOT\\" + std::u16string(lpszProgID) + u"\\CLSID";
  if (lpszProgID[0] != 0 && kx_wcschr(lpszProgID, u'\\') == nullptr &&
      SUCCEEDED(kx_reg_get_value(key, u"", &text)) && parse_guid(text.c_str(), lpclsid))
    return S_OK;
  if (_wcsicmp(lpszProgID, kx_progid_SAXXMLReader60) == 0) {
    *lpclsid = CLSID_SAXXMLReader60;
    return S_OK;
  }
  return CO_E_CLASSSTRING;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (pclsid == nullptr) return E_INVALIDARG;
  *pclsid = CLSID_NULL;
  if (lpsz == nullptr || lpsz[0] == 0) return S_OK;  // as on Windows: null/empty -> CLSID_NULL
  if (lpsz[0] == u'{') return parse_guid(lpsz, pclsid) ? S_OK : CO_E_CLASSSTRING;
  return CLSIDFromProgID(lpsz, pclsid) == S_OK ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR lpsz, LPGUID lpiid) {
  if (lpiid == nullptr) return E_INVALIDARG;
  *lpiid = GUID_NULL;
  if (lpsz == nullptr) return S_OK;
  return parse_guid(lpsz, lpiid) ? S_OK : CO_E_CLASSSTRING;
}

std::u16string kx_guid_to_string(REFGUID g) {
  return kx_format(u"{%08lX-%04hX-%04hX-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                   g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                   g.Data4[6], g.Data4[7]);
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (lpsz == nullptr || cchMax < 39) return 0;
  const std::u16string s = kx_guid_to_string(rguid);
  std::memcpy(lpsz, s.c_str(), (s.size() + 1) * sizeof(char16_t));
  return static_cast<int>(s.size() + 1);
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
  if (lplpsz == nullptr) return E_INVALIDARG;
  *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
  if (*lplpsz == nullptr) return E_OUTOFMEMORY;
  StringFromGUID2(rclsid, *lplpsz, 39);
  return S_OK;
}

HRESULT StringFromIID(REFIID rclsid, LPOLESTR* lplpsz) { return StringFromCLSID(rclsid, lplpsz); }

LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb == 0 ? 1 : cb); }
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return std::realloc(pv, cb == 0 ? 1 : cb); }
void CoTaskMemFree(LPVOID pv) { std::free(pv); }

std::string kx_platform_library_dir() {
  // The library does not move while it is loaded: looked up once.
  static const std::string dir = [] {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&kx_platform_library_dir), &info) == 0 ||
        info.dli_fname == nullptr)
      return std::string();
    std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string("./");
    return path.substr(0, slash + 1);
  }();
  return dir;
}
