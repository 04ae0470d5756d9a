#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "uninstall/CleanupState.h"

namespace qv {

// The tail of the list driver, run once the list is done and closed: the
// install directory, the web-server restarts, the family's keys, menus and
// root when no product is left, and the outcome. Returns 1 once the outcome
// has been reported, 0 when it stopped early.
int RunClosingCleanup(Platform& platform, CleanupState& state, const std::string& listPath, bool silent);

// The outcomes the clean-up reports at its end.
extern const char kUninstallAborted[];
extern const char kUninstallCompleted[];

// The machine's Windows folder; false when it gives none.
bool ReadWindowsDirectory(Platform& platform, std::string& windows);

// The places the clean-up looks at: one product key still there keeps the
// family; when none is, the family keys and start-menu folders go.
extern const char* const kProductKeys[9];
extern const char* const kFamilyKeys[2];
// The family's start-menu folders in `windows` on the platform `platformId`;
// none on a platform that is neither Windows NT nor the Windows 95 family.
std::vector<std::string> StartMenuFolders(const std::string& windows, unsigned long platformId);

// The status of opening the key under HKEY_LOCAL_MACHINE with full access:
// 0 when it exists. The key is closed again at once.
long ProductKeyExists(Platform& platform, const std::string& key);

}  // namespace qv
