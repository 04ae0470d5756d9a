// Reads of a machine that the preview, its planning platform and the
// verification all make, in one form.
#pragma once

#include <cstddef>
#include <limits>
#include <string>

#include "platform/Platform.h"

namespace qv::check {

// KEY_READ: a preview or a verification never opens a key for more.
constexpr unsigned long kKeyRead = 0x20019;

// The whole file, appended to `bytes`; false when it can't be opened or read,
// or grows past `limit` bytes.
bool ReadAll(FileSystem& files, const std::string& path, std::string& bytes,
             std::size_t limit = std::numeric_limits<std::size_t>::max());

// The machine's Windows folder; empty when it gives none.
std::string WindowsDirectory(Platform& machine);

}  // namespace qv::check
