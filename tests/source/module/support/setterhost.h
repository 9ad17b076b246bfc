// The field setters end to end: the shared test host (testhost.h) on a
// store imported from a fixture, running every request in one store
// transaction (committed on success, rolled back on failure, as the host
// program does), with the module's Main created in-process with its real
// workers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "testhost.h"

namespace kx::test::setters {

// A small plant for the setters; ids below.
extern const char* const kSetterFixture;

enum : LONG {
  kPump = 10,        // Tag "P-101", Flow 2 l/s
  kMaster = 2,       // the master BEDD object: AmbientTemperature 35 C
  kSheet = 20,       // datasheet of template "TP", open by "ed" (1), "sue" (2), "kim" (3)
  kPage = 21,        // its page P1: the pump on node 0; "Units" l/s
  kPage2 = 22,       // its page P2
  kSubmitted = 23,   // the submitted copy of 21
  kChecked = 24,     // the checked copy of 21
  kIssued = 25,      // the issued copy of 21
  kEmptySheet = 40,  // datasheet of "TP" whose pages have no pump yet
  kEmptyPage = 41,
  kEmptyPage2 = 42,
  kList = 50,  // summary of template "TS" without permanent filter: rows 52, 53
  kListPage = 51,
  kFiltered = 60,      // summary whose page 61 has an "SSPF" trigger, filter "P-1 only"
  kFilteredPage = 61,  // one row, pump 62
};

// Field ids of template page "TP"/"P1" (equal to their numbers).
enum : int32_t {
  kTagField = 1,
  kFlowField = 2,
  kSpeedField = 3,
  kInstalledField = 4,
  kRunningField = 5,
  kVentedField = 6,  // check
  kSealField = 7,    // radio: none, single, double
  kSketchField = 8,
  // "TS"/"L1": 11 on the sheet, 12 and 13 per row.
  kRowTagField = 12,
  kRowFlowField = 13,
};

class SetterHost : public kx::test::TestHost {
 public:
  explicit SetterHost(const char* fixture = kSetterFixture);

  // One request; the message element is wrapped in an envelope with
  // "Status" `status` (none for -1).
  kx::host::RequestResult Send(std::u16string_view name, std::u16string_view message,
                               int status = 1);

  // The value of an attribute at a 1-based position as text ("" for none);
  // reals in `unit` when given.
  std::string Value(LONG id, const char16_t* attribute, LONG position = 1,
                    const char16_t* unit = nullptr) const;
  LONG Count(LONG id, const char16_t* attribute) const;

 private:
  class Session;
};

std::string Narrow(std::u16string_view text);
// "MESSAGE [KEY] to A, B" for each event, in order.
std::vector<std::string> EventLines(const kx::host::CallResult& result);

}  // namespace kx::test::setters
