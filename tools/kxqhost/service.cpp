// The commands that call the module by name through IDispatch and print
// the result: `service` (an object service of Main), `method` (the module's
// RunMethod) and `automation` (Main's own automation methods).
#include <cstdio>
#include <vector>

#include "com/wstr.h"
#include "common.h"
#include "host/host.h"
#include "host/store_host_session.h"
#include "program.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/object.h"
#include "store/templates.h"
#include "xmltext.h"

namespace kx::kxqhost {

namespace {

// An automation result as text: a store object as "#ID Class: name", a
// project as "project #ID name", Booleans as "true"/"false", an array one
// element a line as "[index] element"; anything else as its text form.
std::u16string DescribeValue(const VARIANT& value, const std::u16string& text);

std::u16string DescribeObject(IDispatch* dispatch) {
  if (dispatch == nullptr) return u"(none)";
  _com_ptr_t<IKXQObject> object;
  if (SUCCEEDED(dispatch->QueryInterface(IID_IKXQObject, reinterpret_cast<void**>(&object)))) {
    LONG id = 0;
    object->get_Id(&id);
    std::u16string out = u"#" + kx_format(u"%ld", id);
    _com_ptr_t<IKXQClass> cls;
    _bstr_t className, name;
    if (SUCCEEDED(object->get_Class(&cls)) && cls) cls->get_Name(className.GetAddress());
    _variant_t option(false);
    object->get_Name(option, name.GetAddress());
    return out + u" " + std::u16string(className.view()) + u": " + std::u16string(name.view());
  }
  _com_ptr_t<IKXQObjectCollection> collection;
  if (SUCCEEDED(dispatch->QueryInterface(kx_uuidof<IKXQObjectCollection>(),
                                         reinterpret_cast<void**>(&collection)))) {
    LONG count = 0;
    collection->get_Count(&count);
    std::u16string out = u"collection of " + kx_format(u"%ld", count);
    for (LONG i = 1; i <= count; ++i) {
      _com_ptr_t<IKXQObject> item;
      if (FAILED(collection->get_Item(i, &item)) || !item) continue;
      out += u"\n[" + kx_format(u"%ld", i) + u"] " + DescribeObject(item);
    }
    return out;
  }
  _com_ptr_t<IKXQProject> project;
  if (SUCCEEDED(dispatch->QueryInterface(IID_IKXQProject, reinterpret_cast<void**>(&project)))) {
    LONG id = 0;
    project->get_Id(&id);
    _bstr_t name;
    project->get_Name(name.GetAddress());
    return u"project #" + kx_format(u"%ld", id) + u" " + std::u16string(name.view());
  }
  return u"(object)";
}

std::u16string DescribeValue(const VARIANT& value, const std::u16string& text) {
  if (value.vt == VT_BOOL) return value.boolVal ? u"true" : u"false";
  if (value.vt == VT_DISPATCH) return DescribeObject(value.pdispVal);
  if ((value.vt & VT_ARRAY) == 0 || value.parray == nullptr) return text;
  SAFEARRAY* array = value.parray;
  if (SafeArrayGetDim(array) != 1) return u"(array)";
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  const VARTYPE elementType = value.vt & VT_TYPEMASK;
  std::u16string out;
  for (LONG i = lower; i <= upper; ++i) {
    _variant_t element;
    if (elementType == VT_VARIANT) {
      SafeArrayGetElement(array, &i, &element.GetVARIANT());
    } else if (elementType == VT_BSTR) {
      BSTR item = nullptr;
      if (SUCCEEDED(SafeArrayGetElement(array, &i, &item))) element = _bstr_t(item, false);
    }
    _variant_t asText;
    std::u16string itemText;
    if (SUCCEEDED(VariantChangeType(&asText.GetVARIANT(), &element.GetVARIANT(), 0, VT_BSTR))) {
      itemText =
          std::u16string(asText.GetVARIANT().bstrVal, SysStringLen(asText.GetVARIANT().bstrVal));
    }
    if (!out.empty()) out += u"\n";
    out += u"[" + kx_format(u"%ld", i) + u"] " + DescribeValue(element.GetVARIANT(), itemText);
  }
  return out.empty() ? u"(no elements)" : out;
}

std::u16string DescribeResult(const _variant_t& value, const std::u16string& text) {
  return DescribeValue(static_cast<const VARIANT&>(value), text);
}

// A command-line argument of an automation call: "#ID" an object of the
// store, "#ID.ATTRIBUTE" its attribute, "template:ID" a template of the
// library, else as ArgumentValue. False with *error set when what it names
// does not exist.
bool AutomationArgument(IKXQDatabase* database, const std::string& text, _variant_t* value,
                        std::string* error) {
  if (text.rfind("template:", 0) == 0) {
    _com_ptr_t<IKXQTemplateLibrary> library;
    _com_ptr_t<IKXQTemplate> found;
    if (FAILED(database->get_TemplateLibrary(&library)) || !library ||
        FAILED(library->GetTemplate(_bstr_t(Wide(text.substr(9)).c_str()), _variant_t(), &found)) ||
        !found) {
      *error = "no template " + text.substr(9);
      return false;
    }
    *value = _variant_t(static_cast<IDispatch*>(found.GetInterfacePtr()));
    return true;
  }
  if (text.size() < 2 || text[0] != '#') {
    *value = ArgumentValue(text);
    return true;
  }
  const size_t dot = text.find('.');
  const std::string id_text =
      text.substr(1, dot == std::string::npos ? std::string::npos : dot - 1);
  if (!IsInteger(id_text)) {
    *value = ArgumentValue(text);
    return true;
  }
  _com_ptr_t<IKXQObject> object;
  if (FAILED(database->get_Object(static_cast<LONG>(std::stoll(id_text)), &object))) {
    *error = "no object " + id_text + ": " + TakeErrorText();
    return false;
  }
  if (dot == std::string::npos) {
    *value = _variant_t(static_cast<IDispatch*>(object.GetInterfacePtr()));
    return true;
  }
  const std::string name = text.substr(dot + 1);
  _com_ptr_t<IKXQAttribute> attribute;
  if (FAILED(object->get_Attribute(_bstr_t(Wide(name).c_str()), _variant_t(-1L), &attribute)) ||
      !attribute) {
    *error = "object " + id_text + " has no attribute " + name;
    return false;
  }
  *value = _variant_t(static_cast<IDispatch*>(attribute.GetInterfacePtr()));
  return true;
}

}  // namespace

// The method's result; for one that succeeded with none, changed nothing
// and raised no event, a notice (after Finish's lines), so that a call that
// did nothing never passes unseen.
void Program::PrintResult(const host::ServiceResult& result) {
  nothing_done_ = false;
  if (!result.succeeded()) return;
  if (result.type != VT_EMPTY && result.type != VT_NULL) {
    // An XML text (GetRealFieldsWithUOM's) is indented as a reply is.
    std::string text = Narrow(DescribeResult(result.raw, result.value));
    if (options_.pretty) text = IndentXml(text);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::fprintf(out_, "%s\n", text.c_str());
    return;
  }
  nothing_done_ = result.events.empty() && session_->changes().empty() &&
                  session_->delivered().empty() && session_->workflow().empty();
}

int Program::Service(const std::vector<std::string>& args) {
  LONG kind = 0, id = 0;
  if (!IsInteger(args[0])) return Error("not an object-service kind: " + args[0]), kExitUsage;
  kind = static_cast<LONG>(std::stoll(args[0]));
  if (!ParseId(args[1], &id)) return kExitUsage;
  _com_ptr_t<IKXQObject> object;
  if (FAILED(store_->Database()->get_Object(id, &object))) {
    return Error("no object " + args[1] + ": " + TakeErrorText()), kExitFailed;
  }
  std::vector<_variant_t> holders(args.size() - 3);
  for (size_t i = 3; i < args.size(); ++i) {
    std::string error;
    if (!AutomationArgument(store_->Database(), args[i], &holders[i - 3], &error)) {
      return Error(error), kExitFailed;
    }
  }
  std::vector<VARIANT> arguments(holders.begin(), holders.end());
  // The copies above only borrow the holders' contents.
  const host::ServiceResult result =
      host_->CallObjectService(kind, object, Wide(args[2]), arguments);
  PrintResult(result);
  return Finish(result, "service " + args[0] + " " + args[2]);
}

// RunMethod of the module: METHOD is the method's number or the name it
// was declared with at start-up (compared without regard to case).
int Program::Method(const std::vector<std::string>& args) {
  LONG id = 0;
  if (!ParseId(args[0], &id)) return kExitUsage;
  LONG method = 0;
  if (IsInteger(args[1])) {
    method = static_cast<LONG>(std::stoll(args[1]));
  } else {
    bool found = false;
    for (const host::MethodDeclaration& declared : host_->registrar().methods()) {
      if (kx_wcsicmp(declared.name, Wide(args[1])) != 0) continue;
      method = declared.id;
      found = true;
      break;
    }
    if (!found) return Error("the module declared no method " + args[1]), kExitFailed;
  }
  _com_ptr_t<IKXQObject> object;
  if (FAILED(store_->Database()->get_Object(id, &object))) {
    return Error("no object " + args[0] + ": " + TakeErrorText()), kExitFailed;
  }
  const host::ServiceResult result = host_->RunMethod(method, object);
  PrintResult(result);
  return Finish(result, "method " + args[1]);
}

// One of Main's own automation methods through its IDispatch.
int Program::Automation(const std::vector<std::string>& args) {
  std::vector<_variant_t> holders(args.size() - 1);
  for (size_t i = 1; i < args.size(); ++i) {
    std::string error;
    if (!AutomationArgument(store_->Database(), args[i], &holders[i - 1], &error)) {
      return Error(error), kExitFailed;
    }
  }
  std::vector<VARIANT> arguments(holders.begin(), holders.end());
  // The copies above only borrow the holders' contents.
  const host::ServiceResult result = host_->CallAutomation(Wide(args[0]), arguments);
  PrintResult(result);
  return Finish(result, "automation " + args[0]);
}

}  // namespace kx::kxqhost
