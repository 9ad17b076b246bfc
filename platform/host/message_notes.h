// What each message of the datasheet module reads of its request beyond
// the types its grammar gives: the envelope's "TargetId" and "Status" as
// the message reads them, and the attributes without which it fails or
// changes nothing; and the names of its messages. The hints of a failed
// request (`host/hints.h`) are made from them, and the reference of the
// messages (docs/messages.md) is written from them.
#pragma once

#include <span>
#include <string_view>

namespace kx::host {

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

// Whether `note` says that its message acts only when the envelope's
// "Status" is 1 (the value setters): with another value it succeeds and
// changes nothing.
bool ActsOnlyOnStatusOne(const AttributeNote& note);

// The module's message names, in name order: those with a grammar (the
// notes name each) and those whose request is a bare text.
std::span<const std::string_view> MessageNames();

}  // namespace kx::host
