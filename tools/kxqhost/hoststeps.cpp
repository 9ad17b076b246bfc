// The script steps that drive the host itself rather than the store or a
// message: "deliver" (the change events held under --hold-events),
// "detach" and "attach" (the module detached and attached again, with other
// settings), and "reserved" (the module's not-implemented operations).
#include <cstdio>
#include <string>

#include "host/errors.h"
#include "host/host.h"
#include "host/utf.h"
#include "program.h"
#include "script.h"

namespace kx::kxqhost {

namespace {

std::string Failure(const std::string& what, HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  const std::string why = host::internal::Utf16ToUtf8(host::internal::TakeErrorDescription());
  return what + ": " + code + (why.empty() ? "" : ": " + why);
}

}  // namespace

int Program::HostStep(const Step& step) {
  const std::string& command = step.words[0];
  if (command == "deliver") return DeliverHeldEvents("deliver");
  if (command == "reserved") return Reserved(step.words[1]);
  IKXQDataService* module = host_->module();
  if (!module) return Error("no module is attached"), kExitFailed;
  // Held events read the store through the module: they go out first.
  if (const int delivered = DeliverHeldEvents("deliver"); delivered != kExitOk) return delivered;
  if (command == "detach") {
    // The module's own detach: the host keeps the object, to attach it again.
    const HRESULT hr = module->Detach();
    if (FAILED(hr)) return Error(Failure("the module refused to detach", hr)), kExitFailed;
    return kExitOk;
  }
  // "attach NAME=VALUE...": the settings change first, as --set would.
  for (size_t i = 1; i < step.words.size(); ++i) {
    std::string error;
    if (!host_->settings().Override(step.words[i], &error)) return Error(error), kExitFailed;
  }
  const HRESULT hr = host_->Attach(module);
  if (FAILED(hr)) return Error(Failure("the module refused to attach", hr)), kExitFailed;
  return kExitOk;
}

int Program::Reserved(const std::string& slot) {
  if (slot.size() != 1 || slot[0] < '1' || slot[0] > '5') {
    return Error("not a slot of a not-implemented operation (1-5): " + slot), kExitUsage;
  }
  return Finish(host_->CallReserved(slot[0] - '0'), "not-implemented operation " + slot);
}

int Program::DeliverHeldEvents(const std::string& what) {
  if (!host_ || host_->application().pending_count() == 0) return kExitOk;
  if (what != "deliver") {
    std::fprintf(out_, "## (%s) deliver\n", what.c_str());
  }
  return Finish(host_->DeliverHeldEvents(), "delivering the held events");
}

}  // namespace kx::kxqhost
