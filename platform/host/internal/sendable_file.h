// Which files the host lets a module send, and reading them.
#pragma once

#ifndef KX_HOST_INTERNAL
#error "host/internal headers are private to their library; include its public headers"
#endif

#include <string>
#include <string_view>
#include <vector>

#include "com/types.h"

namespace kx::host::internal {

// The largest file the host sends (bytes).
inline constexpr size_t kMaxSentFileBytes = 64u << 20;

// Reads the file at `path` ("/" separators) into `*content` when it may be
// sent: a regular file inside one of `folders` (relative folders and paths
// count from the working directory; empty folders are ignored), with no
// ".." step in its path, and still inside that folder once symbolic links
// are followed. Otherwise fails, with a description naming the path and the
// reason as the thread's error information, and leaves `*content` empty:
// E_ACCESSDENIED for a path that leaves the folders, STG_E_FILENOTFOUND for
// a file that does not exist, E_OUTOFMEMORY past kMaxSentFileBytes,
// STG_E_READFAULT for one that cannot be read.
HRESULT ReadSendableFile(std::u16string_view path, const std::vector<std::u16string>& folders,
                         std::string* content);

}  // namespace kx::host::internal
