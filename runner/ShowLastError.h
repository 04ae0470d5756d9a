#pragma once

#include "platform/Platform.h"

namespace qv {

// Shows the system's text for the last error, titled "Error". Call it right
// after the failing call, before anything else can change the last error.
void ShowLastError(Platform& platform);

// The system's text for an error code on one line, its number after it:
// "Access is denied. (error 5)"; "error 5" when the system has no text.
std::string ErrorText(Errors& errors, unsigned long code);

}  // namespace qv
