#include "runner/ShowLastError.h"

#include "text/Text.h"

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

std::string ErrorText(Errors& errors, unsigned long code) {
    std::string text;
    if (!errors.FormatMessageA(kFormatMessageAllocateBuffer | kFormatMessageFromSystem | kFormatMessageIgnoreInserts,
                               code, kLangUserDefault, text))
        return "error " + std::to_string(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return Visible(text) + " (error " + std::to_string(code) + ")";
}

}  // namespace qv
