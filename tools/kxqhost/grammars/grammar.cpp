// The elements and attributes of the messages' grammars, as the module of
// this build declares them: the table is written at build time by
// kxqhost_message_attributes (message_attributes.cpp beside this file).
#include <cstring>

#include "xmltext.h"

namespace kx::kxqhost {

namespace {

struct GrammarElement {
  const char* message;
  const char* element;     // "": a message without grammar (a bare text)
  const char* attributes;  // separated by blanks
};

constexpr GrammarElement kGrammarElements[] = {
#include "message_attributes.inc"
};

}  // namespace

bool MessageGrammar(const std::string& name, std::map<std::string, std::string>* elements) {
  elements->clear();
  for (const GrammarElement& row : kGrammarElements) {
    if (name == row.message && *row.element != '\0') (*elements)[row.element] = row.attributes;
  }
  return !elements->empty();
}

}  // namespace kx::kxqhost
