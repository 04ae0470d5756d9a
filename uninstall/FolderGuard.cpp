#include "uninstall/FolderGuard.h"

#include <map>
#include <optional>
#include <set>
#include <vector>

#include "text/PathText.h"
#include "text/Text.h"

namespace qv {

namespace {

const int kSharedFolderIds[] = {
    kCsidlProgramFiles, kCsidlProgramFilesX86, kCsidlProgramFilesCommon, kCsidlProgramFilesCommonX86,
    kCsidlCommonAppData, kCsidlSystem, kCsidlSystemX86, kCsidlCommonDocuments, kCsidlCommonDesktop,
    kCsidlCommonStartMenu, kCsidlCommonPrograms, kCsidlProfile};
constexpr int kWindowsFolderId = kCsidlWindows;
// A 32-bit program on 64-bit Windows is shown the x86 folders above; these name the others.
const char* const kSharedFolderVariables[] = {"ProgramW6432", "CommonProgramW6432"};
// What Windows itself makes at the top of a drive, whatever the shell calls it.
const char* const kSystemTopFolders[] = {
    "$Recycle.Bin",  "RECYCLER",      "RECYCLED",          "System Volume Information",     "Boot",
    "Recovery",      "Config.Msi",    "PerfLogs",          "Documents and Settings",        "Program Files",
    "Program Files (x86)", "Program Files\\Common Files", "Program Files (x86)\\Common Files",
};
// Other vendors' folders: a folder that names one is theirs.
const char* const kOtherVendors[] = {"NETSCAPE", "MICROSOFT"};
// Drive letters that stand for deep folders, and junctions, are followed this many times.
constexpr int kResolveRounds = 2;

const char kSystemFolder[] = "is a folder of the system";

// How a shared folder keeps others away: from itself and what holds it; also
// from everything inside it (the Windows folder); also from the folders
// directly inside it (the profiles folder: each is a user's profile).
enum class Keeps { ItselfAndAbove, AllInside, ItsChildren };

struct SharedFolder {
    std::string full;
    Keeps keeps;
    std::vector<std::string> forms;  // its names as text, once asked for
};

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

std::string TopFolder(const std::string& full) { return full.substr(0, TopFolderLength(full)); }

// A line of dots and separators (".", ".\", "...", "X:", "Data\..") names
// the folder it is read in, or one above it: no folder of its own.
bool HasNameOfItsOwn(const std::string& spelt) {
    std::string rest = WithoutLongPrefix(spelt);
    if (rest.size() >= 2 && rest[1] == ':') rest.erase(0, 2);
    const std::size_t end = rest.find_last_not_of("\\/");
    if (end == std::string::npos) return false;
    const std::size_t slash = rest.find_last_of("\\/", end);
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return rest.substr(start, end + 1 - start).find_first_not_of(". ") != std::string::npos;
}

// A ":" past the drive letter names a stream of a file, not a folder.
bool HasStreamPart(const std::string& full) { return full.find(':', IsDrivePath(full) ? 2 : 0) != std::string::npos; }

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

// `base` with the part of `path` below `prefix` added: the same folder under another name of one above it.
std::string Rebased(const std::string& path, const std::string& prefix, std::string base) {
    std::string rest = WithoutTrailingSeparators(path).substr(WithoutTrailingSeparators(prefix).size());
    if (!rest.empty() && rest[0] != '\\') rest.insert(0, "\\");
    if (!base.empty() && base.back() == '\\') base.pop_back();
    return rest.empty() ? WithoutTrailingSeparators(base + "\\") : base + rest;
}

std::string Child(std::string folder, const std::string& name) {
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    return folder + name;
}

// One judgement: every name the folder goes by, and what each shared folder is.
class Judgement {
public:
    Judgement(const std::string& windowsDirectory, Platform& platform)
        : platform_(platform), windowsDirectory_(windowsDirectory) {}

    std::string Refusal(const std::string& spelt, const std::string& full, JudgedFolder& judged) {
        if (spelt.empty()) return "names no folder";
        if (!HasNameOfItsOwn(spelt)) return "names no folder by a name of its own";
        if (full.empty()) return "cannot be made a full path";
        if (HasStreamPart(full)) return "names a stream of a file";
        if (OnNetwork(full, platform_.system)) return "lies on the network";
        const unsigned long attributes = platform_.files.GetFileAttributesA(full);
        if (attributes == kInvalidFileAttributes || !(attributes & kFileAttributeDirectory))
            return "is not a folder that exists";
        judged.identified = Identify(full, judged.identity);
        Collect();
        const std::vector<std::string> views = Views(full);
        for (const std::string& view : views) {
            AddSystemTopFolders(view);
            if (OnNetwork(view, platform_.system)) return "lies on the network";
            if (!BelowTopFolder(view)) return "is the top folder of a drive or share";
        }
        if (NamesOtherVendor(spelt, views)) return "is another vendor's folder";
        for (const std::string& view : views) {
            if (Shared(view)) return kSystemFolder;
            const std::vector<std::string> chain = FolderAndParents(view);
            const bool atDriveTop = chain.size() == 2;
            if (atDriveTop && (attributes & kFileAttributeSystem) && (attributes & kFileAttributeHidden))
                return kSystemFolder;
        }
        return std::string();
    }

private:
    // What the folder at `path` is, asked once per judgement.
    bool Identify(const std::string& path, FileIdentity& identity) {
        const std::string key = ComparablePath(path);
        auto known = identities_.find(key);
        if (known == identities_.end()) {
            FileIdentity found;
            std::optional<FileIdentity> told;
            if (platform_.files.GetFileIdentity(path, found)) told = found;
            known = identities_.emplace(key, told).first;
        }
        if (known->second) identity = *known->second;
        return known->second.has_value();
    }

    bool SameFolder(const std::string& path, const FileIdentity& identity) {
        FileIdentity other;
        return Identify(path, other) && other == identity;
    }

    // The names a path goes by as text: itself, its 8.3 form and its long form.
    std::vector<std::string> Forms(const std::string& full) {
        std::vector<std::string> forms{WithoutTrailingSeparators(full)};
        std::string other;
        if (platform_.system.GetShortPathNameA(forms[0], other)) forms.push_back(other);
        forms.push_back(LongPath(forms[0]));
        return forms;
    }

    // The path with each part its long name: the system's own answer where it
    // has one, else the parts that exist looked up one by one; parts past the
    // first missing one stay as spelt.
    std::string LongPath(const std::string& full) {
        std::string longPath;
        if (platform_.system.GetLongPathNameA(full, longPath)) return longPath;
        const std::size_t top = TopFolderLength(full);
        if (top == 0) return full;
        longPath = full.substr(0, top);
        for (std::size_t start = top; start < full.size();) {
            std::size_t end = full.find('\\', start);
            if (end == std::string::npos) end = full.size();
            const std::string part = full.substr(start, end - start);
            std::string found;
            if (part.find_first_of("*?") != std::string::npos ||
                !platform_.files.FindFirstFileA(longPath + part, found))
                return longPath + full.substr(start);
            longPath += found + full.substr(end, 1);
            start = end + 1;
        }
        return longPath;
    }

    void Add(const std::string& path, Keeps keeps) {
        if (path.empty()) return;
        const std::string full = FullPathNow(path, platform_.system);
        shared_.push_back({full.empty() ? path : full, keeps, {}});
    }

    void Collect() {
        SystemInfo& system = platform_.system;
        std::string path;
        Add(windowsDirectory_, Keeps::AllInside);
        if (system.GetSystemWindowsDirectoryA(path)) Add(path, Keeps::AllInside);
        if (system.SHGetFolderPathA(kWindowsFolderId, path)) Add(path, Keeps::AllInside);
        if (system.GetProfilesDirectoryA(path)) Add(path, Keeps::ItsChildren);
        for (int id : kSharedFolderIds)
            if (system.SHGetFolderPathA(id, path)) Add(path, Keeps::ItselfAndAbove);
        for (const char* name : kSharedFolderVariables)
            if (system.GetEnvironmentVariableA(name, path)) Add(path, Keeps::ItselfAndAbove);
        named_ = shared_.size();
        for (std::size_t i = 0; i < named_; ++i) AddSystemTopFolders(shared_[i].full);
    }

    void AddSystemTopFolders(const std::string& full) {
        const std::string top = TopFolder(full);
        if (top.empty() || !topsDone_.insert(ComparablePath(top)).second) return;
        for (const char* name : kSystemTopFolders) shared_.push_back({Child(top, name), Keeps::ItselfAndAbove, {}});
    }

    // Folders whose names the system gives: the shared ones, the folders
    // above them and the folders directly inside them and inside their drives' tops.
    const std::vector<std::string>& KnownFolders() {
        if (!known_.empty()) return known_;
        std::vector<std::string> listed;
        for (std::size_t i = 0; i < named_; ++i) {
            for (const std::string& folder : FolderAndParents(shared_[i].full)) known_.push_back(folder);
            listed.push_back(shared_[i].full);
            listed.push_back(TopFolder(shared_[i].full));
        }
        std::map<std::string, bool> seen;
        for (const std::string& folder : listed) {
            if (folder.empty() || seen[ComparablePath(folder)]) continue;
            seen[ComparablePath(folder)] = true;
            std::vector<std::string> names;
            if (!platform_.files.ListSubfolders(folder, names)) continue;
            for (const std::string& name : names) known_.push_back(Child(folder, name));
        }
        return known_;
    }

    // Every full path the folder goes by: as made, as the system resolves it,
    // and each name of the folders above it that the system gives (a drive
    // letter that stands for a deep folder, where the system names it back
    // by that letter, or has no such call).
    std::vector<std::string> Views(const std::string& full) {
        std::vector<std::string> views{WithoutTrailingSeparators(full)};
        std::string final;
        if (platform_.files.GetFinalPathName(full, final)) AddView(views, WithoutLongPrefix(final));
        for (int round = 0; round < kResolveRounds; ++round) {
            const std::size_t count = views.size();
            for (std::size_t i = 0; i < count; ++i)
                for (const std::string& above : FolderAndParents(views[i])) {
                    FileIdentity identity;
                    if (!Identify(above, identity)) continue;
                    for (const std::string& known : KnownFolders())
                        if (!SamePath(known, above) && SameFolder(known, identity))
                            AddView(views, Rebased(views[i], above, known));
                }
        }
        return views;
    }

    static void AddView(std::vector<std::string>& views, const std::string& view) {
        for (const std::string& seen : views)
            if (SamePath(seen, view)) return;
        views.push_back(WithoutTrailingSeparators(view));
    }

    bool NamesOtherVendor(const std::string& spelt, const std::vector<std::string>& views) {
        std::vector<std::string> texts{spelt};
        for (const std::string& view : views) {
            texts.push_back(view);
            texts.push_back(LongPath(view));
        }
        for (const std::string& text : texts)
            for (const char* vendor : kOtherVendors)
                if (FoldedCase(text).find(vendor) != std::string::npos) return true;
        return false;
    }

    // The view is, holds or (as the shared folder keeps) lies inside a shared
    // folder, by any of their names: what the folders are, the views have told.
    bool Shared(const std::string& view) {
        const std::vector<std::string> forms = Forms(view);
        for (SharedFolder& shared : shared_) {
            if (shared.forms.empty()) shared.forms = Forms(shared.full);
            for (const std::string& sharedForm : shared.forms)
                for (const std::string& form : forms) {
                    if (PathWithin(sharedForm, form)) return true;
                    if (shared.keeps == Keeps::AllInside && PathWithin(form, sharedForm)) return true;
                    const std::size_t slash = form.find_last_of('\\');
                    if (shared.keeps == Keeps::ItsChildren && slash != std::string::npos &&
                        SamePath(form.substr(0, slash), sharedForm))
                        return true;
                }
        }
        return false;
    }

    Platform& platform_;
    const std::string windowsDirectory_;
    std::vector<SharedFolder> shared_;
    std::size_t named_ = 0;  // the shared folders the system named, before those made from drives' tops
    std::set<std::string> topsDone_;
    std::vector<std::string> known_;
    std::map<std::string, std::optional<FileIdentity>> identities_;
};

}  // namespace

std::string WithoutLongPrefix(const std::string& path) {
    std::string plain = path;
    for (char& c : plain)
        if (c == '/') c = '\\';
    const std::string folded = FoldedCase(plain);
    if (folded.compare(0, 8, "\\\\?\\UNC\\") == 0 || folded.compare(0, 8, "\\\\.\\UNC\\") == 0)
        return "\\\\" + plain.substr(8);
    if (folded.compare(0, 4, "\\\\?\\") == 0 || folded.compare(0, 4, "\\\\.\\") == 0) return plain.substr(4);
    return plain;
}

// Whose folder a network path names, this program cannot tell.
bool OnNetwork(const std::string& path, SystemInfo& system) {
    const std::string plain = WithoutLongPrefix(path);
    if (plain.compare(0, 2, "\\\\") == 0) return true;
    return IsDrivePath(plain) && system.GetDriveTypeA(plain.substr(0, 3)) == kDriveRemote;
}

std::string FullPathNow(const std::string& path, SystemInfo& system) {
    std::string full;
    if (path.empty() || !system.GetFullPathNameA(path, full)) return std::string();
    return WithoutLongPrefix(full);
}

JudgedFolder JudgeFolder(const std::string& spelt, const std::string& full, const std::string& windowsDirectory,
                         Platform& platform) {
    JudgedFolder judged;
    judged.full = full;
    judged.refusal = Judgement(windowsDirectory, platform).Refusal(spelt, full, judged);
    return judged;
}

bool StillTheFolderJudged(const JudgedFolder& folder, FileSystem& files) {
    FileIdentity now;
    const bool identified = files.GetFileIdentity(folder.full, now);
    if (folder.identified) return identified && now == folder.identity;
    const unsigned long attributes = files.GetFileAttributesA(folder.full);
    return !identified && attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
}

}  // namespace qv
