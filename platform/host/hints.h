// Hints for a user beside the module's own texts: what a request lacks or
// holds that the module reads otherwise than its sender meant, said in
// the words of the messages' notes (`host/message_notes.h`). The module's
// descriptions stay as it writes them ("Type mismatch." for a request
// without "FieldId"); a hint says what is wrong and what to do.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/store_fwd.h"

namespace kx::host {

struct RequestHint {
  std::u16string text;  // one line; empty when there is nothing to add
  // The hint says more than the module's description (which then only
  // names the symptom, "Type mismatch."): it is shown before it.
  bool first = false;
};

// The hint for request `name` with `text` that failed with `description`
// (the plain text). `schema`, when given, names what the store knows where
// the module refused a name (dimensions, dimension sets, units).
RequestHint FailedRequestHint(std::u16string_view name, std::u16string_view text,
                              std::u16string_view description, IKXQSchema* schema);

// The sentences for the attributes that message `name` needs and `text`
// lacks, one per element and attribute, from the envelope (also when the
// text has none and its root is the message's element) or from an element
// the text holds, with what the attribute takes; none when its root is an
// element the module passes over ("xmlmessage"). `names_status`: set when
// one names the envelope's "Status". Message names in any letter case, as
// the module finds them.
std::vector<std::u16string> MissingAttributes(std::u16string_view name, std::u16string_view text,
                                              bool* names_status);

// Whether the module serves a message of that name (letter case aside);
// otherwise the names nearest to it (those the fewest edits away, no more
// than a third of the name's letters), in name order.
bool IsMessageName(std::u16string_view name);
std::vector<std::u16string> NearestMessageNames(std::u16string_view name);

// A failure for a user on one line: the description and the hint with
// their line ends as blanks, the hint before the description ("HINT; the
// module says: DESCRIPTION") or after it ("DESCRIPTION; HINT").
std::u16string FailureLine(std::u16string_view description, const RequestHint& hint);

}  // namespace kx::host
