// Error information for failures the host's objects return.
#pragma once

#include <string>
#include <string_view>

#include "com/types.h"

namespace kx::host::internal {

// Sets `description` (with source "KXQHost") as the thread's error
// information and returns `hr`.
HRESULT Fail(HRESULT hr, std::u16string_view description);

// The plain text of an error description: the first "Desc" of a
// "<KXError" chain, its escapes undone; any other text as it stands.
std::u16string PlainDescription(std::u16string_view error);

// Takes the thread's error information and returns its description (empty
// when there is none). The thread's slot is empty afterwards.
std::u16string TakeErrorDescription();

}  // namespace kx::host::internal
