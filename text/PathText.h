// Paths as Windows compares them: ASCII letters in any case, and a trailing
// backslash or slash that changes nothing. Text only: no name here is looked
// up on a machine, so two spellings of one folder (an 8.3 name, another
// drive letter) are still two texts.
#pragma once

#include <string>

namespace qv {

// The path without the separators at its end, but for the one that makes a
// drive's top folder ("C:\") or a path of separators alone what it is.
std::string WithoutTrailingSeparators(std::string path);

// The form in which paths are compared: letters folded, no trailing separators.
std::string ComparablePath(const std::string& path);

// Both name the same path, as text.
bool SamePath(const std::string& a, const std::string& b);

// `path` is `folder` or lies inside it, as text; every path of a drive lies
// inside the drive's top folder.
bool PathWithin(const std::string& path, const std::string& folder);

}  // namespace qv
