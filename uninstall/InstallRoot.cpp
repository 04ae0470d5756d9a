#include "uninstall/InstallRoot.h"

#include <vector>

#include "text/Text.h"
#include "uninstall/ListLine.h"

namespace qv {

namespace {

constexpr std::size_t kRootSearchStart = 4;

// CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
// CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_WINDOWS.
const int kSharedFolderIds[] = {0x26, 0x2a, 0x2b, 0x2c, 0x23, 0x24};
// A 32-bit program on 64-bit Windows is shown the x86 folders above; these name the others.
const char* const kSharedFolderVariables[] = {"ProgramW6432", "CommonProgramW6432"};

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

// The path as given and, where the system has one, its 8.3 form.
std::vector<std::string> Forms(std::string path, SystemInfo& system) {
    while (!path.empty() && path.back() == '\\') path.pop_back();
    std::vector<std::string> forms{Comparable(path)};
    std::string shortPath;
    if (!path.empty() && system.GetShortPathNameA(path, shortPath) && Comparable(shortPath) != forms[0])
        forms.push_back(Comparable(shortPath));
    return forms;
}

std::vector<std::string> SharedFolders(const std::string& windowsDirectory, SystemInfo& system) {
    std::vector<std::string> folders;
    if (!windowsDirectory.empty()) folders.push_back(windowsDirectory);
    std::string path;
    for (int id : kSharedFolderIds)
        if (system.SHGetFolderPathA(id, path)) folders.push_back(path);
    if (system.GetProfilesDirectoryA(path)) folders.push_back(path);
    for (const char* name : kSharedFolderVariables)
        if (system.GetEnvironmentVariableA(name, path) && !path.empty()) folders.push_back(path);
    return folders;
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
    const std::vector<std::string> roots = Forms(root, platform.system);
    for (const std::string& folder : SharedFolders(windowsDirectory, platform.system))
        for (const std::string& shared : Forms(folder, platform.system))
            for (const std::string& candidate : roots)
                if (Holds(candidate, shared)) return true;
    return false;
}

}  // namespace qv
