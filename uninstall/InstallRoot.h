// The install root that the closing clean-up offers for removal, and the
// folders it must never offer.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv {

// The list path up to the first backslash at or after its fifth character:
// the drive and the first folder (C:\Quorvan\QvUninst.txt gives C:\Quorvan).
// Empty when there is no such backslash. A backslash that is the trail byte
// of a double-byte character does not count.
std::string InstallRoot(const std::string& listPath, CodePage& codePage);

// True when `root` is a folder that the system or all software shares (the
// Windows folder, Program Files, Common Files, the users' profiles, the data
// common to all users) or a folder that holds one of them. Letter case, a
// trailing backslash and 8.3 names make no difference. A folder the system
// cannot name is not guarded.
bool IsSharedSystemFolder(const std::string& root, const std::string& windowsDirectory, Platform& platform);

}  // namespace qv
