// The command line of kxqhost:
//   kxqhost [--store FILE] [--settings FILE] [--set NAME=VALUE] [--user NAME]
//           [--journal FILE] [--events] [--deny PRIVILEGE] [--project ID]
//           COMMAND [ARG...]
// Global options come before the command; what follows the command is its
// own (see README.md).
#pragma once

#include <string>
#include <vector>

namespace kx::kxqhost {

struct Options {
  std::string store;                       // empty: the default store
  std::vector<std::string> settings_files;  // in order; later ones win
  std::vector<std::string> overrides;       // "NAME=VALUE", after the files
  std::string user;                         // empty: $USER, else "kxq"
  std::string journal;                      // empty: standard error
  bool events = false;
  std::vector<std::string> denied;  // privileges the user does not hold
  std::string project;              // the active project's id; empty: the root (1)
  std::string command;
  std::vector<std::string> arguments;  // after the command, as given
};

// Parses argv[1..argc). Returns an empty text on success, else the usage
// error to print (exit status 2). "--help" gives the text "help".
std::string ParseOptions(int argc, const char* const* argv, Options* options);

// The usage text.
const char* UsageText();

}  // namespace kx::kxqhost
