#include "tests/FakePlatform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/FullPathModel.h"
#include "text/PathText.h"
#include "text/Text.h"

namespace qvtest {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The entry whose key begins the command line, if any.
template <typename T>
const T* ForCommand(const std::map<std::string, T>& table, const std::string& commandLine) {
    for (const auto& [prefix, value] : table)
        if (commandLine.compare(0, prefix.size(), prefix) == 0) return &value;
    return nullptr;
}

// `path` lies inside `folder`, not being it.
bool Under(const std::string& path, const std::string& folder) {
    return qv::PathWithin(path, folder) && !qv::SamePath(path, folder);
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos || slash < 3 ? std::string() : path.substr(0, slash);
}

bool IsDriveRoot(const std::string& path) { return path.size() == 3 && path[1] == ':' && path[2] == '\\'; }

}  // namespace

bool NoCase::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Upper(x) < Upper(y); });
}

std::string Utf8(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string Utf16(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80 || i + 1 >= text.size()) {
            out.push_back(c);
        } else if (c < 0xE0) {
            out.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (text[i + 1] & 0x3F)));
            i += 1;
        } else if (i + 2 < text.size()) {
            out.push_back(static_cast<char16_t>(((c & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) |
                                                (text[i + 2] & 0x3F)));
            i += 2;
        }
    }
    return out;
}

// Hands the file out `chunkSize` bytes at a time and logs its closing.
class FakeFile : public qv::ByteSource {
public:
    FakeFile(FakePlatform& fake, std::string path)
        : fake_(fake), path_(std::move(path)), bytes_(fake.files[path_]) {
        const auto error = fake.readErrorAfter.find(path_);
        if (error != fake.readErrorAfter.end()) errorAt_ = error->second;
    }
    ~FakeFile() override { fake_.Log("close " + path_); }
    long Read(char* buffer, std::size_t size) override {
        if (fake_.Inject("ReadFile " + path_)) return -1;
        if (errorAt_ >= 0 && position_ >= static_cast<std::size_t>(errorAt_)) return -1;
        std::size_t n = std::min(size, fake_.chunkSize);
        if (errorAt_ >= 0) n = std::min(n, static_cast<std::size_t>(errorAt_) - position_);
        n = bytes_.copy(buffer, n, position_);
        position_ += n;
        return static_cast<long>(n);
    }

private:
    FakePlatform& fake_;
    std::string path_, bytes_;
    std::size_t position_ = 0;
    long errorAt_ = -1;
};

// Writes straight into the fake's file, so what a failed rewrite leaves behind can be seen.
class FakeSink : public qv::ByteSink {
public:
    FakeSink(FakePlatform& fake, std::string path) : fake_(fake), path_(std::move(path)) {
        const auto error = fake.writeErrorAfter.find(path_);
        if (error != fake.writeErrorAfter.end()) room_ = error->second;
    }
    ~FakeSink() override { Close(); }
    bool Write(const char* data, std::size_t size) override {
        if (fake_.Inject("WriteFile " + path_)) return fake_.lastError = 112, false;
        std::string& file = fake_.files[path_];
        if (room_ >= 0 && static_cast<long>(size) > room_) {
            file.append(data, static_cast<std::size_t>(room_));
            room_ = 0;
            fake_.lastError = 112;  // ERROR_DISK_FULL
            return false;
        }
        file.append(data, size);
        if (room_ >= 0) room_ -= static_cast<long>(size);
        return true;
    }
    bool Close() override {
        if (closed_) return true;
        closed_ = true;
        fake_.Log("closew " + path_);
        return !fake_.Inject("CloseHandle " + path_);
    }

private:
    FakePlatform& fake_;
    std::string path_;
    long room_ = -1;
    bool closed_ = false;
};

std::function<void(const std::string&)> FakePlatform::onBrokenContract = [](const std::string& what) {
    std::fprintf(stderr, "fake platform: broken contract: %s\n", what.c_str());
    std::abort();
};

bool FakePlatform::Inject(const std::string& call) {
    if (++calls != failCall) return false;
    Log("FAIL " + call);
    failed = call;
    return true;
}

void FakePlatform::Require(bool holds, const std::string& what) {
    if (!holds) onBrokenContract(what);
}

FakePlatform::FakePlatform() = default;
FakePlatform::~FakePlatform() = default;

std::vector<std::string> FakePlatform::Only(const std::vector<std::string>& kinds) const {
    std::vector<std::string> kept;
    std::copy_if(log.begin(), log.end(), std::back_inserter(kept), [&](const std::string& line) {
        return std::count(kinds.begin(), kinds.end(), line.substr(0, line.find(' '))) > 0;
    });
    return kept;
}

void FakePlatform::AddFile(const std::string& given, const std::string& bytes) {
    const std::string path = At(given);
    files[path] = bytes;
    for (std::string folder = Parent(path); !folder.empty(); folder = Parent(folder)) directories.insert(folder);
}

void FakePlatform::AddFolder(const std::string& name) {
    for (std::string folder = Named(name); !folder.empty() && !IsDriveRoot(folder); folder = Parent(folder))
        directories.insert(folder);
}

void FakePlatform::AddDword(const std::string& key, const std::string& name, std::uint32_t value) {
    AddKey(key);
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    keys[key][name] = bytes;
}

void FakePlatform::AddKey(const std::string& key) {
    for (std::string at = key; !at.empty();) {
        keys[at];
        const std::size_t slash = at.find_last_of('\\');
        at = slash == std::string::npos ? std::string() : at.substr(0, slash);
    }
}

bool FakePlatform::Exists(const std::string& path) const {
    return files.count(path) || directories.count(path);
}

unsigned long FakePlatform::NotThere(const std::string& path) const {
    const std::string named = qv::IsFullPath(path) ? Named(path) : std::string();
    const std::string parent = Parent(named.empty() ? path : named);
    const bool shareTop = parent.compare(0, 2, "\\\\") == 0 && std::count(parent.begin() + 2, parent.end(), '\\') <= 1;
    return parent.empty() || shareTop || directories.count(parent) ? qv::kErrorFileNotFound : qv::kErrorPathNotFound;
}

std::string FakePlatform::At(const std::string& path) const {
    std::string full;
    if (!readsAgainstCurrentDirectory || qv::IsFullPath(path) || !qv::ModelFullPath(path, currentDirectory, full))
        return path;
    return full;
}

namespace {

// `path` with the first of `names` (name -> what it stands for) that begins it replaced.
template <typename Names>
std::string Resolved(const std::string& path, const Names& names, bool keyIsName) {
    for (const auto& [key, value] : names) {
        const std::string& name = keyIsName ? key : value;
        const std::string& meant = keyIsName ? value : key;
        const std::string trimmed = qv::WithoutTrailingSeparators(name);
        if (!qv::PathWithin(path, trimmed)) continue;
        std::string rest = path.substr(trimmed.size()), reached = qv::WithoutTrailingSeparators(meant);
        if (!rest.empty() && rest[0] == '\\') rest.erase(0, 1);
        if (!rest.empty() && reached.back() != '\\') reached += '\\';
        return reached + rest;
    }
    return path;
}

}  // namespace

// Part by part, as the system finds each in the folder the parts before it
// reach: a part that is an 8.3 name there gets its long name; the drive, a
// share and a junction keep the names they were given.
std::string FakePlatform::LongNamed(const std::string& path) const {
    std::string full;
    if (!qv::ModelFullPath(path, currentDirectory, full)) return std::string();
    full = qv::WithoutTrailingSeparators(full);
    std::size_t top = IsDriveRoot(full.substr(0, 3)) ? 3 : 0;
    if (top == 0 && full.compare(0, 2, "\\\\") == 0) {
        const std::size_t server = full.find('\\', 2);
        const std::size_t share = server == std::string::npos ? server : full.find('\\', server + 1);
        top = share == std::string::npos ? full.size() : share + 1;
    }
    std::string longPath = full.substr(0, top);
    for (std::size_t start = top; start < full.size();) {
        const std::size_t end = std::min(full.find('\\', start), full.size());
        const std::string reached = Named(longPath);
        if (reached.empty()) return full;
        const std::string child =
            Resolved(reached + (reached.back() == '\\' ? "" : "\\") + full.substr(start, end - start), shortNames, false);
        longPath += (longPath.back() == '\\' ? "" : "\\") + child.substr(child.find_last_of('\\') + 1);
        start = end + 1;
    }
    return longPath;
}

std::string FakePlatform::Named(const std::string& path) const {
    std::string full;
    if (!qv::ModelFullPath(path, currentDirectory, full)) return std::string();
    full = qv::WithoutTrailingSeparators(full);
    for (int hops = 0; hops < 4; ++hops) full = Resolved(full, otherNames, true);
    return Resolved(full, shortNames, false);
}

int FakePlatform::Show(const std::string& text, const std::string& title, unsigned style) {
    if (Inject("MessageBoxA " + title)) return 0;
    Log("box " + title + "|" + text + "|" + qv::Hex(style));
    if ((style & qv::kMbTypeMask) == qv::kMbYesNo && whileAsking) whileAsking(*this);
    // The box's message loop delivers the running dialog's timer, as Windows does.
    if (handler_ && window_->timerRunning && !window_->ended && boxDepth_ < 3) {
        ++boxDepth_;
        for (int i = 0; i < ticksWhileBoxUp && !window_->ended; ++i) {
            Log("tick (box up)");
            handler_->OnTimer(*window_, 1);
        }
        --boxDepth_;
    }
    if ((style & qv::kMbTypeMask) != qv::kMbYesNo) return qv::kIdOk;  // only questions take a scripted answer
    if (boxAnswers.empty()) return qv::kIdNo;
    const int answer = boxAnswers.front();
    boxAnswers.pop_front();
    return answer;
}

int FakePlatform::ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) {
    if (Inject("MessageBoxW " + Utf8(title))) return 0;
    Log("boxw " + Utf8(title) + "|" + Utf8(text) + "|" + qv::Hex(style));
    return qv::kIdOk;
}

std::unique_ptr<qv::ByteSource> FakePlatform::OpenForReading(const std::string& given) {
    std::string path = At(given);
    if (Inject("OpenForReading " + path)) return lastError = qv::kErrorAccessDenied, nullptr;
    Log("open " + path);
    const std::string named = qv::IsFullPath(path) ? Named(path) : std::string();
    if (!files.count(path) && files.count(named)) path = named;  // reached by another of its names
    if (!files.count(path) || unreadableFiles.count(path)) {
        // A folder opens only for its identity, never as a file: access is denied.
        lastError = files.count(path)         ? qv::kErrorSharingViolation
                    : directories.count(path) ? qv::kErrorAccessDenied
                                              : NotThere(path);
        return nullptr;
    }
    return std::make_unique<FakeFile>(*this, path);
}

std::unique_ptr<qv::ByteSink> FakePlatform::OpenForWriting(const std::string& given) {
    const std::string path = At(given);
    if (Inject("OpenForWriting " + path)) return lastError = qv::kErrorAccessDenied, nullptr;
    Log("openw " + path);
    if (lockedFiles.count(path)) {
        lastError = qv::kErrorSharingViolation;
        return nullptr;
    }
    // A folder, or a read-only, hidden or system file, can't be created over.
    const unsigned long attributes = Attributes(path);
    if (attributes != qv::kInvalidFileAttributes &&
        (attributes & (qv::kFileAttributeDirectory | qv::kFileAttributeReadOnly | qv::kFileAttributeHidden |
                       qv::kFileAttributeSystem))) {
        lastError = qv::kErrorAccessDenied;
        return nullptr;
    }
    if (!directories.count(Parent(path))) {
        lastError = qv::kErrorPathNotFound;
        return nullptr;
    }
    files[path].clear();
    return std::make_unique<FakeSink>(*this, path);
}

std::unique_ptr<qv::ByteSink> FakePlatform::OpenForAppending(const std::string& given) {
    std::string path = At(given);
    if (Inject("OpenForAppending " + path)) return lastError = qv::kErrorAccessDenied, nullptr;
    Log("opena " + path);
    const std::string named = qv::IsFullPath(path) ? Named(path) : std::string();
    if (!named.empty() && !Exists(path) && directories.count(Parent(named))) path = named;  // reached by another name
    const unsigned long attributes = Attributes(path);
    if (lockedFiles.count(path) || (attributes != qv::kInvalidFileAttributes &&
                                    (attributes & (qv::kFileAttributeDirectory | qv::kFileAttributeReadOnly)))) {
        lastError = lockedFiles.count(path) ? qv::kErrorSharingViolation : qv::kErrorAccessDenied;
        return nullptr;
    }
    if (!directories.count(Parent(path))) {
        lastError = qv::kErrorPathNotFound;
        return nullptr;
    }
    files[path];
    return std::make_unique<FakeSink>(*this, path);
}

bool FakePlatform::DeleteFileA(const std::string& given) {
    const std::string path = At(given);
    if (Inject("DeleteFileA " + path)) return lastError = qv::kErrorAccessDenied, false;
    Log("delete " + path);
    if (lockedFiles.count(path) || !files.erase(path)) {
        lastError = lockedFiles.count(path) ? qv::kErrorSharingViolation : NotThere(path);
        return false;
    }
    return true;
}

bool FakePlatform::RemoveDirectoryA(const std::string& given) {
    const std::string path = At(given);
    if (Inject("RemoveDirectoryA " + path)) return lastError = qv::kErrorAccessDenied, false;
    Log("rmdir " + path);
    const bool busy = std::any_of(files.begin(), files.end(), [&](const auto& f) { return Under(f.first, path); }) ||
                      std::any_of(directories.begin(), directories.end(),
                                  [&](const std::string& d) { return Under(d, path); });
    if (!directories.count(path) || busy || qv::SamePath(path, currentDirectory)) {
        lastError = directories.count(path) ? 145 /* ERROR_DIR_NOT_EMPTY */ : NotThere(path);
        return false;
    }
    directories.erase(path);
    return true;
}

bool FakePlatform::SetCurrentDirectoryA(const std::string& given) {
    const std::string path = At(given);
    if (Inject("SetCurrentDirectoryA " + path)) return lastError = qv::kErrorAccessDenied, false;
    Log("chdir " + path);
    if (!(Attributes(path) & qv::kFileAttributeDirectory) || Attributes(path) == qv::kInvalidFileAttributes) {
        lastError = NotThere(path);
        return false;
    }
    currentDirectory = path;
    return true;
}

int FakePlatform::SHFileOperationA(qv::ShellFileOperation& request) {
    if (Inject(std::string("SHFileOperationA ") + (request.pFrom ? request.pFrom : ""))) return 0x78;  // DE_ACCESSDENIEDSRC
    const char* from = request.pFrom ? request.pFrom : "";
    const std::string path = from;
    Require(from[path.size() + 1] == '\0', "pFrom names one path and ends in two NUL bytes: " + path);
    Require(request.wFunc == qv::kFoDelete && request.hwnd == 0 && request.pTo == nullptr,
            "a deletion with no owner and no target");
    Log("shell " + path + "|" + qv::Hex(request.fFlags) + "|" +
        (request.lpszProgressTitle ? request.lpszProgressTitle : "(none)"));
    if (shellFailures.count(path)) return shellFailures[path];
    const std::string named = Named(path);
    if (named.empty() || !(IsDriveRoot(named) || Exists(named))) return qv::kErrorFileNotFound;
    // A folder that is some process's current directory cannot go; a whole drive goes but for that.
    if (!IsDriveRoot(named) && qv::PathWithin(currentDirectory, named)) return qv::kErrorSharingViolation;
    for (auto it = files.begin(); it != files.end();) it = qv::PathWithin(it->first, named) ? files.erase(it) : ++it;
    for (auto it = directories.begin(); it != directories.end();)
        it = qv::PathWithin(*it, named) && !qv::PathWithin(currentDirectory, *it) ? directories.erase(it) : ++it;
    return 0;
}

// A full path reaches what its other names stand for.
unsigned long FakePlatform::Attributes(const std::string& given) const {
    const std::string named = qv::IsFullPath(given) ? Named(given) : std::string();
    const std::string& path = Exists(given) || named.empty() ? given : named;
    const auto attributes = fileAttributes.find(path);
    if (directories.count(path) || IsDriveRoot(path))
        return qv::kFileAttributeDirectory | (attributes == fileAttributes.end() ? 0 : attributes->second);
    if (!files.count(path)) return qv::kInvalidFileAttributes;
    return attributes == fileAttributes.end() ? 0x80 /* FILE_ATTRIBUTE_NORMAL */ : attributes->second;
}

unsigned long FakePlatform::GetFileAttributesA(const std::string& given) {
    const std::string path = At(given);
    if (Inject("GetFileAttributesA " + path)) return lastError = qv::kErrorAccessDenied, qv::kInvalidFileAttributes;
    if (refused.count(path)) return lastError = qv::kErrorAccessDenied, qv::kInvalidFileAttributes;
    if (path.size() >= 2 && path[1] == ':' && missingDrives.count(Upper(path[0])))
        return lastError = qv::kErrorPathNotFound, qv::kInvalidFileAttributes;
    const unsigned long attributes = Attributes(path);
    if (attributes == qv::kInvalidFileAttributes) lastError = NotThere(path);
    return attributes;
}

bool FakePlatform::GetFileIdentity(const std::string& path, qv::FileIdentity& identity) {
    if (Inject("GetFileIdentity " + path) || lacksFileIdentities) return lastError = qv::kErrorAccessDenied, false;
    const std::string named = Named(path);
    if (named.empty() || !(IsDriveRoot(named) || Exists(named))) return lastError = NotThere(path), false;
    const std::string key = qv::ComparablePath(named);
    identity.volumeSerialNumber = static_cast<unsigned char>(key[0]);
    const std::size_t index = std::hash<std::string>()(key);
    identity.fileIndexHigh = static_cast<unsigned long>(index >> 16 >> 16);
    identity.fileIndexLow = static_cast<unsigned long>(index & 0xFFFFFFFFu);
    return true;
}

bool FakePlatform::FindFirstFileA(const std::string& path, std::string& foundName) {
    if (Inject("FindFirstFileA " + path)) return lastError = qv::kErrorAccessDenied, false;
    const std::string named = Named(path), longNamed = LongNamed(path);
    if (named.empty() || IsDriveRoot(named) || !Exists(named)) return lastError = NotThere(path), false;
    foundName = longNamed.substr(longNamed.find_last_of('\\') + 1);
    return true;
}

bool FakePlatform::GetFinalPathName(const std::string& path, std::string& finalPath) {
    if (Inject("GetFinalPathName " + path) || lacksFinalPathNames) return lastError = 120 /* not implemented */, false;
    const std::string named = Named(path);
    if (named.empty() || !(IsDriveRoot(named) || Exists(named))) return lastError = NotThere(path), false;
    finalPath = named.compare(0, 2, "\\\\") == 0 ? "\\\\?\\UNC\\" + named.substr(2) : "\\\\?\\" + named;
    return true;
}

bool FakePlatform::ListSubfolders(const std::string& folder, std::vector<std::string>& names) {
    if (Inject("ListSubfolders " + folder)) return lastError = qv::kErrorAccessDenied, false;
    const std::string named = Named(folder);
    if (named.empty() || !(IsDriveRoot(named) || directories.count(named))) return lastError = qv::kErrorPathNotFound, false;
    names.clear();
    for (const std::string& directory : directories) {
        const std::size_t slash = directory.find_last_of('\\');
        if (slash != std::string::npos && qv::SamePath(directory.substr(0, std::max<std::size_t>(slash, 3)), named) &&
            !qv::SamePath(directory, named))
            names.push_back(directory.substr(slash + 1));
    }
    return true;
}

unsigned long FakePlatform::MoveFileA(const std::string& fromGiven, const std::string& toGiven) {
    const std::string from = At(fromGiven), to = At(toGiven);
    if (Inject("MoveFileA " + from)) return lastError = qv::kErrorAccessDenied;
    // As Windows does it: the file to move is opened first, then the new name is looked at.
    unsigned long status = qv::kErrorSuccess;
    if (!Exists(from))
        status = NotThere(from);
    else if (lockedFiles.count(from))
        status = qv::kErrorSharingViolation;
    else if (NotThere(to) == qv::kErrorPathNotFound)
        status = qv::kErrorPathNotFound;
    else if (Exists(to))
        status = nameTakenError;
    Log("move " + from + "|" + to + " -> " + std::to_string(status));
    if (status != qv::kErrorSuccess) return lastError = status;
    const auto renamed = [&](const std::string& path) { return to + path.substr(from.size()); };
    PathMap<std::string> moved;
    for (auto it = files.begin(); it != files.end();) {
        if (!qv::PathWithin(it->first, from)) {
            ++it;
            continue;
        }
        moved[renamed(it->first)] = it->second;
        it = files.erase(it);
    }
    PathSet movedFolders;
    for (auto it = directories.begin(); it != directories.end();) {
        if (!qv::PathWithin(*it, from)) {
            ++it;
            continue;
        }
        movedFolders.insert(renamed(*it));
        it = directories.erase(it);
    }
    files.insert(moved.begin(), moved.end());
    directories.insert(movedFolders.begin(), movedFolders.end());
    return status;
}

bool FakePlatform::CreateProcessA(const std::string& commandLine, bool inheritHandles, unsigned long creationFlags,
                                  const qv::StartupInfo& startup, qv::ProcessInfo& info) {
    if (Inject("CreateProcessA " + commandLine)) return lastError = qv::kErrorAccessDenied, false;
    Log("create " + commandLine + "|show=" + std::to_string(startup.wShowWindow));
    Require(inheritHandles && creationFlags == qv::kRealtimePriorityClass,
            "children inherit handles and start with creation flags 0x100");
    Require(startup.cb == 68 && startup.dwFlags == qv::kStartfUseShowWindow,
            "a 68-byte STARTUPINFOA that sets the show state");
    if (const unsigned long* error = ForCommand(startErrors, commandLine)) {
        lastError = *error;
        return false;
    }
    const int* waits = ForCommand(runningWaits, commandLine);
    info.process = nextHandle_++;
    info.thread = nextHandle_++;
    running_[info.process] = waits ? *waits : 0;
    const unsigned long* code = ForCommand(exitCodes, commandLine);
    exitCode_[info.process] = code ? *code : 0;
    return true;
}

unsigned long FakePlatform::WaitForSingleObject(qv::Handle process, unsigned long milliseconds) {
    if (Inject("WaitForSingleObject")) return lastError = qv::kErrorInvalidHandle, 0xFFFFFFFF;  // WAIT_FAILED
    Log("wait " + std::to_string(milliseconds));
    return running_[process]-- > 0 ? qv::kWaitTimeout : qv::kWaitObject0;
}

bool FakePlatform::GetExitCodeProcess(qv::Handle process, unsigned long& exitCode) {
    if (Inject("GetExitCodeProcess")) return lastError = qv::kErrorInvalidHandle, false;
    Log("exitcode " + std::to_string(process));
    exitCode = running_[process] >= 0 ? 259 /* STILL_ACTIVE */ : exitCode_[process];
    if (!failingExitReads.count(++exitReads_)) return true;
    lastError = qv::kErrorInvalidHandle;
    return false;
}

bool FakePlatform::CloseHandle(qv::Handle handle) {
    if (Inject("CloseHandle")) return lastError = qv::kErrorInvalidHandle, false;
    Log("closehandle " + std::to_string(handle));
    return true;
}

long FakePlatform::OpenKey(const std::string& subKey, unsigned long access, qv::Handle& key) {
    if (Inject("RegOpenKeyExA " + subKey)) return key = 0, qv::kErrorAccessDenied;
    const long status = refused.count(subKey) ? qv::kErrorAccessDenied
                        : keys.count(subKey)  ? qv::kErrorSuccess
                                              : qv::kErrorFileNotFound;
    Log("regopen " + subKey + "|" + qv::Hex(access) + " -> " + std::to_string(status));
    key = 0;
    if (status == qv::kErrorSuccess) {
        key = nextHandle_++;
        openKeys_[key] = subKey;
    }
    return status;
}

long FakePlatform::CloseKey(qv::Handle key) {
    // A close that fails still counts as the program letting go: there is nothing more it could do.
    if (Inject("RegCloseKey")) return openKeys_.erase(key), qv::kErrorInvalidHandle;
    const auto open = openKeys_.find(key);
    Log("regclose " + (open == openKeys_.end() ? "(not open)" : open->second));
    if (open == openKeys_.end()) return qv::kErrorInvalidHandle;
    openKeys_.erase(open);
    return qv::kErrorSuccess;
}

long FakePlatform::QueryValue(qv::Handle key, const std::string& name, char* data, unsigned long& size) {
    if (Inject("RegQueryValueExA " + name)) return qv::kErrorAccessDenied;
    const auto open = openKeys_.find(key);
    long status = qv::kErrorInvalidHandle;
    if (open != openKeys_.end()) {
        PathMap<std::string>& values = keys[open->second];
        const auto value = values.find(name);
        if (value == values.end()) {
            status = qv::kErrorFileNotFound;
        } else if (value->second.size() > size) {
            size = static_cast<unsigned long>(value->second.size());
            status = qv::kErrorMoreData;
        } else {
            std::memcpy(data, value->second.data(), value->second.size());
            size = static_cast<unsigned long>(value->second.size());
            status = qv::kErrorSuccess;
        }
    }
    Log("regquery " + name + " -> " + std::to_string(status));
    return status;
}

long FakePlatform::SetValue(qv::Handle key, const std::string& name, unsigned long type, const char* data,
                            unsigned long size) {
    if (Inject("RegSetValueExA " + name)) return qv::kErrorAccessDenied;
    const std::string bytes(data, size);
    Log("regset " + name + "|" + std::to_string(type) + "|" + bytes);
    const auto open = openKeys_.find(key);
    if (open == openKeys_.end()) return qv::kErrorInvalidHandle;
    keys[open->second][name] = bytes;
    return qv::kErrorSuccess;
}

long FakePlatform::DeleteKey(const std::string& subKey) {
    if (Inject("RegDeleteKeyA " + subKey)) return qv::kErrorAccessDenied;
    long status = qv::kErrorSuccess;
    const bool hasSubkeys =
        std::any_of(keys.begin(), keys.end(), [&](const auto& k) { return Under(k.first, subKey); });
    if (!keys.count(subKey))
        status = qv::kErrorFileNotFound;
    else if (hasSubkeys)
        status = qv::kErrorAccessDenied;  // as Windows NT: only a key without subkeys goes
    else
        keys.erase(subKey);
    Log("regdelete " + subKey + " -> " + std::to_string(status));
    return status;
}

bool FakePlatform::FormatMessageA(unsigned long flags, unsigned long messageId, unsigned long languageId,
                                  std::string& text) {
    if (Inject("FormatMessageA")) return false;
    Require(flags == 0x1300 && languageId == qv::kLangUserDefault,
            "system texts are asked for with flags 0x1300 in the user's language");
    if (codesWithoutText.count(messageId)) return false;
    text = "system text for " + std::to_string(messageId) + (textsEndInBlankAndCrLf ? " \r\n" : "");
    return true;
}

bool FakePlatform::FormatMessageW(unsigned long flags, unsigned long messageId, unsigned long languageId,
                                  std::u16string& text) {
    if (Inject("FormatMessageW")) return false;
    Require((flags & qv::kFormatMessageFromSystem) && (flags & qv::kFormatMessageAllocateBuffer) &&
                languageId == qv::kLangUserDefault,
            "wide system texts come from the system, allocated, in the user's language");
    if (codesWithoutText.count(messageId)) return false;
    if (codesWithInserts.count(messageId) && !(flags & qv::kFormatMessageIgnoreInserts)) return false;
    text = Utf16("system text for " + qv::Hex(messageId, 8) +
                 ((flags & qv::kFormatMessageIgnoreInserts) ? " (inserts left)" : ""));
    return true;
}

unsigned FakePlatform::GetWindowsDirectoryA(char* buffer, unsigned size) {
    if (Inject("GetWindowsDirectoryA")) return lastError = qv::kErrorAccessDenied, 0;
    Log("windir " + std::to_string(size));
    if (buffer == nullptr || size == 0) {
        if (windowsDirectoryLengthFails) return lastError = qv::kErrorAccessDenied, 0;
        return static_cast<unsigned>(windowsDirectory.size() + 1);
    }
    if (windowsDirectoryReadFails) return lastError = qv::kErrorAccessDenied, 0;
    if (size <= windowsDirectory.size()) return static_cast<unsigned>(windowsDirectory.size() + 1);
    std::memcpy(buffer, windowsDirectory.c_str(), windowsDirectory.size() + 1);
    return static_cast<unsigned>(windowsDirectory.size());
}

bool FakePlatform::GetVersionExA(qv::OsVersionInfo& info) {
    if (Inject("GetVersionExA")) return false;
    Log("version " + std::to_string(info.dwOSVersionInfoSize));
    if (info.dwOSVersionInfoSize != qv::kOsVersionInfoSize) return false;
    info.dwMajorVersion = 4;
    info.dwPlatformId = platformId;
    return true;
}

bool FakePlatform::SHGetFolderPathA(int csidl, std::string& path) {
    if (Inject("SHGetFolderPathA")) return false;
    const auto folder = shellFolders.find(csidl);
    if (folder == shellFolders.end()) return false;
    path = folder->second;
    return true;
}

bool FakePlatform::GetProfilesDirectoryA(std::string& path) {
    if (Inject("GetProfilesDirectoryA")) return false;
    path = profilesDirectory;
    return !path.empty();
}

bool FakePlatform::GetEnvironmentVariableA(const std::string& name, std::string& value) {
    if (Inject("GetEnvironmentVariableA " + name)) return false;
    const auto variable = environment.find(name);
    if (variable == environment.end()) return false;
    value = variable->second;
    return true;
}

bool FakePlatform::GetShortPathNameA(const std::string& path, std::string& shortPath) {
    if (Inject("GetShortPathNameA " + path)) return false;
    const auto name = shortNames.find(path);
    if (name != shortNames.end()) {
        shortPath = name->second;
        return true;
    }
    if (!Exists(path)) return false;
    shortPath = path;  // every folder on the way by its 8.3 name, where it has one
    for (const auto& [longPath, shortName] : shortNames)
        if (Under(path, longPath)) shortPath = shortName + path.substr(longPath.size());
    return true;
}

bool FakePlatform::GetLongPathNameA(const std::string& path, std::string& longPath) {
    if (Inject("GetLongPathNameA " + path) || lacksLongPathNames) return lastError = 120 /* not implemented */, false;
    const std::string named = Named(path);
    if (named.empty() || !(IsDriveRoot(named) || Exists(named))) return lastError = NotThere(path), false;
    longPath = LongNamed(path);
    return true;
}

unsigned FakePlatform::GetDriveTypeA(const std::string& rootPath) {
    if (Inject("GetDriveTypeA " + rootPath)) return 0;  // DRIVE_UNKNOWN
    const char drive = rootPath.empty() ? '\0' : Upper(rootPath[0]);
    return remoteDrives.count(drive) ? qv::kDriveRemote : 3;  // DRIVE_FIXED
}

unsigned long FakePlatform::GetTickCount() {
    const unsigned long now = ticks;
    ticks += tickStep;
    return now;
}

bool FakePlatform::GetComputerNameA(std::string& name) {
    if (Inject("GetComputerNameA")) return false;
    name = computerName;
    return !name.empty();
}

bool FakePlatform::GetSystemWindowsDirectoryA(std::string& path) {
    if (Inject("GetSystemWindowsDirectoryA")) return false;
    path = systemWindowsDirectory.empty() ? windowsDirectory : systemWindowsDirectory;
    return !path.empty();
}

bool FakePlatform::GetFullPathNameA(const std::string& path, std::string& fullPath) {
    if (Inject("GetFullPathNameA " + path)) return lastError = 123 /* ERROR_INVALID_NAME */, false;
    const bool made = qv::ModelFullPath(path, currentDirectory, fullPath);
    Log("fullpath " + path + " -> " + (made ? fullPath : "(none)"));
    if (!made) lastError = 123;
    return made;
}

qv::HResult FakePlatform::CoInitialize() {
    if (Inject("CoInitialize")) return static_cast<qv::HResult>(0x80004005);
    Log("coinit");
    return 0;
}

void FakePlatform::CoUninitialize() { Log("couninit"); }

namespace {
std::string GuidText(const qv::Guid& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}
}  // namespace

qv::HResult FakePlatform::CoCreateInstance(const qv::Guid& clsid, unsigned long context, const qv::Guid& iid,
                                    qv::Metabase*& object) {
    if (Inject("CoCreateInstance")) return object = nullptr, static_cast<qv::HResult>(0x80004005);
    object = nullptr;
    qv::HResult result = static_cast<qv::HResult>(0x80040154);  // REGDB_E_CLASSNOTREG
    if (metabase) result = metabase->createResult;
    Log("cocreate " + GuidText(clsid) + " " + std::to_string(context) + " " + GuidText(iid) + " -> " +
        qv::Hex(static_cast<std::uint32_t>(result), 8));
    if (result >= 0) {
        ++metabase->references;
        object = metabase.get();
    }
    return result;
}

void FakePlatform::Exit(int status) {
    Log("exit " + std::to_string(status));
    throw ProgramExit{status};
}

// As the modal loop does: initialisation first, and a dialog ended there is
// never shown and gets no tick; then timer ticks until something ends it.
int FakePlatform::RunModal(int templateId, qv::DialogHandler& handler) {
    if (Inject("DialogBoxParamA")) return -1;  // the dialog could not be made
    Log("dialog " + std::to_string(templateId));
    FakeDialogWindow window(log);
    const auto escape = escapeAfterTicks.find(++dialogs_);
    qv::DialogHandler* outerHandler = handler_;
    FakeDialogWindow* outerWindow = window_;
    handler_ = &handler;
    window_ = &window;
    struct Restore {
        FakePlatform& fake;
        qv::DialogHandler* handler;
        FakeDialogWindow* window;
        ~Restore() { fake.handler_ = handler, fake.window_ = window; }
    } restore{*this, outerHandler, outerWindow};
    handler.OnInitDialog(window);
    for (int tick = 0; !window.ended; ++tick) {
        if (escape != escapeAfterTicks.end() && tick == escape->second) {
            Log("escape");
            window.End(qv::kIdCancel);
        } else if (tick == 5000) {
            Require(false, "a dialog that never ends");
            return -1;
        } else {
            Log("tick");
            handler.OnTimer(window, 1);
        }
    }
    return window.result;
}

// --- The metabase ---

namespace {
constexpr qv::HResult kPathNotFound = static_cast<qv::HResult>(0x80070003);
constexpr qv::HResult kInvalidHandle = static_cast<qv::HResult>(0x80070006);
constexpr qv::HResult kInsufficientBuffer = static_cast<qv::HResult>(0x8007007A);
constexpr qv::HResult kDataNotFound = static_cast<qv::HResult>(0x800CC801);
}  // namespace

qv::HResult FakeMetabase::Result(const std::string& call, const std::string& arguments, qv::HResult ok) {
    const auto failure = failures.find(call);
    qv::HResult result = failure == failures.end() ? ok : failure->second;
    if (fake_.Inject("IMSAdminBase::" + call)) result = static_cast<qv::HResult>(0x80004005);
    fake_.Log("mb " + call + (arguments.empty() ? "" : " " + arguments) + " -> " +
              qv::Hex(static_cast<std::uint32_t>(result), 8));
    return result;
}

std::string FakeMetabase::Join(qv::MetadataHandle handle, const std::u16string& path) const {
    const auto open = handles_.find(handle);
    std::string joined = handle == 0 || open == handles_.end() ? std::string() : open->second;
    const std::string tail = Utf8(path);
    if (!tail.empty() && tail != "/") joined += tail.front() == '/' ? tail : "/" + tail;
    while (joined.size() > 1 && joined.back() == '/') joined.pop_back();
    return joined;
}

unsigned long FakeMetabase::Release() {
    --references;
    fake_.Log("mb Release -> " + std::to_string(references));
    return static_cast<unsigned long>(references);
}

qv::HResult FakeMetabase::OpenKey(qv::MetadataHandle handle, const std::u16string& path, unsigned long access,
                           unsigned long timeout, qv::MetadataHandle& opened) {
    const std::string key = Join(handle, path);
    const qv::HResult result = Result("OpenKey", std::to_string(handle) + " " + Utf8(path) + " " + std::to_string(access) +
                                              " " + std::to_string(timeout),
                               keys.count(key) ? 0 : kPathNotFound);
    opened = 0;
    if (result >= 0) {
        opened = nextHandle_++;
        handles_[opened] = key;
    }
    return result;
}

qv::HResult FakeMetabase::DeleteKey(qv::MetadataHandle handle, const std::u16string& path) {
    const std::string key = Join(handle, path);
    const bool valid = handles_.count(handle) > 0;
    const qv::HResult result = Result("DeleteKey", std::to_string(handle) + " " + Utf8(path),
                               !valid ? kInvalidHandle : keys.count(key) ? 0 : kPathNotFound);
    if (result < 0) return result;
    const auto inside = [&](const std::string& k) {
        return !NoCase()(k, key) && !NoCase()(key, k) ? true
                                                      : k.size() > key.size() && k[key.size()] == '/' &&
                                                            !NoCase()(k.substr(0, key.size()), key) &&
                                                            !NoCase()(key, k.substr(0, key.size()));
    };
    for (auto it = keys.begin(); it != keys.end();) it = inside(*it) ? keys.erase(it) : ++it;
    for (auto it = data.begin(); it != data.end();) it = inside(it->first.first) ? data.erase(it) : ++it;
    return result;
}

qv::HResult FakeMetabase::GetData(qv::MetadataHandle handle, const std::u16string& path, qv::MetadataRecord& record,
                           unsigned long& requiredLength) {
    const std::string key = Join(handle, path);
    auto found = data.find({key, record.identifier});
    // As IIS does: a value of another user or data type than asked for is not found; 0 (ALL_METADATA) asks for any.
    if (found != data.end() && ((record.userType && record.userType != found->second.userType) ||
                                (record.dataType && record.dataType != found->second.dataType)))
        found = data.end();
    const unsigned long needed = found == data.end() ? 0 : static_cast<unsigned long>((found->second.text.size() + 1) * 2);
    qv::HResult ok = !handles_.count(handle)           ? kInvalidHandle
              : found == data.end()             ? kDataNotFound
              : record.dataLength < needed      ? kInsufficientBuffer
                                                : 0;
    const qv::HResult result =
        Result("GetData", std::to_string(handle) + " '" + Utf8(path) + "' " + std::to_string(record.identifier) + " " +
                              std::to_string(record.attributes) + " " + std::to_string(record.userType) + " " +
                              std::to_string(record.dataType) + " " + std::to_string(record.dataLength),
               ok);
    if (ok == kInsufficientBuffer) requiredLength = needed;
    if (result < 0 || ok != 0) return result;
    const Data& value = found->second;
    std::memcpy(record.data, value.text.c_str(), needed);
    record.dataLength = needed;
    record.attributes = value.attributes;
    record.userType = value.userType;
    record.dataType = value.dataType;
    return result;
}

qv::HResult FakeMetabase::SetData(qv::MetadataHandle handle, const std::u16string& path, qv::MetadataRecord& record) {
    std::u16string text;
    for (unsigned long i = 0; i + 1 < record.dataLength; i += 2) {
        char16_t c;
        std::memcpy(&c, record.data + i, 2);
        text.push_back(c);
    }
    const bool terminated = !text.empty() && text.back() == u'\0';
    if (terminated) text.pop_back();
    const qv::HResult result =
        Result("SetData", std::to_string(handle) + " '" + Utf8(path) + "' " + std::to_string(record.identifier) + " " +
                              std::to_string(record.attributes) + " " + std::to_string(record.userType) + " " +
                              std::to_string(record.dataType) + " " + std::to_string(record.dataLength) + " '" +
                              Utf8(text) + "'" + (terminated ? "" : " unterminated"),
               handles_.count(handle) ? 0 : kInvalidHandle);
    if (result < 0) return result;
    Data& value = data[{Join(handle, path), record.identifier}];
    value = Data{record.attributes, record.userType, record.dataType, text};
    return result;
}

qv::HResult FakeMetabase::CloseKey(qv::MetadataHandle handle) {
    const qv::HResult result = Result("CloseKey", std::to_string(handle), handles_.count(handle) ? 0 : kInvalidHandle);
    handles_.erase(handle);  // even a failed close is the program letting go
    return result;
}

}  // namespace qvtest
