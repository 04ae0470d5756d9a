#include "uninstall/InstallRoot.h"

namespace qv {

namespace {
constexpr std::size_t kRootSearchStart = 4;
}

std::string InstallRoot(const std::string& listPath, CodePage& codePage) {
    for (std::size_t i = 0; i < listPath.size(); ++i) {
        if (i >= kRootSearchStart && listPath[i] == '\\') return listPath.substr(0, i);
        if (codePage.IsDBCSLeadByte(static_cast<unsigned char>(listPath[i]))) ++i;
    }
    return std::string();
}

}  // namespace qv
