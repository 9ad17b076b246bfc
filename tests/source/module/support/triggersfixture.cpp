#include "triggersfixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "com/wstr.h"
#include "main.h"
#include "pagesfixture.h"

namespace triggerstest {


TriggersHost::TriggersHost() {
  kx::store::Status status =
      kx::store::Store::Open(":memory:", kx::store::OpenMode::kCreate, &m_store);
  if (!status.ok()) ADD_FAILURE() << "cannot open a store: " << status.message;
  std::ifstream file(KX_TRIGGERS_FIXTURE, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  status = m_store->ImportFixtureText(text.str(), KX_TRIGGERS_FIXTURE);
  if (!status.ok()) ADD_FAILURE() << "cannot import the fixture: " << status.message;
  m_session = std::make_unique<kx::kxqhost::StoreHostSession>(*m_store);
  m_session->SetHandlerTest(
      [](const std::u16string& handler) { return handler == u"KXDBDatasheetSvcs.Main"; });
  m_host.SetStoreSession(m_session.get());
  pagestest::AttachInProcessMain(m_host, database(), m_service);
}

TriggersHost::~TriggersHost() {
  m_host.Detach();
  m_host.SetStoreSession(nullptr);
  m_service = nullptr;
  m_session.reset();
  SetErrorInfo(0, nullptr);
}

Main& TriggersHost::main() const {
  return *static_cast<Main*>(static_cast<IKXQDataServiceImpl<Main>*>(m_service.get()));
}

IKXQObjectPtr TriggersHost::Object(LONG id) const {
  IKXQObjectPtr object;
  if (FAILED(database()->get_Object(id, &object))) ADD_FAILURE() << "no object " << id;
  return object;
}

_com_ptr_t<IKXQTrigger> TriggersHost::Trigger(LONG id, const char16_t* name) const {
  _com_ptr_t<IKXQTrigger> trigger;
  if (FAILED(Object(id)->get_Trigger(_bstr_t(name), &trigger))) ADD_FAILURE() << "no trigger";
  return trigger;
}

kx::host::CallResult TriggersHost::Set(LONG id, const char16_t* attribute, const char16_t* value,
                                       LONG position) {
  if (FAILED(m_session->BeginHostChange())) ADD_FAILURE() << "cannot begin a change";
  IKXQAttributePtr held;
  (void)Object(id)->get_Attribute(_bstr_t(attribute), _variant_t(-1L), &held);
  if (!held) ADD_FAILURE() << "no attribute";
  const _variant_t at = position > 0 ? _variant_t(position) : _variant_t();
  if (held && FAILED(held->PutValue(at, _variant_t(), _variant_t(value)))) {
    ADD_FAILURE() << "cannot set the value";
  }
  kx::host::CallResult result = m_host.DatabaseEvent(-1, nullptr, _variant_t());
  m_session->AbandonHostChange();
  return result;
}

std::string TriggersHost::Text(LONG id, const char16_t* attribute, LONG position) const {
  IKXQAttributePtr held;
  (void)Object(id)->get_Attribute(_bstr_t(attribute), _variant_t(-1L), &held);
  _variant_t value;
  if (held) {
    (void)held->GetValue(position > 0 ? _variant_t(position) : _variant_t(), _variant_t(),
                         value.GetAddress());
  }
  return value.vt == VT_BSTR ? Narrow(value.bstrVal) : std::string();
}

std::string TriggersHost::Delivered() const {
  std::string lines;
  for (const std::string& line : m_session->delivered()) lines += line + "\n";
  return lines;
}

}  // namespace triggerstest
