#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv {

// Reads the uninstall list line by line and carries each line out, then
// runs the closing clean-up. Returns 1 when the list was carried out to its
// end, 0 when it could not be opened or had to stop early.
int RunUninstallList(Platform& platform, const std::string& listPath, bool silent);

// One read of the list gives at most this many characters.
constexpr std::size_t kListLineBuffer = 200;

}  // namespace qv
