// How Windows makes a full path of a path (GetFullPathNameA), for what
// stands in for the system: the fake machine of the tests and the preview's
// machines. The logic never uses it; it asks the system.
#pragma once

#include <string>

namespace qv {

// `path` read against `currentDirectory`, itself a full path: "/" read as
// "\", a missing drive or folder taken from the current directory, runs of
// backslashes read as one, "." and ".." resolved (never above the drive's
// or share's top folder), one trailing dot of a folder and every trailing
// dot and blank of the last name dropped. A "\\?\" path is taken as it
// stands. False for an empty path.
bool ModelFullPath(const std::string& path, const std::string& currentDirectory, std::string& fullPath);

// The path names its drive or share from the top ("C:\...", "\\server\share\...",
// "\\?\..."): no current directory plays a part in where it leads.
bool IsFullPath(const std::string& path);

}  // namespace qv
