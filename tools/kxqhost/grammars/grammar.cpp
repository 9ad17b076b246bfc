// The elements and attributes of the messages' grammars, as the module of
// this build declares them: the table is written at build time by
// kxqhost_message_attributes (message_attributes.cpp beside this file).
#include <algorithm>
#include <cctype>
#include <iterator>
#include <set>
#include <string_view>
#include <vector>

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

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// The edits (a character left out, added, changed, or two swapped) that
// make `a` into `b`, letter case aside.
size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) &&
          Lower(a[i - 2]) == Lower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

bool MessageGrammar(const std::string& name, std::map<std::string, std::string>* elements) {
  elements->clear();
  for (const GrammarElement& row : kGrammarElements) {
    if (name == row.message && *row.element != '\0') (*elements)[row.element] = row.attributes;
  }
  return !elements->empty();
}

bool IsMessage(const std::string& name) {
  return std::any_of(std::begin(kGrammarElements), std::end(kGrammarElements),
                     [&](const GrammarElement& row) {
                       return std::string_view(row.message).size() == name.size() &&
                              EditDistance(name, row.message) == 0;
                     });
}

std::vector<std::string> NearestMessages(const std::string& name) {
  // A third of the name's letters may be wrong, at least two: "ListHold"
  // finds "ListHolds", "OpenDocument" "OpenDocuments", "SetRealFeild"
  // "SetRealField".
  const size_t allowed = std::max<size_t>(2, name.size() / 3);
  size_t best = allowed + 1;
  std::set<std::string> nearest;
  for (const GrammarElement& row : kGrammarElements) {
    const size_t distance = EditDistance(name, row.message);
    if (distance > allowed || distance > best) continue;
    if (distance < best) nearest.clear();
    best = distance;
    nearest.insert(row.message);
  }
  return {nearest.begin(), nearest.end()};
}

}  // namespace kx::kxqhost
