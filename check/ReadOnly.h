// How the preview, its simulated machine and the verification read a
// machine's files: whole, never asking for more than reading.
#pragma once

#include <cstddef>
#include <limits>
#include <string>

#include "platform/Platform.h"

namespace qv::check {

// The whole file, appended to `bytes`; false when it can't be opened or read,
// or grows past `limit` bytes.
bool ReadAll(FileSystem& files, const std::string& path, std::string& bytes,
             std::size_t limit = std::numeric_limits<std::size_t>::max());

}  // namespace qv::check
