// The script steps that change the store as another client would: `set`,
// `stall`, `create`, `delete` and `watch`.
#include <chrono>
#include <cstdio>
#include <thread>

#include "common.h"
#include "host/host.h"
#include "host/store_host_session.h"
#include "program.h"
#include "script.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/object.h"

namespace kx::kxqhost {

namespace {

// A database event kind that no module subscribes to: the host's own
// changes are delivered through a call that routes nothing else.
constexpr LONG kNoEventKind = -1;

}  // namespace

// Steps that change the store as another client would: the change and the
// notifications it causes run in one transaction through the host driver.
int Program::HostChange(const Step& step) {
  const std::string& command = step.words[0];
  const std::vector<std::string> args(step.words.begin() + 1, step.words.end());
  IKXQDatabase* database = store_->Database();
  if (HRESULT hr = session_->BeginHostChange(); FAILED(hr)) {
    return Error("cannot begin a change: " + TakeErrorText()), kExitFailed;
  }
  std::string failure;
  int seconds = 0;
  auto fail = [&](const std::string& text) {
    failure = text;
    return false;
  };
  auto object_of = [&](const std::string& text, _com_ptr_t<IKXQObject>& object) {
    if (!IsInteger(text)) return fail("not an object id: " + text);
    if (FAILED(database->get_Object(static_cast<LONG>(std::stoll(text)), &object))) {
      return fail("no object " + text + ": " + TakeErrorText());
    }
    return true;
  };
  // Sets ATTRIBUTE[POS] of an object to VALUE [UNIT] (no value: clears).
  auto set_value = [&](const std::string& id, const std::string& slot, const std::string* value,
                       const std::string* unit) {
    _com_ptr_t<IKXQObject> object;
    if (!object_of(id, object)) return false;
    std::string name = slot;
    _variant_t index;
    if (const size_t open = slot.find('['); open != std::string::npos && slot.back() == ']') {
      name = slot.substr(0, open);
      const std::string position = slot.substr(open + 1, slot.size() - open - 2);
      if (!IsInteger(position)) return fail("not a list position: " + position);
      index = _variant_t(static_cast<long>(std::stoll(position)));
    }
    _com_ptr_t<IKXQAttribute> attribute;
    if (FAILED(object->get_Attribute(_bstr_t(Wide(name).c_str()), _variant_t(-1L), &attribute))) {
      return fail(TakeErrorText());
    }
    if (!attribute) return fail("object " + id + " has no attribute " + name);
    HRESULT hr = S_OK;
    if (!value) {
      hr = attribute->Clear(index);
    } else {
      LONG type = 0;
      attribute->get_DataType(&type);
      _variant_t data =
          (type == KXQ_TYPE_OBJECT && value->starts_with("#") && IsInteger(value->substr(1)))
              ? _variant_t(static_cast<long>(std::stoll(value->substr(1))))
              : _variant_t(Wide(*value).c_str());
      const _variant_t unit_value = unit ? _variant_t(Wide(*unit).c_str()) : _variant_t();
      hr = attribute->PutValue(index, unit_value, data);
    }
    if (FAILED(hr)) return fail("cannot change " + name + ": " + TakeErrorText());
    return true;
  };

  bool changed = false;
  if (command == "set") {
    changed = set_value(args[0], args[1], args.size() > 2 ? &args[2] : nullptr,
                        args.size() > 3 ? &args[3] : nullptr);
  } else if (command == "stall") {
    if (!IsInteger(args[0])) {
      fail("not a number of seconds: " + args[0]);
    } else {
      seconds = static_cast<int>(std::stoll(args[0]));
      changed = set_value(args[1], args[2], &args[3], nullptr);
    }
  } else if (command == "create") {
    _com_ptr_t<IKXQSchema> schema;
    _com_ptr_t<IKXQClass> cls;
    _com_ptr_t<IKXQObject> owner, made;
    if (FAILED(database->get_Schema(&schema)) ||
        FAILED(schema->get_Class(_bstr_t(Wide(args[0]).c_str()), &cls)) || !cls) {
      fail("no class " + args[0]);
    } else if (args.size() > 1 && !object_of(args[1], owner)) {
    } else if (FAILED(cls->CreateInstance(&made)) || (owner && FAILED(made->put_Owner(owner)))) {
      fail("cannot create a " + args[0] + ": " + TakeErrorText());
    } else {
      LONG id = 0;
      made->get_Id(&id);
      std::fprintf(out_, "created #%ld\n", static_cast<long>(id));
      changed = true;
    }
  } else if (command == "delete") {
    _com_ptr_t<IKXQObject> object;
    if (object_of(args[0], object)) {
      if (FAILED(object->Delete())) {
        fail("cannot delete " + args[0] + ": " + TakeErrorText());
      } else {
        changed = true;
      }
    }
  } else if (command == "watch") {
    _com_ptr_t<IKXQObject> owner, read;
    _com_ptr_t<IKXQTrigger> trigger;
    _com_ptr_t<IKXQAttribute> attribute;
    VARIANT_BOOL has = VARIANT_FALSE;
    if (object_of(args[0], owner) && object_of(args[3], read)) {
      if (FAILED(owner->get_Trigger(_bstr_t(Wide(args[1]).c_str()), &trigger)) ||
          FAILED(trigger->SetHandler(_bstr_t(kProgId))) ||
          FAILED(
              read->get_Attribute(_bstr_t(Wide(args[4]).c_str()), _variant_t(-1L), &attribute))) {
        fail("cannot watch: " + TakeErrorText());
      } else if (!attribute) {
        fail("object " + args[3] + " has no attribute " + args[4]);
      } else if (FAILED(trigger->BeginItem(_variant_t(Wide(args[2]).c_str()))) ||
                 // Its whole list: a change of any entry fires it.
                 FAILED(attribute->HasValue(_variant_t(), &has)) || FAILED(trigger->EndItem())) {
        fail("cannot watch: " + TakeErrorText());
      } else {
        changed = true;
      }
    }
  }
  if (!changed) {
    session_->AbandonHostChange();
    return Error(failure), kExitFailed;
  }
  if (seconds > 0) {
    std::fprintf(out_, "stalling %d s before the commit\n", seconds);
    std::fflush(out_);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
  }
  const host::CallResult result = host_->DatabaseEvent(kNoEventKind, nullptr, _variant_t());
  session_->AbandonHostChange();
  return Finish(result, command);
}

}  // namespace kx::kxqhost
