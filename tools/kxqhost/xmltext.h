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

// What message `name` does with the envelope's "Status", as the host
// library's notes say: not read (nor by a message without grammar, whose
// text is no envelope), read, or acted on only when it is 1 (the value
// setters).
enum class EnvelopeStatus { kNotRead, kRead, kOnlyOne };
EnvelopeStatus EnvelopeStatusUse(const std::string& name);

// The notice for a request `name` that succeeded but wrote no reply,
// changed nothing and raised no event: the sentence, followed by what in
// the request's envelope may explain it (a missing "Status", or one the
// message does not act on, a message element that is not `name`, or is it
// or the envelope in another letter case: the module finds the message
// whatever its case, its elements only as the grammar spells them). `status_named`: a notice
// of its own already named the missing "Status", which is then not said
// again. `status`: what the message does with "Status".
std::string NothingDoneNotice(const std::string& name, std::string_view text,
                              bool status_named = false,
                              EnvelopeStatus status = EnvelopeStatus::kOnlyOne);

// For "PageLayout", which takes a layout attribute only once it has read
// a "PageId" (of its element or an earlier one; a request without any, or
// with layout attributes before the first, succeeds, stores nothing of
// them and still sends its event): the notice that says so, or "" when
// the request names "PageId" first.
std::string PageLayoutNotice(const std::string& name, std::string_view text);

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

}  // namespace kx::kxqhost
