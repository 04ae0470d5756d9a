#include "uninstall/InstallRoot.h"

#include <vector>

#include "text/PathText.h"
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

bool IsDrivePath(const std::string& full) { return full.size() >= 3 && full[1] == ':' && full[2] == '\\'; }

// Where the folders below the drive's or share's top folder begin: 3 for
// "C:\", past "\\server\share\" for a share; 0 when the path names no folder below one.
std::size_t TopFolderLength(const std::string& full) {
    if (IsDrivePath(full)) return 3;
    if (full.compare(0, 2, "\\\\") != 0) return 0;
    const std::size_t server = full.find('\\', 2);
    if (server == std::string::npos || server == 2) return 0;
    const std::size_t share = full.find('\\', server + 1);
    if (share == std::string::npos || share == server + 1) return 0;
    return share + 1;
}

// A full path that names a folder below the top folder of a drive ("C:\")
// or of a share ("\\server\share"): anything else is a whole drive or share, or no folder.
bool BelowTopFolder(const std::string& full) {
    const std::size_t top = TopFolderLength(full);
    return top > 0 && full.find_first_not_of('\\', top) != std::string::npos;
}

// Whose folder a network path names, this program cannot tell.
bool OnNetwork(const std::string& full, SystemInfo& system) {
    if (full.compare(0, 2, "\\\\") == 0) return true;
    return IsDrivePath(full) && system.GetDriveTypeA(full.substr(0, 3)) == kDriveRemote;
}

// The path with each part its long name: the system's own answer where it
// has one, else the parts that exist looked up one by one; parts past the
// first missing one stay as spelt.
std::string LongPath(const std::string& full, Platform& platform) {
    std::string longPath;
    if (platform.system.GetLongPathNameA(full, longPath)) return longPath;
    const std::size_t top = TopFolderLength(full);
    if (top == 0) return full;
    longPath = full.substr(0, top);
    for (std::size_t start = top; start < full.size();) {
        std::size_t end = full.find('\\', start);
        if (end == std::string::npos) end = full.size();
        const std::string part = full.substr(start, end - start);
        std::string found;
        if (part.find_first_of("*?") != std::string::npos ||
            !platform.files.FindFirstFileA(longPath + part, found))
            return longPath + full.substr(start);
        longPath += found + full.substr(end, 1);
        start = end + 1;
    }
    return longPath;
}

// The names the path goes by as text: the full path, its 8.3 and its long form.
std::vector<std::string> Forms(const std::string& full, Platform& platform) {
    std::vector<std::string> forms{WithoutTrailingSeparators(full)};
    std::string other;
    if (platform.system.GetShortPathNameA(forms[0], other)) forms.push_back(other);
    forms.push_back(LongPath(forms[0], platform));
    return forms;
}

// The folder and every folder above it, up to the top folder of its drive or share.
std::vector<std::string> FolderAndParents(const std::string& full) {
    std::vector<std::string> chain;
    const std::size_t top = TopFolderLength(full);
    for (std::string at = WithoutTrailingSeparators(full); top > 0 && at.size() >= top;) {
        chain.push_back(at);
        const std::size_t slash = at.find_last_of('\\', at.size() - 2);
        if (slash == std::string::npos || slash + 1 < top) break;
        at = slash + 1 == top ? at.substr(0, top) : at.substr(0, slash);
    }
    return chain;
}

// What each folder of the chain is, for those the system can open.
std::vector<FileIdentity> Identities(const std::vector<std::string>& folders, FileSystem& files) {
    std::vector<FileIdentity> identities;
    for (const std::string& folder : folders) {
        FileIdentity identity;
        if (files.GetFileIdentity(folder, identity)) identities.push_back(identity);
    }
    return identities;
}

bool Contains(const std::vector<FileIdentity>& identities, const FileIdentity& wanted) {
    for (const FileIdentity& identity : identities)
        if (identity == wanted) return true;
    return false;
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

// The root and a shared folder, as text: one is the other or lies inside it, by any of their names.
bool SharedByText(const std::vector<std::string>& roots, const std::vector<std::string>& shared) {
    for (const std::string& s : shared)
        for (const std::string& r : roots)
            if (PathWithin(s, r) || PathWithin(r, s)) return true;
    return false;
}

// The root as the folders it is: itself, when it opens, and every folder up to its drive's or share's top.
struct RootIdentity {
    bool opens = false;
    FileIdentity root;
    std::vector<FileIdentity> chain;
};

RootIdentity IdentifyRoot(const std::string& rootFull, FileSystem& files) {
    RootIdentity identity;
    const std::vector<std::string> chain = FolderAndParents(rootFull);
    identity.opens = !chain.empty() && files.GetFileIdentity(chain.front(), identity.root);
    identity.chain = Identities(chain, files);
    return identity;
}

// The root and a shared folder, as the folders they are: the root is the
// shared folder or one above it, or the shared folder is one above the root.
bool SharedByIdentity(const RootIdentity& root, const std::string& sharedFull, FileSystem& files) {
    if (root.opens && Contains(Identities(FolderAndParents(sharedFull), files), root.root)) return true;
    FileIdentity shared;
    return files.GetFileIdentity(sharedFull, shared) && Contains(root.chain, shared);
}

bool NamesOtherVendor(const std::string& root, Platform& platform) {
    std::string full;
    std::vector<std::string> texts{root};
    if (FullPath(root, platform.system, full)) {
        texts.push_back(full);
        texts.push_back(LongPath(full, platform));
    }
    for (const std::string& text : texts)
        for (const char* vendor : kOtherVendors)
            if (FoldedCase(text).find(vendor) != std::string::npos) return true;
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
    if (!FullPath(root, platform.system, full) || !BelowTopFolder(full) || OnNetwork(full, platform.system))
        return true;
    const std::vector<std::string> roots = Forms(full, platform);
    const RootIdentity identity = IdentifyRoot(full, platform.files);
    for (const std::string& folder : SharedFolders(windowsDirectory, platform.system)) {
        std::string sharedFull;
        if (!FullPath(folder, platform.system, sharedFull)) sharedFull = folder;
        if (SharedByText(roots, Forms(sharedFull, platform)) || SharedByIdentity(identity, sharedFull, platform.files))
            return true;
    }
    return false;
}

bool MayOfferInstallRoot(const std::string& root, const std::string& windowsDirectory, Platform& platform) {
    return !root.empty() && !NamesOtherVendor(root, platform) && !IsSharedSystemFolder(root, windowsDirectory, platform);
}

}  // namespace qv
