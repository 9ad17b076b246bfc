// Configuration, privileges and the journal of the host, as modules see
// them. BSTR arguments are borrowed; BSTR out-parameters are new strings
// that the caller frees.
#pragma once

#include "com/dispatch.h"
#include "com/oleauto.h"

struct IKXQSettings : IDispatch {
  // The value of a named setting; an unknown name gives an empty (null)
  // string and S_OK.
  virtual HRESULT GetValue(BSTR name, BSTR* value) = 0;

  // The directory of a named folder ("Templates", "Datasheets"), without a
  // trailing separator. Modules join names to it with "\"; the host turns "\"
  // into "/" in every path it is handed back. An unknown folder gives an
  // empty (null) string and S_OK.
  virtual HRESULT GetFolder(BSTR folder, BSTR* path) = 0;

 protected:
  ~IKXQSettings() = default;
};
KX_DEFINE_IID(IKXQSettings, 0x5d38d2ae, 0xcb72, 0x463c, 0x9a, 0xb8, 0xef, 0x76, 0xf2, 0xa4, 0x4d,
              0x38)

// The signed-in user and what the user may do.
struct IKXQPrivileges : IDispatch {
  // The user's login name, and the user's full name (empty when unknown;
  // callers then use the login name).
  virtual HRESULT get_LoginName(BSTR* name) = 0;
  virtual HRESULT get_UserName(BSTR* name) = 0;

  // The user's engineering discipline.
  virtual HRESULT get_Discipline(BSTR* discipline) = 0;

  // Whether the user holds the named privilege (names compare exactly).
  virtual HRESULT HasPrivilege(BSTR name, VARIANT_BOOL* granted) = 0;

 protected:
  ~IKXQPrivileges() = default;
};
KX_DEFINE_IID(IKXQPrivileges, 0x3b099f4d, 0xeb39, 0x4161, 0xa1, 0x5f, 0xa8, 0x5d, 0xc6, 0x98, 0xb0,
              0xce)

// The host's journal of trace lines. Modules write to it through IDispatch:
// Invoke(KXQ_DISPID_JOURNAL_WRITE, IID_NULL, lcid, 0, params) with exactly one
// VT_BSTR argument; the result is not used. Write is the same call in C++.
inline constexpr DISPID KXQ_DISPID_JOURNAL_WRITE = 0xFFFF;

struct IKXQJournal : IDispatch {
  // Appends `text` (borrowed) as one journal entry; a line break is added
  // unless the text ends with one.
  virtual HRESULT Write(BSTR text) = 0;

 protected:
  ~IKXQJournal() = default;
};
KX_DEFINE_IID(IKXQJournal, 0xb7235d60, 0x30b5, 0x44f9, 0xa0, 0xa2, 0x95, 0x25, 0x89, 0x2e, 0xa4,
              0x99)
