#include "options.h"

#include <string_view>

namespace kx::kxqhost {

const char* VersionText() { return "kxqhost 1.0"; }

const char* UsageText() {
  return "usage: kxqhost [OPTION...] COMMAND [ARG...]\n"
         "       kxqhost --version | --help       (COMMAND --help: this text too)\n"
         "options, before the command:\n"
         "  --store FILE                   the store (default: ./kxq-store.db)\n"
         "  --settings FILE                settings, NAME=VALUE lines; several files in order\n"
         "  --set NAME=VALUE               one setting, over the files' (repeatable)\n"
         "  --user NAME                    the user (default: $USER)\n"
         "  --discipline NAME              the user's discipline (default: none)\n"
         "  --deny PRIVILEGE               a privilege the user does not hold (repeatable)\n"
         "  --deny-on ID:PRIVILEGE=PLACE   object ID refuses PRIVILEGE, naming PLACE (repeatable)\n"
         "  --project ID                   the active project (default: the root, 1)\n"
         "  --refuse OPERATION[:ARGUMENT]  the registrar refuses those start-up calls\n"
         "  --journal FILE                 the module's trace lines, appended to FILE\n"
         "                                 (default: standard error)\n"
         "  --events                       after each call: the store's changes, notifications\n"
         "                                 and workflow steps, drawing calls, change events\n"
         "  --pretty                       replies and event XML indented, one element a line\n"
         "  --hold-events                  run: change events wait for a deliver step\n"
         "  --registered-module            load the module the registration store names,\n"
         "                                 not this build's\n"
         "commands:\n"
         "  init [--fixture FILE|-]            create the store from a fixture (or stdin)\n"
         "  request [--extra] NAME [FILE|-]    send one message (text from FILE or stdin)\n"
         "  run SCRIPT                         run the steps of a script (see README.md)\n"
         "  dump ID...                         print objects' class and attribute values\n"
         "  service KIND ID METHOD [ARG...]    call an object service's automation method\n"
         "  method ID METHOD                   run an object-service method (number or name)\n"
         "  automation METHOD [ARG...]         call one of Main's own automation methods\n"
         "  registration                       list the start-up registration received\n"
         "  event [--local] KIND ID [ARG]      deliver one database event\n"
         "  trigger ID NAME                    call the module back for a trigger\n"
         "  reserved SLOT                      call a not-implemented operation (1-5)\n"
         "  register | unregister              run the module's (un)registration\n";
}

std::string ParseOptions(int argc, const char* const* argv, Options* options) {
  *options = Options{};
  if (argc > 0 && argv[0] != nullptr && *argv[0] != 0) options->program = argv[0];
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.empty() || arg[0] != '-' || arg == "-") break;
    if (arg == "--help" || arg == "-h") return "help";
    if (arg == "--version") return "version";
    if (arg == "--pretty") {
      options->pretty = true;
      continue;
    }
    if (arg == "--events") {
      options->events = true;
      continue;
    }
    if (arg == "--hold-events") {
      options->hold_events = true;
      continue;
    }
    if (arg == "--registered-module") {
      options->registered_module = true;
      continue;
    }
    std::string_view name = arg;
    std::string value;
    bool has_value = false;
    if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      value = std::string(arg.substr(eq + 1));
      has_value = true;
    }
    const bool known = name == "--store" || name == "--settings" || name == "--set" ||
                       name == "--user" || name == "--journal" || name == "--deny" ||
                       name == "--refuse" || name == "--project" || name == "--deny-on" ||
                       name == "--discipline";
    if (!known) return "unknown option " + std::string(arg);
    if (!has_value) {
      if (i + 1 >= argc) return "option " + std::string(name) + " needs a value";
      value = argv[++i];
    }
    if (name == "--store") {
      options->store = value;
    } else if (name == "--settings") {
      options->settings_files.push_back(value);
    } else if (name == "--set") {
      if (value.find('=') == std::string::npos) return "--set needs NAME=VALUE, not " + value;
      options->overrides.push_back(value);
    } else if (name == "--user") {
      options->user = value;
    } else if (name == "--journal") {
      options->journal = value;
    } else if (name == "--refuse") {
      options->refused.push_back(value);
    } else if (name == "--project") {
      options->project = value;
    } else if (name == "--discipline") {
      options->discipline = value;
    } else if (name == "--deny-on") {
      options->denied_on.push_back(value);
    } else {
      options->denied.push_back(value);
    }
  }
  if (i >= argc) return "no command given";
  options->command = argv[i++];
  for (; i < argc; ++i) options->arguments.emplace_back(argv[i]);
  // A command's "--help" is help, never a message, file or argument named
  // so.
  for (const std::string& argument : options->arguments) {
    if (argument == "--help") return "help";
  }
  if (!options->arguments.empty() && options->arguments[0] == "-h") return "help";
  return {};
}

}  // namespace kx::kxqhost
