// The elements and attributes of the messages' grammars, as the module of
// this build declares them: the table is written at build time by
// kxqhost_message_attributes (message_attributes.cpp beside this file).
#include <algorithm>
#include <cctype>
#include <string_view>

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

// ASCII letters only: the module finds its messages so.
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

bool MessageGrammar(const std::string& name, std::map<std::string, std::string>* elements) {
  elements->clear();
  for (const GrammarElement& row : kGrammarElements) {
    if (SameName(name, row.message) && *row.element != '\0')
      (*elements)[row.element] = row.attributes;
  }
  return !elements->empty();
}

}  // namespace kx::kxqhost
