// What each message of the module answers, beside what it reads of its
// request (the host library's notes, `host/message_notes.h`). The
// reference of the messages (docs/messages.md) is written from both.
#pragma once

#include <span>

#include "host/message_notes.h"

namespace kx::kxqhost {

using host::AttributeNote;
using host::AttributeNotes;

// What a message answers, for every message of the module.
struct ReplyNote {
  const char* message;
  const char* reply;
};
std::span<const ReplyNote> ReplyNotes();

}  // namespace kx::kxqhost
