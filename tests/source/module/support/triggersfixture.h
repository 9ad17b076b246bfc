// A store for the trigger tests, run by a host with a real store session:
// a change "by another client" and the trigger callbacks it causes run in
// one transaction, delivered as the host program delivers them.
//
// The plant is tests/tools/data/triggers-plant.xml (its comment says what
// it holds), shared with the host program's trigger scripts.
#pragma once

#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "host/store_host_session.h"
#include "pagesfixture.h"
#include "testhost.h"

namespace kx::test::triggers {

enum : LONG {
  kPump = 10,
  kPump2 = 11,
  kOwnPump = 12,
  kSheet = 100,
  kPage = 101,
  kOwnPage = 102,
  kSubmitted = 121,
  kList = 200,
  kListPage = 201,
  kSummary = 300,
  kSummaryPage = 301,
  kReadings = 400,
  kReadingsPage = 401,
};

class TriggersHost : public kx::test::TestHost {
 public:
  // The store of tests/tools/data/triggers-plant.xml, in memory.
  TriggersHost();

  _com_ptr_t<IKXQTrigger> Trigger(LONG id, const char16_t* name) const;

  // Sets a text value as another client would, then lets the host deliver
  // what it caused; the outcome of that delivery.
  kx::host::CallResult Set(LONG id, const char16_t* attribute, const char16_t* value,
                           LONG position = 0);
  // The text at `position` of a list attribute (empty for none).
  std::string Text(LONG id, const char16_t* attribute, LONG position = 0) const;
  // The trigger lines the session delivered in the last call.
  std::string Delivered() const;
  // The handlers other than this service whose fired triggers the host
  // handed on since the last call of this, one line each, in order.
  std::string TakeOtherHandlers();

 private:
  kx::host::StoreHostSession* session_;  // owned by the host
  std::string other_handlers_;
};

using kx::test::pages::Narrow;

// The host with a page opened through the module, for the trigger tests.
class TriggersTest : public ::testing::Test {
 protected:
  void Open(const char16_t* page) {
    const kx::host::RequestResult opened = m_host.host().Request(u"OpenPage", page);
    ASSERT_TRUE(opened.succeeded()) << Narrow(opened.error);
    ASSERT_TRUE(opened.warnings.empty()) << Narrow(opened.warnings[0]);
  }
  TriggersHost m_host;
};

}  // namespace kx::test::triggers
