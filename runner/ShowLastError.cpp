#include "runner/ShowLastError.h"

namespace qv {

void ShowLastError(Platform& platform) {
    const unsigned long code = platform.errors.GetLastError();
    std::string text;
    if (!platform.errors.FormatMessageA(
            kFormatMessageAllocateBuffer | kFormatMessageFromSystem | kFormatMessageIgnoreInserts, code,
            kLangUserDefault, text))
        text = "System error " + std::to_string(code) + ".";  // the system has no text for it
    platform.boxes.Show(text, "Error", kMbIconInformation);
}

}  // namespace qv
