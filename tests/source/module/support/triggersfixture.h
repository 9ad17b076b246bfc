// A store for the trigger tests, run by a host with a real store session:
// a change "by another client" and the trigger callbacks it causes run in
// one transaction, delivered as the host program delivers them.
//
// Datasheet 100 ("T12", user alice) shows pump 10 on page 101 in twelve
// text fields F1..F12; its submitted copy 121 mirrors page 101. Datasheet
// 200 is a continuous list ("TL": three fixed fields on the sheet itself,
// rows of three fields F1..F3) with pumps 10 and 11 on page 201. Datasheet
// 300 is a summary sheet ("TS") whose filter passes pumps with F12 "yes";
// pump 12 belongs to datasheet 100 itself (field 12 of page 102 shows it).
#pragma once

#include <memory>
#include <string>

#include "host/host.h"
#include "kxstoreptrs.h"
#include "session.h"
#include "store/admin.h"

class Main;

namespace triggerstest {

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
};

extern const char kTriggersFixture[];

class TriggersHost {
 public:
  explicit TriggersHost(const char* fixture = kTriggersFixture);
  ~TriggersHost();

  kx::host::Host& host() { return m_host; }
  kx::host::Application& app() { return m_host.application(); }
  IKXQDatabase* database() const { return m_store->Database(); }
  Main& main() const;
  IKXQObjectPtr Object(LONG id) const;
  _com_ptr_t<IKXQTrigger> Trigger(LONG id, const char16_t* name) const;

  // Sets a text value as another client would, then lets the host deliver
  // what it caused; the outcome of that delivery.
  kx::host::CallResult Set(LONG id, const char16_t* attribute, const char16_t* value,
                           LONG position = 0);
  // The text at `position` of a list attribute (empty for none).
  std::string Text(LONG id, const char16_t* attribute, LONG position = 0) const;
  // The trigger lines the session delivered in the last call.
  std::string Delivered() const;

 private:
  std::unique_ptr<kx::store::Store> m_store;
  std::unique_ptr<kx::kxqhost::StoreHostSession> m_session;
  kx::host::Host m_host;
  kx::host::Ref<IKXQDataService> m_service;
};

std::string Narrow(std::u16string_view text);

}  // namespace triggerstest
