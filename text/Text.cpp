#include "text/Text.h"

namespace qv {

std::string WithoutLineFeed(const std::string& line) {
    if (!line.empty() && line.back() == '\n') return line.substr(0, line.size() - 1);
    return line;
}

std::string FoldedCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace qv
