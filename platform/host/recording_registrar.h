// The host's registrar: records every start-up registration of a module, in
// order and with its arguments, and keeps what the host later routes by: the
// database-event subscriptions and the object services.
//
// Test model: any call can be made to fail. A failure rule names an
// operation and, optionally, the text of its first argument; the matching
// call returns the rule's HRESULT with the rule's description as error
// information, is recorded with `failed` set, and registers nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/com_object.h"
#include "host/registrar.h"

namespace kx::host {

// One call as received. Arguments in their text form: BSTRs as they stand,
// numbers in decimal, Booleans "true"/"false", a VT_BSTR VARIANT as its text,
// an array of BSTRs as "[A,B]", a null interface "null".
struct RegistrarCall {
  std::string operation;  // e.g. "Subscribe"
  std::vector<std::u16string> arguments;
  bool failed = false;

  // "Operation(arg1, arg2, ...)" in UTF-8, for test expectations.
  std::string ToString() const;
};

struct Subscription {
  LONG local_kind = 0;
  LONG event_kind = 0;
  std::vector<std::u16string> classes;  // the class filter
};

struct ObjectService {
  LONG kind = 0;
  std::u16string name;
  std::u16string class_name;
};

struct MethodDeclaration {
  LONG id = 0;
  std::u16string name;
  std::u16string class_name;
  std::u16string display_name;
  std::u16string description;
};

struct PrivilegeDeclaration {
  std::u16string name, group, description;
};

class Registrar final : public internal::DispatchObject<IKXQRegistrar> {
 public:
  HRESULT RegisterService(BSTR progId) override;
  HRESULT DeclarePrivilege(BSTR name, BSTR group, BSTR description) override;
  HRESULT GetTemplates(IDispatch** templates) override;
  HRESULT Subscribe(LONG localKind, VARIANT eventKind, VARIANT classFilter,
                    VARIANT_BOOL deferred) override;
  HRESULT RegisterObjectService(LONG kind, BSTR name, VARIANT className) override;
  HRESULT DeclareMethod(LONG methodId, BSTR name, VARIANT className, BSTR displayName,
                        BSTR description, VARIANT_BOOL flag1, VARIANT_BOOL flag2,
                        VARIANT_BOOL flag3) override;

  // The collection GetTemplates hands out (AddRef'd here); null gives none.
  void SetTemplates(IDispatch* templates);

  // Makes the next calls of `operation` fail (all of them, or only those
  // whose first argument's text is `first_argument`).
  void FailCall(std::string operation, HRESULT hr, std::u16string description,
                std::optional<std::u16string> first_argument = std::nullopt);
  void ClearFailures() { failures_.clear(); }

  const std::vector<RegistrarCall>& calls() const { return calls_; }
  // Each call's ToString(), in order.
  std::vector<std::string> CallTexts() const;

  const std::vector<std::u16string>& services() const { return services_; }
  const std::vector<PrivilegeDeclaration>& privileges() const { return privileges_; }
  const std::vector<Subscription>& subscriptions() const { return subscriptions_; }
  const std::vector<ObjectService>& object_services() const { return object_services_; }
  const std::vector<MethodDeclaration>& methods() const { return methods_; }

  // The subscriptions to `event_kind` (in registration order).
  std::vector<Subscription> SubscriptionsFor(LONG event_kind) const;
  // The object service registered for `kind`, if any.
  std::optional<ObjectService> ObjectServiceFor(LONG kind) const;

 private:
  struct FailureRule {
    std::string operation;
    std::optional<std::u16string> first_argument;
    HRESULT hr;
    std::u16string description;
  };
  // Records the call; returns the failure to report, or S_OK.
  HRESULT Record(RegistrarCall call);

  std::vector<RegistrarCall> calls_;
  std::vector<FailureRule> failures_;
  Ref<IDispatch> templates_;
  std::vector<std::u16string> services_;
  std::vector<PrivilegeDeclaration> privileges_;
  std::vector<Subscription> subscriptions_;
  std::vector<ObjectService> object_services_;
  std::vector<MethodDeclaration> methods_;
};

}  // namespace kx::host
