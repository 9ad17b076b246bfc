// A small plant for the template and file messages, end to end: the shared
// test host (testhost.h) on an in-memory store with a template library,
// template records and datasheets, its settings naming four folders of real
// files in a fresh temporary folder.
//
// Templates (id "name" kind, classes; pages):
//   GEN "d general" General; GLOBE "g globals" Datasheet, GlobalsClass
//   (G1 "Globals %i"); LIST "A summary list" Summary, GenericClass,
//   continuous (L1 "List %d"); NOCLASS "f no class" Datasheet, no classes
//   (N1 "Only"); OFF "e off" Datasheet, Vessel, not available (O1);
//   ESC "h escape" General, path "..\secret.txt"; PLAINSUM "c plain summary"
//   Summary, Pump, no category (S1 "Summary"); PUMP "Pump sheet" Datasheet,
//   Pump, checknums 1 and 2, version 2 with cached data and source, path
//   "Rotating\pump.xls" (P1 "Process %d", P2 unnamed, P3 "Motor %s %05d of
//   %d %%"); VES "b vessel" Datasheet, Vessel (V1 "Shell"); pump-b "PUMP
//   SHEET" Datasheet, Pump, no category (B1 "Sheet").
// Objects: 1 GlobalsClass; 100 "P-100" and 101 "P-101" Pumps; 200 "V-200"
//   Vessel; template records 900 PUMP 2, 901 pump-b 1, 902 VES (no
//   checknum), 903 LIST 1; datasheets 1000 (PUMP: pages 1001 with P-100,
//   1002 empty), 2000 (LIST), 3000 (PLAINSUM), 4000 (NOCLASS).
// Folders under root(): library/ (Folder::TemplateLibrary: Rotating/
//   pump.xls, pumpb.xls, logo.bmp), bitmaps/ (Folder::Bitmaps: pump.bmp,
//   escape.bmp -> ../secret.txt), sources/ (Folder::Templates: PUMP.qmf,
//   UPPER.QMF), datasheets/ (Folder::Datasheets: notes.txt, up -> ..), and
//   secret.txt beside them, in no folder.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "testhost.h"

namespace kx::test::inprocess {

class TemplateStore : public kx::test::TestHost {
 public:
  TemplateStore();
  ~TemplateStore();

  const std::filesystem::path& root() const { return root_; }
  std::u16string Folder(const char* name) const;

  // Sends a request; the result keeps the reply, files, warnings, messages
  // and error.
  kx::host::RequestResult Request(std::u16string_view name, std::u16string_view text);
  // The "ExcelFile" bytes of template record `id` ("" when none).
  std::string ExcelFile(LONG id) const;

 private:
  std::filesystem::path root_;
};

// The description of a failed result and its first "Desc", in UTF-8.
std::string FirstDescription(const kx::host::CallResult& result);

}  // namespace kx::test::inprocess
