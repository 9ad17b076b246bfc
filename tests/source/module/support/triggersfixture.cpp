#include "triggersfixture.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace kx::test::triggers {

namespace {

std::string FileText(const char* path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

TriggersHost::TriggersHost()
    : TestHost(FileText(KX_TRIGGERS_FIXTURE), kx::test::Projects::kRoot, KX_TRIGGERS_FIXTURE) {
  auto session = std::make_unique<kx::host::StoreHostSession>(store());
  // A fired trigger of another handler goes to that service, which the
  // tests stand in for by noting its name.
  session->SetHandlerTest([this](const std::u16string& handler) {
    if (handler == u"KXDBDatasheetSvcs.Main") return true;
    if (!handler.empty()) other_handlers_ += Narrow(handler) + "\n";
    return false;
  });
  session_ = session.get();
  UseSession(std::move(session));
  AttachMain();
}

_com_ptr_t<IKXQTrigger> TriggersHost::Trigger(LONG id, const char16_t* name) const {
  _com_ptr_t<IKXQTrigger> trigger;
  if (FAILED(Object(id)->get_Trigger(_bstr_t(name), &trigger))) ADD_FAILURE() << "no trigger";
  return trigger;
}

kx::host::CallResult TriggersHost::Set(LONG id, const char16_t* attribute, const char16_t* value,
                                       LONG position) {
  if (FAILED(session_->BeginHostChange())) ADD_FAILURE() << "cannot begin a change";
  const IKXQAttributePtr held = kx::test::AttributeOf(Object(id), attribute);
  if (!held) ADD_FAILURE() << "no attribute";
  const _variant_t at = position > 0 ? _variant_t(position) : _variant_t();
  if (held && FAILED(held->PutValue(at, _variant_t(), _variant_t(value)))) {
    ADD_FAILURE() << "cannot set the value";
  }
  kx::host::CallResult result = host().DatabaseEvent(-1, nullptr, _variant_t());
  session_->AbandonHostChange();
  return result;
}

std::string TriggersHost::Text(LONG id, const char16_t* attribute, LONG position) const {
  return kx::test::TextAt(Object(id), attribute, position).value_or("");
}

std::string TriggersHost::Delivered() const {
  std::string lines;
  for (const std::string& line : session_->delivered()) lines += line + "\n";
  return lines;
}

std::string TriggersHost::TakeOtherHandlers() {
  std::string lines;
  lines.swap(other_handlers_);
  return lines;
}

}  // namespace kx::test::triggers
