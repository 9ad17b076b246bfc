// The command line of kxqhost:
//   kxqhost [--store FILE] [--settings FILE] [--set NAME=VALUE] [--user NAME]
//           [--journal FILE] [--events] [--deny PRIVILEGE] [--project ID]
//           [--refuse OPERATION[:ARGUMENT]] [--deny-on ID:PRIVILEGE=PLACE]
//           [--discipline NAME] [--pretty] [--hold-events]
//           [--registered-module] COMMAND [ARG...]
//   kxqhost --version | --help
// Global options come before the command; what follows the command is its
// own (see README.md).
#pragma once

#include <string>
#include <vector>

namespace kx::kxqhost {

struct Options {
  // The program as it was called (its argv[0]), for the hints that name a
  // command to type: "build/bin/kxqhost init" runs where "kxqhost init"
  // finds no such command.
  std::string program = "kxqhost";
  std::string store;                        // empty: the default store
  std::vector<std::string> settings_files;  // in order; later ones win
  std::vector<std::string> overrides;       // "NAME=VALUE", after the files
  std::string user;                         // empty: $USER, else "kxq"
  std::string journal;                      // empty: standard error
  bool events = false;
  bool pretty = false;       // replies and event XML indented
  bool hold_events = false;  // `run`: change events wait for a `deliver` step
  // Load the module the registration store names even when it is not this
  // build's (by default this build's module is registered in its place).
  bool registered_module = false;
  std::vector<std::string> denied;  // privileges the user does not hold
  // Start-up registrations the registrar refuses: "OPERATION" (every call)
  // or "OPERATION:ARGUMENT" (the calls whose first argument is ARGUMENT).
  std::vector<std::string> refused;
  std::vector<std::string> denied_on;  // "ID:PRIVILEGE=PLACE": refused on an object
  std::string discipline;              // the user's discipline; empty: none
  std::string project;                 // the active project's id; empty: the root (1)
  std::string command;
  std::vector<std::string> arguments;  // after the command, as given
};

// Parses argv[1..argc). Returns an empty text on success, else the usage
// error to print (exit status 2). "--help" gives the text "help" (also
// among a command's arguments, or "-h" as its first), "--version" the text
// "version".
std::string ParseOptions(int argc, const char* const* argv, Options* options);

// The usage text.
const char* UsageText();

// The program's version, as "--version" prints it first.
const char* VersionText();

}  // namespace kx::kxqhost
