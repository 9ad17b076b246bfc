// A host application for the tracer's configuration: only the settings
// (a fixed table of named values) and the journal are real; every other
// operation answers E_NOTIMPL. Counts how often settings and journal were
// asked for. Reference counted; deleted with its last Release.
#pragma once

#include <map>
#include <string>

#include "host/application.h"

namespace kx::test {

class TestJournal;

class FakeApplication;
FakeApplication* CreateFakeApplication(std::map<std::u16string, std::u16string> settings,
                                       TestJournal* journal);  // one reference, the caller's

class FakeApplication : public IKXQApplication {
 public:
  int settingsAsked = 0;
  int journalAsked = 0;
  bool hasSettings = true;

 protected:
  ~FakeApplication() = default;
};

}  // namespace kx::test
