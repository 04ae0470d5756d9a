#include "text/PathText.h"

#include "text/Text.h"

namespace qv {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "C:\" and "\" keep their one separator: without it they name another folder.
std::size_t KeptLength(const std::string& path) {
    if (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2])) return 3;
    return 1;
}

}  // namespace

std::string WithoutTrailingSeparators(std::string path) {
    const std::size_t kept = KeptLength(path);
    while (path.size() > kept && IsSeparator(path.back())) path.pop_back();
    return path;
}

std::string ComparablePath(const std::string& path) { return FoldedCase(WithoutTrailingSeparators(path)); }

bool SamePath(const std::string& a, const std::string& b) { return ComparablePath(a) == ComparablePath(b); }

bool PathWithin(const std::string& path, const std::string& folder) {
    const std::string inner = ComparablePath(path), outer = ComparablePath(folder);
    if (outer.empty() || inner.compare(0, outer.size(), outer) != 0) return false;
    return inner.size() == outer.size() || IsSeparator(outer.back()) || IsSeparator(inner[outer.size()]);
}

}  // namespace qv
