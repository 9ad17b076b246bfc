// The host's settings, privileges and journal objects.
#pragma once

#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/com_object.h"
#include "host/failure_points.h"
#include "host/settings.h"

namespace kx::host {

// Named values. Names compare without regard to the case of ASCII letters.
// Folders are settings too: folder "Templates" is the value of
// "Folder::Templates". Every folder setting also names a folder that the
// host may send files from (see Response::SetFileFolders).
//
// Settings file: UTF-8 text, one "NAME=VALUE" per line; blanks around name
// and value are dropped; empty lines and lines starting with "#" are
// skipped; a later line replaces an earlier one.
class Settings final : public internal::DispatchObject<IKXQSettings> {
 public:
  // Loads a settings file. On failure returns false, sets `*error` to
  // "FILE:LINE: reason" (or "FILE: reason") and keeps no value of the file.
  bool LoadFile(const std::string& path, std::string* error);
  // The same for text held in memory; `origin` names it in errors.
  bool LoadText(std::string_view text, const std::string& origin, std::string* error);
  // One "NAME=VALUE" assignment, as given on a command line with --set.
  bool Override(std::string_view assignment, std::string* error);

  void Set(std::u16string_view name, std::u16string_view value);
  std::optional<std::u16string> Get(std::u16string_view name) const;
  // Maps folder `name` to `directory`.
  void SetFolder(std::u16string_view name, std::u16string_view directory);
  // The directory of folder `name` as GetFolder gives it ("/" separators, no
  // trailing separator); empty when the folder is not set.
  std::u16string Folder(std::u16string_view name) const;
  // The directories of every folder that is set (empty ones left out).
  std::vector<std::u16string> FolderPaths() const;

  HRESULT GetValue(BSTR name, BSTR* value) override;
  HRESULT GetFolder(BSTR folder, BSTR* path) override;

  // Injected failures of this object's operations (for tests).
  FailurePoints& failures() { return failures_; }

 private:
  FailurePoints failures_;
  // Lower-cased name -> value.
  std::map<std::u16string, std::u16string> values_;
};

// The signed-in user: names, discipline and granted privileges. Also the
// source of the application's local privilege table.
class Privileges final : public internal::DispatchObject<IKXQPrivileges> {
 public:
  void SetLoginName(std::u16string_view name) { login_name_ = name; }
  void SetUserName(std::u16string_view name) { user_name_ = name; }
  void SetDiscipline(std::u16string_view discipline) { discipline_ = discipline; }
  void Grant(std::u16string_view privilege) { granted_.emplace(privilege); }
  void Revoke(std::u16string_view privilege) { granted_.erase(std::u16string(privilege)); }
  bool Has(std::u16string_view privilege) const {
    return granted_.count(std::u16string(privilege)) != 0;
  }
  // Rows of the local privilege table, in order: name and granted flag.
  void AddLocalPrivilege(std::u16string_view name, bool granted) {
    local_.emplace_back(std::u16string(name), granted);
  }
  const std::vector<std::pair<std::u16string, bool>>& local_privileges() const { return local_; }

  HRESULT get_LoginName(BSTR* name) override;
  HRESULT get_UserName(BSTR* name) override;
  HRESULT get_Discipline(BSTR* discipline) override;
  HRESULT HasPrivilege(BSTR name, VARIANT_BOOL* granted) override;

  // Injected failures of this object's operations (for tests).
  FailurePoints& failures() { return failures_; }

 private:
  FailurePoints failures_;
  std::u16string login_name_, user_name_, discipline_;
  std::set<std::u16string> granted_;
  std::vector<std::pair<std::u16string, bool>> local_;
};

// The journal of trace lines: each entry becomes one UTF-8 line, written to
// a stream (standard error by default) or, for tests, kept in memory.
class Journal final : public internal::DispatchObject<IKXQJournal> {
 public:
  // Writes to `stream` (not owned; must outlive the journal's use).
  void WriteTo(std::FILE* stream) {
    stream_ = stream;
    capture_ = false;
  }
  // Keeps the text in memory instead (see text()).
  void Capture() { capture_ = true; }
  const std::string& text() const { return text_; }

  HRESULT Write(BSTR text) override;

  // Automation: "Write" (KXQ_DISPID_JOURNAL_WRITE) with exactly one
  // argument that converts to text writes it; other members fail with
  // DISP_E_MEMBERNOTFOUND, other argument counts with DISP_E_BADPARAMCOUNT,
  // an argument that is no text with DISP_E_TYPEMISMATCH.
  std::span<const kx::com::DispatchEntry> dispatch_entries() const override;

 private:
  std::FILE* stream_ = stderr;
  bool capture_ = false;
  std::string text_;
};

}  // namespace kx::host
