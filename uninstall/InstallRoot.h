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

// True when the folder `root` names is a folder that the system or all
// software shares (the Windows folder, Program Files, Common Files, the
// users' profiles, the data common to all users), holds one, lies inside
// one (a root spelt with "/" can reach that deep), or is the top folder of a
// drive or share. The folder, not the spelling, is judged: the root is made
// a full path first, so a missing drive, doubled backslashes, "." and "..",
// letter case, a trailing backslash and 8.3 names make no difference. A
// root the system cannot make a full path of counts as shared; a shared
// folder the system cannot name is not guarded.
bool IsSharedSystemFolder(const std::string& root, const std::string& windowsDirectory, Platform& platform);

// Whether the closing clean-up may offer `root` for removal: not when it is
// empty, names Netscape or Microsoft (in its text or its full path, in any
// letter case), or is a shared folder as above.
bool MayOfferInstallRoot(const std::string& root, const std::string& windowsDirectory, Platform& platform);

}  // namespace qv
