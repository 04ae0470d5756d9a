// The install root that the closing clean-up offers for removal.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv {

// The list path up to the first backslash at or after its fifth character:
// the drive and the first folder (C:\Quorvan\QvUninst.txt gives C:\Quorvan).
// Empty when there is no such backslash. A backslash that is the trail byte
// of a double-byte character does not count.
std::string InstallRoot(const std::string& listPath, CodePage& codePage);

}  // namespace qv
