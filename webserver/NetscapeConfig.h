#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv {

// Strips the web gateway's block from the Netscape configuration file named
// by the list line. 1 when the driver goes on, 0 when it must stop at once.
int RestoreNetscapeConfig(Platform& platform, const std::string& line);

}  // namespace qv
