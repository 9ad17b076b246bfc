// example_host: a host of one's own for the datasheet service. It opens an
// object store of the sample plant, loads the module by activation, runs
// its start-up, sends two requests and prints their replies and change
// events; then it waits for another process to change a value that the
// page it opened shows, and prints the trigger callback that brings the
// change in (docs/writing-a-host.md walks through it).
//   example_host STORE [SECONDS]
// STORE is a store of the sample plant (`kxqhost --store STORE init`, from
// the fixture the package names as KXDBDatasheetSvcs_SAMPLE_PLANT); the
// module is found in the registration store (KXQ_REGISTRY, else the
// user's), where `kxqhost register` or any kxqhost command put it. It
// waits up to SECONDS (default 60) for the other process's change.
// Exit status: 0 the change arrived, 1 a failure or no change, 2 usage.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "com/errorinfo.h"
#include "com/wstr.h"
#include "host/host.h"
#include "host/startup.h"
#include "host/store_host_session.h"
#include "store/admin.h"

namespace {

std::string Utf8(std::u16string_view text) { return kx_utf16_to_utf8_lossy(text); }

// The description of the thread's error information, which a failing call
// leaves, as COM does; the slot is empty afterwards.
std::string ErrorText() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return "(no description)";
  BSTR description = nullptr;
  info->GetDescription(&description);
  std::string text =
      Utf8(std::u16string_view(description ? description : u"", SysStringLen(description)));
  SysFreeString(description);
  info->Release();
  return text;
}

// Prints what a call left: its failure, or its reply (when it is a
// request) and its change events. False when it failed.
bool Show(const char* what, const kx::host::CallResult& result,
          const std::u16string* reply = nullptr) {
  if (!result.succeeded()) {
    // The description in plain words with a failed request's hint, on one
    // line; `result.error` holds the module's whole "<KXError" chain, for
    // a log.
    std::fprintf(stderr, "example_host: %s failed (0x%08X): %s\n", what,
                 static_cast<unsigned>(result.hr), Utf8(result.FailureText()).c_str());
    return false;
  }
  for (const std::u16string& text : result.warnings)
    std::printf("warning: %s\n", Utf8(text).c_str());
  if (reply) {
    std::printf("reply of %s: %s\n", what, reply->empty() ? "(none)" : Utf8(*reply).c_str());
  }
  for (const kx::host::DeliveredEvent& event : result.events) {
    std::printf("change event %s: %s\n", Utf8(event.message_name).c_str(),
                event.xml ? Utf8(*event.xml).c_str() : "(no XML)");
  }
  std::fflush(stdout);
  return true;
}

// Sends one request and prints its reply and change events.
bool Send(kx::host::Host& host, const char16_t* name, const char16_t* text) {
  const kx::host::RequestResult result = host.Request(name, text);
  return Show(Utf8(name).c_str(), result, &result.reply);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr,
                 "usage: example_host STORE [SECONDS]\nSTORE: a store of the sample plant "
                 "%s, made with: kxqhost --store STORE init\n",
                 KX_SAMPLE_PLANT);
    return 2;
  }
  const int seconds = argc == 3 ? std::atoi(argv[2]) : 60;

  // The store, and the session that runs every call into the module in one
  // of its transactions and relays its changes as database events and
  // trigger callbacks. Declared in this order, the host goes first, then
  // the session, then the store.
  std::unique_ptr<kx::store::Store> store;
  const kx::store::Status opened =
      kx::store::Store::Open(argv[1], kx::store::OpenMode::kOpenExisting, &store);
  if (!opened.ok()) {
    std::fprintf(stderr, "example_host: %s\n", opened.message.c_str());
    // The file was left as it was: a store is made where no file is.
    if (opened.hr == KXQ_E_NOTSTORE)
      std::fprintf(stderr, "example_host: make one with: kxqhost --store NEWFILE init\n");
    return 1;
  }
  kx::host::StoreHostSession session(*store);
  kx::host::Host host;

  // The module, by activation through the registration store.
  kx::host::Ref<IKXQDataService> module;
  CLSID module_class{};
  if (FAILED(kx::host::CreateModule(u"KXDBDatasheetSvcs.Main", &module, &module_class))) {
    std::fprintf(stderr, "example_host: %s\n", ErrorText().c_str());
    return 1;
  }

  // The start-up: the store, the user and the privileges, attach.
  if (FAILED(kx::host::ConnectStore(host, *store, session, module_class))) {
    std::fprintf(stderr, "example_host: the store cannot be read: %s\n", ErrorText().c_str());
    return 1;
  }
  const char* login = std::getenv("USER");
  const kx::host::User user{kx_utf8_to_utf16_lossy(login ? login : "example"), u"", {}};
  if (!Show("the start-up", kx::host::StartModule(host, module.get(), user))) return 1;

  // The editor opens page 1011 (P-101A, "Process conditions"): the reply
  // is the page. Reading it records what each field shows, so that a later
  // change of those values fires the page's trigger.
  if (!Send(host, u"OpenPage", u"1011")) return 1;
  // A value set on the page: no reply, a change event for its editors.
  if (!Send(host, u"SetRealField",
            u"<XMLMessage TargetId=\"Editor\" Status=\"1\"><SetRealField PageId=\"1011\" "
            u"FieldId=\"103\" Value=\"395\" Format=\"0\"/></XMLMessage>")) {
    return 1;
  }

  // Another process's change is seen at this host's next call, whose
  // transaction first brings the store up to what others committed and
  // fires the triggers their changes touch. With no request to send, an
  // empty call looks (DeliverHeldEvents, a transaction of its own).
  std::printf("waiting up to %d s for another process to change a value of page 1011\n", seconds);
  std::fflush(stdout);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const kx::host::CallResult looked = host.DeliverHeldEvents();
    bool fired = false;
    for (const std::string& line : session.delivered()) {
      if (line.rfind("trigger ", 0) != 0) continue;
      std::printf("trigger callback: %s\n", line.c_str());
      fired = true;
    }
    if (!Show("looking for other processes' changes", looked)) return 1;
    if (fired) return 0;
  }
  std::fprintf(stderr, "example_host: no change arrived within %d s\n", seconds);
  return 1;
}
