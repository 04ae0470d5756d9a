// Every outside command the uninstaller runs, with its exact program text,
// argument text and caption. Each returns when its progress dialog has closed.
#pragma once

#include <string>

#include "platform/Platform.h"
#include "uninstall/CleanupState.h"

namespace qv {

// A line naming one of the three server executables: the executable removes its own service.
void StopServerService(Platform& platform, std::string line);

void RemovePortMapper(Platform& platform, const std::string& line);
void StopIis(Platform& platform, CleanupState& state);
// Records the Netscape service name from the whole line, then stops it.
void StopNetscape(Platform& platform, CleanupState& state, const std::string& line);
void RunInstallShieldUninstaller(Platform& platform, const std::string& line, bool silent);
void RestartNetscape(Platform& platform, const CleanupState& state);
void RestartIis(Platform& platform, CleanupState& state);

}  // namespace qv
