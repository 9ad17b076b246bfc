#include "testhost.h"

#include <gtest/gtest.h>

#include "com/errorinfo.h"
#include "com/wstr.h"
#include "main/main.h"
#include "main/mainworkers.h"
#include "teststore.h"

namespace kx::test {

kx::host::Ref<IKXQDataService> MakeMain(MainWorkers* workers) {
  IKXQDataService* made = nullptr;
  if (FAILED(Main::CreateInstance(IID_IKXQDataService, reinterpret_cast<void**>(&made))) ||
      made == nullptr) {
    ADD_FAILURE() << "cannot create Main";
    return {};
  }
  if (workers != nullptr) MainOf(made).UseWorkers(workers);
  return kx::host::Ref<IKXQDataService>::Adopt(made);
}

IKXQObjectPtr ObjectOf(IKXQDatabase* database, LONG id) {
  IKXQObjectPtr object;
  if (FAILED(database->get_Object(id, &object))) ADD_FAILURE() << "no object " << id;
  return object;
}

IKXQAttributePtr AttributeOf(IKXQObject* object, const char16_t* name) {
  IKXQAttributePtr attribute;
  if (object != nullptr) (void)object->get_Attribute(_bstr_t(name), _variant_t(), &attribute);
  return attribute;
}

std::optional<std::string> TextAt(IKXQObject* object, const char16_t* attribute, LONG position) {
  const IKXQAttributePtr values = AttributeOf(object, attribute);
  _variant_t value;
  if (values) {
    (void)values->GetValue(position > 0 ? _variant_t(position) : _variant_t(), _variant_t(),
                           value.GetAddress());
  }
  if (value.vt != VT_BSTR) return std::nullopt;
  return kx_utf16_to_utf8_lossy(value.bstrVal != nullptr ? std::u16string_view(value.bstrVal)
                                                         : std::u16string_view());
}

void ClearErrorInfo() { SetErrorInfo(0, nullptr); }

TestHost::TestHost(const std::string& fixture, Projects projects, const std::string& name)
    : store_(OpenStore(fixture, name)) {
  if (store_) UseStore(app(), database(), projects);
}

TestHost::~TestHost() {
  app().DiscardPendingEvents();
  host_.Detach();
  host_.SetStoreSession(nullptr);
  service_ = nullptr;
  session_.reset();
  ClearErrorInfo();
}

void TestHost::UseSession(std::unique_ptr<kx::host::StoreSession> session) {
  session_ = std::move(session);
  host_.SetStoreSession(session_.get());
}

void TestHost::AttachMain(MainWorkers* workers) {
  service_ = MakeMain(workers);
  if (!service_ || FAILED(host_.Attach(service_.get()))) ADD_FAILURE() << "cannot attach Main";
}

}  // namespace kx::test
