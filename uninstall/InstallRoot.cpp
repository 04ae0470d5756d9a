#include "uninstall/InstallRoot.h"

#include <vector>

#include "text/Text.h"

namespace qv {

namespace {

constexpr std::size_t kRootSearchStart = 4;

// CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
// CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_WINDOWS.
const int kSharedFolderIds[] = {0x26, 0x2a, 0x2b, 0x2c, 0x23, 0x24};
// A 32-bit program on 64-bit Windows is shown the x86 folders above; these name the others.
const char* const kSharedFolderVariables[] = {"ProgramW6432", "CommonProgramW6432"};
// Other vendors' folders: a root that names one is theirs.
const char* const kOtherVendors[] = {"NETSCAPE", "MICROSOFT"};

// The full path as the system reads it, without the "\\?\" or "\\.\" in
// front, which name the same folders; false when the system can't read it.
bool FullPath(const std::string& path, SystemInfo& system, std::string& full) {
    if (!system.GetFullPathNameA(path, full)) return false;
    const std::string folded = FoldedCase(full);
    if (folded.compare(0, 8, "\\\\?\\UNC\\") == 0)
        full = "\\\\" + full.substr(8);
    else if (folded.compare(0, 4, "\\\\?\\") == 0 || folded.compare(0, 4, "\\\\.\\") == 0)
        full = full.substr(4);
    return true;
}

// A full path that names a folder below the top folder of a drive ("C:\")
// or of a share ("\\server\share"): anything else is a whole drive or share, or no folder.
bool BelowTopFolder(const std::string& full) {
    std::size_t top = 0;
    if (full.size() >= 3 && full[1] == ':' && full[2] == '\\') {
        top = 3;
    } else if (full.compare(0, 2, "\\\\") == 0) {
        const std::size_t server = full.find('\\', 2);
        if (server == std::string::npos || server == 2) return false;
        top = full.find('\\', server + 1);
        if (top == std::string::npos || top == server + 1) return false;
    }
    return top > 0 && full.find_first_not_of('\\', top) != std::string::npos;
}

// Upper-cased ASCII letters, no trailing backslash: paths compared as the file system does.
std::string Comparable(std::string path) {
    while (!path.empty() && path.back() == '\\') path.pop_back();
    return FoldedCase(path);
}

// `folder` is `root` or lies inside it.
bool Holds(const std::string& root, const std::string& folder) {
    if (root.empty() || folder.size() < root.size() || folder.compare(0, root.size(), root) != 0) return false;
    return folder.size() == root.size() || folder[root.size()] == '\\';
}

// The full path and, where the system has one, its 8.3 form.
std::vector<std::string> Forms(std::string full, SystemInfo& system) {
    while (!full.empty() && full.back() == '\\') full.pop_back();
    std::vector<std::string> forms{Comparable(full)};
    std::string shortPath;
    if (system.GetShortPathNameA(full, shortPath) && Comparable(shortPath) != forms[0])
        forms.push_back(Comparable(shortPath));
    return forms;
}

std::vector<std::string> SharedFolders(const std::string& windowsDirectory, SystemInfo& system) {
    std::vector<std::string> folders;
    if (!windowsDirectory.empty()) folders.push_back(windowsDirectory);
    std::string path;
    if (system.GetSystemWindowsDirectoryA(path)) folders.push_back(path);
    for (int id : kSharedFolderIds)
        if (system.SHGetFolderPathA(id, path)) folders.push_back(path);
    if (system.GetProfilesDirectoryA(path)) folders.push_back(path);
    for (const char* name : kSharedFolderVariables)
        if (system.GetEnvironmentVariableA(name, path) && !path.empty()) folders.push_back(path);
    return folders;
}

bool NamesOtherVendor(const std::string& root, SystemInfo& system) {
    std::string full;
    const std::string texts[] = {FoldedCase(root), FullPath(root, system, full) ? FoldedCase(full) : std::string()};
    for (const std::string& text : texts)
        for (const char* vendor : kOtherVendors)
            if (text.find(vendor) != std::string::npos) return true;
    return false;
}

}  // namespace

std::string InstallRoot(const std::string& listPath, CodePage& codePage) {
    for (std::size_t i = 0; i < listPath.size(); ++i) {
        if (i >= kRootSearchStart && listPath[i] == '\\') return listPath.substr(0, i);
        if (codePage.IsDBCSLeadByte(static_cast<unsigned char>(listPath[i]))) ++i;
    }
    return std::string();
}

bool IsSharedSystemFolder(const std::string& root, const std::string& windowsDirectory, Platform& platform) {
    std::string full;
    if (!FullPath(root, platform.system, full) || !BelowTopFolder(full)) return true;
    const std::vector<std::string> roots = Forms(full, platform.system);
    for (const std::string& folder : SharedFolders(windowsDirectory, platform.system)) {
        std::string sharedFull;
        if (!FullPath(folder, platform.system, sharedFull)) sharedFull = folder;
        for (const std::string& shared : Forms(sharedFull, platform.system))
            for (const std::string& candidate : roots)
                if (Holds(candidate, shared) || Holds(shared, candidate)) return true;
    }
    return false;
}

bool MayOfferInstallRoot(const std::string& root, const std::string& windowsDirectory, Platform& platform) {
    return !root.empty() && !NamesOtherVendor(root, platform.system) &&
           !IsSharedSystemFolder(root, windowsDirectory, platform);
}

}  // namespace qv
