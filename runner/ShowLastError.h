#pragma once

#include "platform/Platform.h"

namespace qv {

// Shows the system's text for the last error, titled "Error". Call it right
// after the failing call, before anything else can change the last error.
void ShowLastError(Platform& platform);

}  // namespace qv
