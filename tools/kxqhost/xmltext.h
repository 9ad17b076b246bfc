// XML as text, for what kxqhost prints: replies and event XML indented for
// `--pretty`, and a first look at a request's envelope, to say why a request
// that succeeded did nothing. Neither validates: the module parses requests
// and writes replies; these only read what is there.
#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "grammars/message_notes.h"

namespace kx::kxqhost {

// `xml` with one element a line, each child two blanks further in than its
// parent; an element holding only text (or nothing) stays on one line with
// it, and blank text between elements is dropped. Other text, attribute
// values, comments and CDATA sections are kept as they are. A text that is
// not a sequence of balanced elements (a sent text, a broken reply) comes
// back unchanged; otherwise the result ends with a line end.
std::string IndentXml(std::string_view xml);

// What a request's text shows of its envelope: the name of its root
// element, the first element inside it, and the root's "Status" attribute.
struct RequestShape {
  bool xml = false;         // the text starts with an element
  std::string root;         // the root element's name
  std::string message;      // the first element inside the root, "" when none
  bool has_status = false;  // the root carries "Status"
  std::string status;       // its value as written
};
RequestShape ReadRequestShape(std::string_view text);

// The notice for a request `name` that succeeded but wrote no reply,
// changed nothing and raised no event: the sentence, followed by what in
// the request's envelope may explain it (a missing or zero "Status", a
// message element that is not `name`). `status_named`: a notice of its own
// already named the missing "Status", which is then not said again.
// `reads_status` false: the message does not read the envelope's "Status",
// which then explains nothing and is not named.
std::string NothingDoneNotice(const std::string& name, std::string_view text,
                              bool status_named = false, bool reads_status = true);

// Whether message `name` reads the envelope's "Status", as `notes` say:
// false only when they say it does not.
bool ReadsEnvelopeStatus(const std::string& name, std::span<const AttributeNote> notes);

// The notices for the attributes of `text` that the grammar of message
// `name` does not know, where `elements` maps each element of the grammar
// to its attributes (separated by blanks): the module ignores them, so a
// misspelt "FieldID" leaves "FieldId" unset. One notice per element and
// attribute, in the order of the text; elements the grammar does not name
// are not looked at.
std::vector<std::string> UnknownAttributeNotices(
    const std::string& name, std::string_view text,
    const std::map<std::string, std::string>& elements);

// The elements and attributes of message `name`'s grammar, as this build's
// module declares them; false for a message without grammar (a bare text
// body) or unknown.
bool MessageGrammar(const std::string& name, std::map<std::string, std::string>* elements);

// Whether this build's module serves a message of that name (letter case
// aside, as the module finds its handlers).
bool IsMessage(const std::string& name);

// The names of this build's module's messages nearest to `name` (a
// misspelt one), in name order: those the fewest edits away, letter case
// aside, and no more than a third of the name's letters away; none when no
// name is that near.
std::vector<std::string> NearestMessages(const std::string& name);

// The notices for the attributes of `notes` that message `name` needs
// and `text` lacks, from the envelope's root element or from an element
// that the text holds (an element it does not hold is not looked at): one
// notice per element and attribute, saying what the attribute takes.
// `names_status`: set when a notice names the envelope's "Status".
std::vector<std::string> MissingAttributeNotices(const std::string& name, std::string_view text,
                                                 std::span<const AttributeNote> notes,
                                                 bool* names_status);

}  // namespace kx::kxqhost
