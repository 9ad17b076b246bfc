// The commands that stand for the store's notifications: `event` (a
// database event, routed as the store routes it, or the module's own
// operation with a local kind) and `trigger` (a trigger callback).
#include <cstdio>
#include <string>

#include "com/errorinfo.h"
#include "common.h"
#include "host/host.h"
#include "host/project_update.h"
#include "host/store_host_session.h"
#include "program.h"
#include "store/admin.h"
#include "store/database.h"
#include "store/object.h"

namespace kx::kxqhost {

int Program::Event(const std::vector<std::string>& args) {
  const bool local = args[0] == "--local";
  const size_t at = local ? 1 : 0;
  if (!IsInteger(args[at])) return Error("not an event kind: " + args[at]), kExitUsage;
  const LONG kind = static_cast<LONG>(std::stoll(args[at]));
  LONG id = 0;
  if (!ParseId(args[at + 1], &id)) return kExitUsage;
  const std::string argument = args.size() > at + 2 ? args[at + 2] : std::string();
  const bool has_argument = args.size() > at + 2;
  IKXQDatabase* database = store_->Database();
  _com_ptr_t<IKXQObject> object;
  if (id != 0 && FAILED(database->get_Object(id, &object))) {
    return Error("no object " + args[at + 1] + ": " + TakeErrorText()), kExitFailed;
  }
  // The argument the store hands with each kind (local kinds in brackets):
  // 11 [5] the case number, 13 [6] a project update, 15 [7] the project,
  // 5 [8] the new class; any other kind a number or a text when given.
  const LONG store_kind = local ? 0 : kind;
  _variant_t value;
  host::Ref<host::ProjectUpdate> update;
  if (local && kind >= 6 && kind <= 8 && argument == "-") {
    // "-": a local kind that expects an interface gets an empty VARIANT.
  } else if (store_kind == 13 || (local && kind == 6)) {
    update = host::MakeRef<host::ProjectUpdate>();
    value = _variant_t(static_cast<IDispatch*>(update.get()));
  } else if (store_kind == 15 || (local && kind == 7)) {
    LONG project_id = id;
    if (has_argument && !ParseId(argument, &project_id)) return kExitUsage;
    _com_ptr_t<IKXQProject> project;
    if (FAILED(database->get_Project(project_id, &project))) {
      return Error("no project " + std::to_string(project_id) + ": " + TakeErrorText()),
             kExitFailed;
    }
    value = _variant_t(static_cast<IDispatch*>(project.GetInterfacePtr()));
  } else if (store_kind == 5 || (local && kind == 8)) {
    _com_ptr_t<IKXQClass> cls;
    if (has_argument) {
      _com_ptr_t<IKXQSchema> schema;
      if (SUCCEEDED(database->get_Schema(&schema)))
        schema->get_Class(_bstr_t(Wide(argument).c_str()), &cls);
      if (!cls) return Error("no class " + argument), kExitFailed;
    } else if (object) {
      object->get_Class(&cls);
    }
    if (cls) value = _variant_t(static_cast<IDispatch*>(cls.GetInterfacePtr()));
  } else if (has_argument) {
    value = ArgumentValue(argument);
  }
  if (!local) {
    bool routed = false;
    for (const auto& subscription : host_->registrar().SubscriptionsFor(kind)) {
      for (const auto& class_name : subscription.classes) {
        routed = routed || session_->IsOfClass(object, class_name);
      }
    }
    if (!routed) {
      Error("no subscription of the module takes database event " + std::to_string(kind) +
            " for object " + std::to_string(id) + "; nothing was delivered");
    }
  }
  const host::CallResult result =
      local ? host_->ModuleEvent(kind, object, value) : host_->DatabaseEvent(kind, object, value);
  if (result.succeeded() && update) {
    for (IKXQObject* changed : update->changed_objects()) {
      LONG changed_id = 0;
      changed->get_Id(&changed_id);
      std::fprintf(out_, "== project update reported #%ld\n", static_cast<long>(changed_id));
    }
  }
  return Finish(result, "database event " + std::to_string(kind));
}

int Program::Trigger(const std::vector<std::string>& args) {
  LONG id = 0;
  if (!ParseId(args[0], &id)) return kExitUsage;
  _com_ptr_t<IKXQObject> object;
  if (FAILED(store_->Database()->get_Object(id, &object))) {
    return Error("no object " + args[0] + ": " + TakeErrorText()), kExitFailed;
  }
  const _bstr_t name(Wide(args[1]).c_str());
  VARIANT_BOOL has = VARIANT_FALSE;
  if (FAILED(object->HasTrigger(name, &has)) || has != VARIANT_TRUE) {
    SetErrorInfo(0, nullptr);
    return Error("object " + args[0] + " has no trigger " + args[1]), kExitFailed;
  }
  _com_ptr_t<IKXQTrigger> trigger;
  if (FAILED(object->get_Trigger(name, &trigger))) {
    return Error("cannot get trigger " + args[1] + ": " + TakeErrorText()), kExitFailed;
  }
  return Finish(host_->FireTrigger(trigger), "trigger " + args[1]);
}

}  // namespace kx::kxqhost
