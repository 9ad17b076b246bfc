// Scripts of `kxqhost run`: one step per line, run in order in one process.
//
//   # comment                  (blank lines and lines starting with # are skipped)
//   request NAME FILE          request text from FILE (relative to the script)
//   request NAME <<END         request text: the following lines up to "END"
//   event [--local] KIND ID [ARG]
//   trigger ID NAME
//   service KIND ID METHOD [ARG...]
//   dump ID...
//   set ID ATTRIBUTE[POS] [VALUE [UNIT]]
//   create CLASS [OWNER-ID]
//   delete ID
//   watch ID TRIGGER KEY READ-ID ATTRIBUTE
//   stall SECONDS ID ATTRIBUTE VALUE
//   wait SECONDS               (outside any transaction)
//   request --extra NAME ...   the request slot with an extra argument
//   reserved SLOT              a not-implemented operation of the module
//   deliver                    the change events held (--hold-events)
//   detach, attach [NAME=VALUE...]   the module detached, attached again
//
// A step written "! step" is expected to fail. Words are separated by
// blanks; a word in double quotes may hold blanks, \" and \\.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx::kxqhost {

struct Step {
  int line = 0;      // 1-based line of the step in the script
  std::string text;  // the line as written, without the "!" mark
  bool expect_failure = false;
  std::vector<std::string> words;   // the command and its arguments
  std::optional<std::string> body;  // the text of a "<<END" request
  std::string body_end;             // the word that ended it ("END")
};

// Splits `text` into steps. On failure returns "NAME:LINE: reason" and
// leaves `*steps` empty; on success returns an empty text. Each step's
// command and number of arguments are checked here, so that a script with
// a mistake runs no step at all.
std::string ParseScript(std::string_view text, const std::string& name, std::vector<Step>* steps);

// Splits one line into words (quotes as above). False on an unterminated
// quote.
bool SplitWords(std::string_view line, std::vector<std::string>* words);

}  // namespace kx::kxqhost
