// The registration store: a small file-backed registry in place of the
// Windows registry. Modules write their keys from DllRegisterServer and
// remove them in DllUnregisterServer; activation reads it.
//
// Keys are paths of names separated by '\', starting with a root name such
// as HKEY_CLASSES_ROOT, e.g.
//   HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32
// Names of keys and values compare case-insensitively (ASCII letters), as
// on Windows, and keep the case they were created with. A key holds a
// default value (name "") and named string values, and sub-keys.
//
// File: $KXQ_REGISTRY, else $XDG_DATA_HOME/kxq/registry.xml, else
// $HOME/.local/share/kxq/registry.xml (the path is taken anew at each call).
// Each call reads the file if it changed since the last read (size and
// modification time) and each change writes the whole file anew: a new
// file beside it, fsync, rename over the old one, so a reader sees the old
// or the new store, never a torn one. Changes are serialised within the
// process and, across processes, by an advisory lock on "<file>.lock".
// A missing file is an empty store; an unreadable or malformed one fails
// with REGDB_E_READREGDB (and is never overwritten by a change).
//
// Results: S_OK; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when the key or
// value does not exist; E_INVALIDARG for a malformed path (empty name
// between separators); REGDB_E_READREGDB / REGDB_E_WRITEREGDB for file
// failures.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "com/types.h"

// The file path currently in use (UTF-8 file-system path).
std::string kx_reg_file_path();

// Creates the key and its missing parents.
HRESULT kx_reg_create_key(std::u16string_view key);
// S_OK when the key exists, S_FALSE when not (or a file failure).
HRESULT kx_reg_key_exists(std::u16string_view key);
// Sets a string value (name "" = the default value), creating the key path.
HRESULT kx_reg_set_value(std::u16string_view key, std::u16string_view name,
                         std::u16string_view value);
HRESULT kx_reg_get_value(std::u16string_view key, std::u16string_view name, std::u16string* value);
HRESULT kx_reg_delete_value(std::u16string_view key, std::u16string_view name);
// Deletes the key with all its sub-keys and values.
HRESULT kx_reg_delete_tree(std::u16string_view key);
// Names of the direct sub-keys, in creation order.
HRESULT kx_reg_enum_keys(std::u16string_view key, std::vector<std::u16string>* names);
// (name, value) pairs of the key, default value first when set.
HRESULT kx_reg_enum_values(std::u16string_view key,
                           std::vector<std::pair<std::u16string, std::u16string>>* values);
