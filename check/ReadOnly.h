// How the preview, its planning platform and the verification read a
// machine, never asking for more than reading: keys opened with KEY_READ,
// files read whole.
#pragma once

#include <cstddef>
#include <limits>
#include <string>

#include "platform/Platform.h"

namespace qv::check {

constexpr unsigned long kKeyRead = 0x20019;

// The whole file, appended to `bytes`; false when it can't be opened or read,
// or grows past `limit` bytes.
bool ReadAll(FileSystem& files, const std::string& path, std::string& bytes,
             std::size_t limit = std::numeric_limits<std::size_t>::max());

}  // namespace qv::check
