// The one guard for every folder a Yes can delete: the install directory the
// list names and the install root. A folder is judged by what it is on the
// machine, not by how it is spelt, where it was named; it is deleted by the
// full path it was judged at, and only while that path still reaches it.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv {

struct JudgedFolder {
    std::string full;         // the full path the deletion takes
    bool identified = false;  // the system told what folder `full` reached
    FileIdentity identity;
    // Why it is never offered, said of it ("is a folder of the system");
    // empty when it may be offered.
    std::string refusal;
    bool Offered() const { return refusal.empty(); }
};

// `path` with "/" read as "\" and without a "\\?\", "\\.\" in front; a
// "\\?\UNC\" or "\\.\UNC\" path as the "\\server\share" it names.
std::string WithoutLongPrefix(const std::string& path);

// `path`, in any spelling, names a share or a drive the system calls remote.
bool OnNetwork(const std::string& path, SystemInfo& system);

// The full path the system makes of `path` against where the run stands
// now, without a "\\?\" or "\\.\" in front; empty when it makes none.
std::string FullPathNow(const std::string& path, SystemInfo& system);

// Judges the folder that `spelt` names and that was made the full path
// `full` where it was named. Never offered: no folder by a name of its own
// (only dots and separators), a stream of a file, anything but a folder that
// exists, anything on the network, the top folder of a drive or share,
// another vendor's folder, a folder that is or holds a folder the system or
// all software shares, a folder inside the Windows folder, the profiles
// folder or a user's profile, a folder of the system at a drive's top. A
// folder of its own inside Program Files may be offered. `windowsDirectory`
// is the Windows folder as read, or empty.
JudgedFolder JudgeFolder(const std::string& spelt, const std::string& full, const std::string& windowsDirectory,
                         Platform& platform);

// Just before it goes: `full` still reaches the folder that was judged.
bool StillTheFolderJudged(const JudgedFolder& folder, FileSystem& files);

}  // namespace qv
