// What each message of the module does with its request beyond the types
// its grammar gives, and what it answers: the envelope's "TargetId" and
// "Status" as the message reads them, the attributes without which it
// fails or changes nothing, and its reply. The reference of the messages
// (docs/messages.md) is written from these tables beside the grammars, and
// kxqhost names from the first an attribute that a request lacks.
#pragma once

#include <span>

namespace kx::kxqhost {

// One attribute of one element of a message's request.
struct AttributeNote {
  const char* message;
  const char* element;    // "XMLMessage" for the envelope
  const char* attribute;  // as the grammar names it
  // Without it the request fails or changes nothing (it is not taken for
  // a default the user meant).
  bool needed;
  const char* use;  // what it takes and what the message does with it: one sentence or more
};

// Every message with a grammar has a note for each attribute of its
// envelope; a message element's or child's attribute has one where the
// message needs it or reads it otherwise than its type says.
std::span<const AttributeNote> AttributeNotes();

// What a message answers, for every message of the module.
struct ReplyNote {
  const char* message;
  const char* reply;
};
std::span<const ReplyNote> ReplyNotes();

}  // namespace kx::kxqhost
