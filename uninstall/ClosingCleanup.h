#pragma once

#include <string>

#include "platform/Platform.h"
#include "uninstall/CleanupState.h"

namespace qv {

// The tail of the list driver, run once the list is done and closed.
// Returns 1 when it ran to its end, 0 when it stopped early.
int RunClosingCleanup(Platform& platform, CleanupState& state, const std::string& listPath, bool silent);

}  // namespace qv
