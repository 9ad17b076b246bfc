#include "host/recording_registrar.h"

#include "host/errors.h"
#include "host/internal/xml_text.h"
#include "host/utf.h"

namespace kx::host {

using internal::BstrView;
using internal::Fail;

namespace {

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string BoolText(VARIANT_BOOL value) { return value ? u"true" : u"false"; }

// The elements of a 1-D SAFEARRAY of BSTR; false when it is not one.
bool ReadStringArray(SAFEARRAY* array, std::vector<std::u16string>& out) {
  if (!array || SafeArrayGetDim(array) != 1) return false;
  VARTYPE type = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &type)) || type != VT_BSTR) return false;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(SafeArrayGetUBound(array, 1, &upper))) {
    return false;
  }
  for (LONG i = lower; i <= upper; ++i) {
    BSTR item = nullptr;
    if (FAILED(SafeArrayGetElement(array, &i, &item))) return false;
    out.emplace_back(BstrView(item));
    SysFreeString(item);
  }
  return true;
}

// The class filter of a subscription or registration: one name or an array
// of names. False for any other VARIANT.
bool ReadClasses(const VARIANT& filter, std::vector<std::u16string>& out) {
  if (filter.vt == VT_BSTR) {
    out.emplace_back(BstrView(filter.bstrVal));
    return true;
  }
  if (filter.vt == (VT_ARRAY | VT_BSTR)) return ReadStringArray(filter.parray, out);
  return false;
}

std::u16string VariantText(const VARIANT& value) {
  if (value.vt == VT_EMPTY) return u"";
  if (value.vt == VT_BOOL) return BoolText(value.boolVal);
  std::u16string text;
  if (SUCCEEDED(internal::FormatAttributeValue(value, text))) return text;
  std::vector<std::u16string> names;
  if (ReadClasses(value, names)) {
    text = u"[";
    for (size_t i = 0; i < names.size(); ++i) {
      if (i) text += u',';
      text += names[i];
    }
    return text + u"]";
  }
  return u"<vt " + Widen(std::to_string(value.vt)) + u">";
}

bool ReadLong(const VARIANT& value, LONG& out) {
  switch (value.vt) {
    case VT_I4: out = value.lVal; return true;
    case VT_I2: out = value.iVal; return true;
    case VT_INT: out = value.intVal; return true;
    default: return false;
  }
}

}  // namespace

std::string RegistrarCall::ToString() const {
  std::string text = operation + "(";
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i) text += ", ";
    text += internal::Utf16ToUtf8(arguments[i]);
  }
  return text + ")";
}

std::vector<std::string> Registrar::CallTexts() const {
  std::vector<std::string> texts;
  for (const auto& call : calls_) texts.push_back(call.ToString());
  return texts;
}

void Registrar::SetTemplates(IDispatch* templates) { templates_ = Ref<IDispatch>(templates); }

void Registrar::FailCall(std::string operation, HRESULT hr, std::u16string description,
                         std::optional<std::u16string> first_argument) {
  failures_.push_back(
      FailureRule{std::move(operation), std::move(first_argument), hr, std::move(description)});
}

HRESULT Registrar::Record(RegistrarCall call) {
  for (const auto& rule : failures_) {
    if (rule.operation != call.operation) continue;
    if (rule.first_argument &&
        (call.arguments.empty() || call.arguments.front() != *rule.first_argument)) {
      continue;
    }
    call.failed = true;
    calls_.push_back(std::move(call));
    return Fail(rule.hr, rule.description);
  }
  calls_.push_back(std::move(call));
  return S_OK;
}

HRESULT Registrar::RegisterService(BSTR progId) {
  if (HRESULT hr = Record({"RegisterService", {std::u16string(BstrView(progId))}}); FAILED(hr)) {
    return hr;
  }
  services_.emplace_back(BstrView(progId));
  return S_OK;
}

HRESULT Registrar::DeclarePrivilege(BSTR name, BSTR group, BSTR description) {
  PrivilegeDeclaration declaration{std::u16string(BstrView(name)), std::u16string(BstrView(group)),
                                   std::u16string(BstrView(description))};
  if (HRESULT hr = Record(
          {"DeclarePrivilege", {declaration.name, declaration.group, declaration.description}});
      FAILED(hr)) {
    return hr;
  }
  if (declaration.name.empty()) return Fail(E_INVALIDARG, u"A privilege needs a name");
  privileges_.push_back(std::move(declaration));
  return S_OK;
}

HRESULT Registrar::GetTemplates(IDispatch** templates) {
  if (!templates) return E_POINTER;
  *templates = nullptr;
  if (HRESULT hr = Record({"GetTemplates", {}}); FAILED(hr)) return hr;
  *templates = templates_.AddRefCopy();
  return S_OK;
}

HRESULT Registrar::Subscribe(LONG localKind, VARIANT eventKind, VARIANT classFilter,
                             VARIANT_BOOL deferred) {
  if (HRESULT hr = Record({"Subscribe",
                           {Widen(std::to_string(localKind)), VariantText(eventKind),
                            VariantText(classFilter), BoolText(deferred)}});
      FAILED(hr)) {
    return hr;
  }
  Subscription subscription;
  subscription.local_kind = localKind;
  if (!ReadLong(eventKind, subscription.event_kind)) {
    return Fail(DISP_E_TYPEMISMATCH, u"The database event kind is not an integer");
  }
  if (!ReadClasses(classFilter, subscription.classes)) {
    return Fail(DISP_E_TYPEMISMATCH,
                u"The class filter is neither a class name nor a list of them");
  }
  subscriptions_.push_back(std::move(subscription));
  return S_OK;
}

HRESULT Registrar::RegisterObjectService(LONG kind, BSTR name, VARIANT className) {
  if (HRESULT hr = Record(
          {"RegisterObjectService",
           {Widen(std::to_string(kind)), std::u16string(BstrView(name)), VariantText(className)}});
      FAILED(hr)) {
    return hr;
  }
  if (className.vt != VT_BSTR) {
    return Fail(DISP_E_TYPEMISMATCH, u"The class of an object service is not a class name");
  }
  object_services_.push_back(ObjectService{kind, std::u16string(BstrView(name)),
                                           std::u16string(BstrView(className.bstrVal))});
  return S_OK;
}

HRESULT Registrar::DeclareMethod(LONG methodId, BSTR name, VARIANT className, BSTR displayName,
                                 BSTR description, VARIANT_BOOL flag1, VARIANT_BOOL flag2,
                                 VARIANT_BOOL flag3) {
  if (HRESULT hr = Record(
          {"DeclareMethod",
           {Widen(std::to_string(methodId)), std::u16string(BstrView(name)), VariantText(className),
            std::u16string(BstrView(displayName)), std::u16string(BstrView(description)),
            BoolText(flag1), BoolText(flag2), BoolText(flag3)}});
      FAILED(hr)) {
    return hr;
  }
  if (className.vt != VT_BSTR) {
    return Fail(DISP_E_TYPEMISMATCH, u"The class of a method is not a class name");
  }
  methods_.push_back(MethodDeclaration{
      methodId, std::u16string(BstrView(name)), std::u16string(BstrView(className.bstrVal)),
      std::u16string(BstrView(displayName)), std::u16string(BstrView(description))});
  return S_OK;
}

std::vector<Subscription> Registrar::SubscriptionsFor(LONG event_kind) const {
  std::vector<Subscription> found;
  for (const auto& subscription : subscriptions_) {
    if (subscription.event_kind == event_kind) found.push_back(subscription);
  }
  return found;
}

std::optional<ObjectService> Registrar::ObjectServiceFor(LONG kind) const {
  for (const auto& service : object_services_) {
    if (service.kind == kind) return service;
  }
  return std::nullopt;
}

}  // namespace kx::host
