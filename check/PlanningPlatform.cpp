#include "check/PlanningPlatform.h"

#include <cstdio>
#include <cstring>

#include "check/MachineReads.h"
#include "check/MemorySource.h"
#include "text/Text.h"

namespace qv::check {

namespace {

constexpr unsigned long kMetadataPermissionRead = 1;
constexpr int kTickLimit = 100;  // a planned child ends at the first tick; this only stops a runaway

// The form the run's own writes and removals are known by.
std::string Folded(std::string path) {
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    return FoldedCase(path);
}

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX", value);
    return text;
}

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

// The log a command line hands the InstallShield uninstaller, as the list driver records it.
std::string LogOf(const std::string& commandLine) {
    const std::size_t f = commandLine.find(" -f");
    std::string log;
    if (f == std::string::npos) return log;
    for (char c : commandLine.substr(f + 3))
        if (c != '"' && c != '\n' && c != '\r') log.push_back(c);
    return log;
}

}  // namespace

// What the run writes stays in memory, for its own later reads.
class PlannedFile : public ByteSink {
public:
    PlannedFile(PlanningPlatform& plan, std::string key) : plan_(plan), key_(std::move(key)) {}
    bool Write(const char* data, std::size_t size) override {
        plan_.written_[key_].append(data, size);
        return true;
    }
    bool Close() override { return true; }

private:
    PlanningPlatform& plan_;
    std::string key_;
};

// The live metabase, read but never changed.
class PlanningMetabase final : public Metabase {
public:
    PlanningMetabase(PlanningPlatform& plan, Metabase* live) : plan_(plan), live_(live) {}
    unsigned long Release() override {
        const unsigned long left = live_ ? live_->Release() : 0;
        delete this;
        return left;
    }
    HResult DeleteKey(MetadataHandle handle, const std::u16string& path) override {
        plan_.Record("metabase-delete-key", KeyOf(handle) + Narrow(path));
        return 0;
    }
    HResult SetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record) override {
        std::u16string text;
        for (unsigned long i = 0; i + 1 < record.dataLength; i += 2) {
            char16_t c;
            std::memcpy(&c, record.data + i, 2);
            if (c == 0) break;
            text.push_back(c);
        }
        PlannedStep& step = plan_.Record("metabase-set-data", KeyOf(handle) + Narrow(path),
                                         "identifier " + std::to_string(record.identifier) + ": \"" + Narrow(text) + "\"");
        step.value = Narrow(text);
        step.identifier = record.identifier;
        return 0;
    }
    HResult GetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record,
                    unsigned long& requiredLength) override {
        return live_->GetData(handle, path, record, requiredLength);
    }
    HResult OpenKey(MetadataHandle handle, const std::u16string& path, unsigned long, unsigned long timeout,
                    MetadataHandle& opened) override {
        const HResult result = live_->OpenKey(handle, path, kMetadataPermissionRead, timeout, opened);
        if (result >= 0) keys_[opened] = KeyOf(handle) + Narrow(path);
        return result;
    }
    HResult CloseKey(MetadataHandle handle) override {
        keys_.erase(handle);
        return live_->CloseKey(handle);
    }

private:
    ~PlanningMetabase() = default;
    std::string KeyOf(MetadataHandle handle) const {
        const auto key = keys_.find(handle);
        return key == keys_.end() ? std::string() : key->second;
    }
    std::map<MetadataHandle, std::string> keys_;
    PlanningPlatform& plan_;
    Metabase* live_;
};

// The progress dialog without a window: its caption goes to the command it shows.
class PlanningWindow : public DialogWindow {
public:
    PlanningWindow(PlanningPlatform& plan, std::size_t firstStep) : plan_(plan), firstStep_(firstStep) {}
    void SetTitle(const std::string& title) override {
        for (std::size_t i = firstStep_; i < plan_.steps_.size(); ++i)
            if (plan_.steps_[i].kind == "run") plan_.steps_[i].detail = title;
    }
    void Minimize() override {}
    void SetProgressRange(int, int) override {}
    void SetProgressStep(int) override {}
    void StepProgress() override {}
    void SetProgressPos(int) override {}
    void StartTimer(unsigned, unsigned) override {}
    void StopTimer(unsigned) override {}
    void End(int result) override {
        ended = true;
        this->result = result;
    }
    bool ended = false;
    int result = 0;

private:
    PlanningPlatform& plan_;
    std::size_t firstStep_;
};

PlanningPlatform::PlanningPlatform(Platform& reading, PlanningOptions options)
    : reading_(reading),
      options_(std::move(options)),
      platform_{*this, *this, *this, *this, *this, *this, *this, *this, *this, *this} {}

PlanningPlatform::~PlanningPlatform() = default;

PlannedStep& PlanningPlatform::Record(std::string kind, std::string target, std::string detail, int answer,
                                     unsigned style) {
    PlannedStep step;
    step.kind = std::move(kind);
    step.target = std::move(target);
    step.detail = std::move(detail);
    step.answer = answer;
    step.style = style;
    step.piece = piece_;
    steps_.push_back(std::move(step));
    return steps_.back();
}

bool PlanningPlatform::Removed(const std::string& path) const {
    for (std::string at = Folded(path);;) {
        if (removed_.count(at)) return true;
        const std::size_t slash = at.find_last_of('\\');
        if (slash == std::string::npos || slash < 3) return false;
        at.erase(slash);
    }
}

int PlanningPlatform::Show(const std::string& text, const std::string& title, unsigned style) {
    int answer = kIdOk;
    if ((style & kMbTypeMask) == kMbYesNo) {
        answer = options_.answers.empty() ? options_.defaultAnswer : options_.answers.front();
        if (!options_.answers.empty()) options_.answers.pop_front();
    }
    Record("box", text, title, answer, style);
    return answer;
}

int PlanningPlatform::ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) {
    Record("box", Narrow(text), Narrow(title), kIdOk, style);
    return kIdOk;
}

std::unique_ptr<ByteSource> PlanningPlatform::OpenForReading(const std::string& path) {
    if (path == options_.listPath && !Removed(path)) return reading_.files.OpenForReading(options_.listFile);
    const auto written = written_.find(Folded(path));
    if (written != written_.end()) return std::make_unique<MemorySource>(written->second);
    if (Removed(path)) return nullptr;
    return reading_.files.OpenForReading(path);
}

// Only what stands on the machine counts: a missing folder may be one the
// reading platform cannot see (an empty machine has none).
std::string PlanningPlatform::WriteFails(const std::string& path, unsigned long& error) {
    if (written_.count(Folded(path))) return std::string();
    const unsigned long attributes = GetFileAttributesA(path);
    error = kErrorAccessDenied;
    if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory))
        return "a folder stands at " + path;
    if (attributes != kInvalidFileAttributes &&
        (attributes & (kFileAttributeReadOnly | kFileAttributeHidden | kFileAttributeSystem)))
        return "the file at " + path + " is read-only, hidden or a system file";
    error = kErrorPathNotFound;
    for (std::size_t slash = path.find_last_of('\\'); slash != std::string::npos && slash > 2;
         slash = path.find_last_of('\\', slash - 1)) {
        const std::string folder = path.substr(0, slash);
        if (Removed(folder)) return "the run has removed " + folder + " by then";
        const unsigned long above = reading_.files.GetFileAttributesA(folder);
        if (above != kInvalidFileAttributes && !(above & kFileAttributeDirectory))
            return "a file stands at " + folder + ", where a folder should be";
    }
    return std::string();
}

std::unique_ptr<ByteSink> PlanningPlatform::OpenForWriting(const std::string& path) {
    unsigned long error = 0;
    const std::string fails = WriteFails(path, error);
    if (!fails.empty()) {
        Record("write-file", path).fails = fails;
        lastError_ = error;
        return nullptr;
    }
    Record("write-file", path);
    const std::string key = Folded(path);
    removed_.erase(key);
    written_[key].clear();
    return std::make_unique<PlannedFile>(*this, key);
}

bool PlanningPlatform::DeleteFileA(const std::string& path) {
    Record("delete-file", path);
    written_.erase(Folded(path));
    removed_.insert(Folded(path));
    return true;
}

bool PlanningPlatform::RemoveDirectoryA(const std::string& path) {
    Record("remove-folder", path);
    removed_.insert(Folded(path));
    return true;
}

// Entering a folder changes only this process; it is the uninstaller's test that the folder is there.
bool PlanningPlatform::SetCurrentDirectoryA(const std::string& path) {
    if (Removed(path) || !reading_.files.SetCurrentDirectoryA(path)) {
        Record("note", path, "is not there: taken as removed already");
        return false;
    }
    Record("current-directory", path);
    return true;
}

unsigned long PlanningPlatform::GetFileAttributesA(const std::string& path) {
    if (written_.count(Folded(path))) return 0x80;  // FILE_ATTRIBUTE_NORMAL
    if (Removed(path)) return kInvalidFileAttributes;
    return reading_.files.GetFileAttributesA(path);
}

int PlanningPlatform::SHFileOperationA(ShellFileOperation& request) {
    const std::string path = request.pFrom ? request.pFrom : "";
    Record("delete-folder", path, "flags " + Hex(request.fFlags));
    removed_.insert(Folded(path));
    return 0;
}

// What the run would find there: what it wrote, or what of the machine's it did not take away.
bool PlanningPlatform::Present(const std::string& path) { return GetFileAttributesA(path) != kInvalidFileAttributes; }

// Planned as the system would do it: only what is there moves, and never onto another.
unsigned long PlanningPlatform::MoveFileA(const std::string& from, const std::string& to) {
    if (!Present(from)) return kErrorFileNotFound;
    if (Present(to)) return kErrorAlreadyExists;
    Record("rename", from, to);
    const auto written = written_.find(Folded(from));
    if (written != written_.end()) {
        written_[Folded(to)] = written->second;
        written_.erase(Folded(from));
    } else if (std::string bytes; ReadAll(reading_.files, from, bytes)) {
        written_[Folded(to)] = bytes;
    }
    removed_.insert(Folded(from));
    removed_.erase(Folded(to));
    return kErrorSuccess;
}

// What the run took away is not there to be named.
bool PlanningPlatform::GetFileIdentity(const std::string& path, FileIdentity& identity) {
    return !Removed(path) && reading_.files.GetFileIdentity(path, identity);
}

bool PlanningPlatform::FindFirstFileA(const std::string& path, std::string& foundName) {
    return !Removed(path) && reading_.files.FindFirstFileA(path, foundName);
}

bool PlanningPlatform::CreateProcessA(const std::string& commandLine, bool, unsigned long, const StartupInfo& startup,
                                      ProcessInfo& info) {
    Record("run", commandLine, "", 0, startup.wShowWindow);
    if (commandLine.find("isuninst") != std::string::npos && !options_.logStays) {
        const std::string log = LogOf(commandLine);
        if (!log.empty()) {
            Record("remove-log", log, "by the InstallShield uninstaller (assumed)");
            removed_.insert(Folded(log));
            removedLogs_.insert(log);
        }
    }
    info.process = nextHandle_++;
    info.thread = nextHandle_++;
    return true;
}

unsigned long PlanningPlatform::WaitForSingleObject(Handle, unsigned long) { return kWaitObject0; }

bool PlanningPlatform::GetExitCodeProcess(Handle, unsigned long& exitCode) {
    exitCode = 0;
    return true;
}

bool PlanningPlatform::CloseHandle(Handle) { return true; }

long PlanningPlatform::OpenKey(const std::string& subKey, unsigned long, Handle& key) {
    key = 0;
    if (Removed("key:" + subKey)) return kErrorFileNotFound;
    const long status = reading_.registry.OpenKey(subKey, kKeyRead, key);
    if (status == kErrorSuccess) openKeys_[key] = subKey;
    return status;
}

long PlanningPlatform::CloseKey(Handle key) {
    openKeys_.erase(key);
    return reading_.registry.CloseKey(key);
}

long PlanningPlatform::QueryValue(Handle key, const std::string& name, char* data, unsigned long& size) {
    return reading_.registry.QueryValue(key, name, data, size);
}

long PlanningPlatform::SetValue(Handle key, const std::string& name, unsigned long, const char* data,
                                unsigned long size) {
    const auto open = openKeys_.find(key);
    Record("set-value", (open == openKeys_.end() ? std::string("?") : open->second) + "\\" + name,
           std::string(data, size))
        .value = std::string(data, size);
    return kErrorSuccess;
}

long PlanningPlatform::DeleteKey(const std::string& subKey) {
    Record("delete-key", subKey);
    removed_.insert(Folded("key:" + subKey));
    return kErrorSuccess;
}

unsigned long PlanningPlatform::GetLastError() { return lastError_ ? lastError_ : reading_.errors.GetLastError(); }

bool PlanningPlatform::FormatMessageA(unsigned long flags, unsigned long messageId, unsigned long languageId,
                                      std::string& text) {
    return reading_.errors.FormatMessageA(flags, messageId, languageId, text);
}

bool PlanningPlatform::FormatMessageW(unsigned long flags, unsigned long messageId, unsigned long languageId,
                                      std::u16string& text) {
    return reading_.errors.FormatMessageW(flags, messageId, languageId, text);
}

bool PlanningPlatform::IsDBCSLeadByte(unsigned char byte) { return reading_.codePage.IsDBCSLeadByte(byte); }

// Boxes that go through the framework are titled with the uninstaller's name, not ours.
std::string PlanningPlatform::GetModuleFileNameA() { return "QvUnInstall.exe"; }

unsigned PlanningPlatform::GetWindowsDirectoryA(char* buffer, unsigned size) {
    return reading_.system.GetWindowsDirectoryA(buffer, size);
}

bool PlanningPlatform::GetVersionExA(OsVersionInfo& info) { return reading_.system.GetVersionExA(info); }

bool PlanningPlatform::SHGetFolderPathA(int csidl, std::string& path) {
    return reading_.system.SHGetFolderPathA(csidl, path);
}

bool PlanningPlatform::GetProfilesDirectoryA(std::string& path) { return reading_.system.GetProfilesDirectoryA(path); }

bool PlanningPlatform::GetEnvironmentVariableA(const std::string& name, std::string& value) {
    return reading_.system.GetEnvironmentVariableA(name, value);
}

bool PlanningPlatform::GetShortPathNameA(const std::string& path, std::string& shortPath) {
    return reading_.system.GetShortPathNameA(path, shortPath);
}

bool PlanningPlatform::GetComputerNameA(std::string& name) { return reading_.system.GetComputerNameA(name); }

bool PlanningPlatform::GetSystemWindowsDirectoryA(std::string& path) {
    return reading_.system.GetSystemWindowsDirectoryA(path);
}

bool PlanningPlatform::GetFullPathNameA(const std::string& path, std::string& fullPath) {
    return reading_.system.GetFullPathNameA(path, fullPath);
}

bool PlanningPlatform::GetLongPathNameA(const std::string& path, std::string& longPath) {
    return !Removed(path) && reading_.system.GetLongPathNameA(path, longPath);
}

unsigned PlanningPlatform::GetDriveTypeA(const std::string& rootPath) { return reading_.system.GetDriveTypeA(rootPath); }

std::string PlanningPlatform::GetCommandLineA() { return reading_.system.GetCommandLineA(); }

unsigned long PlanningPlatform::GetTickCount() { return reading_.system.GetTickCount(); }

void PlanningPlatform::GetSystemTime(SystemTime& time) { reading_.system.GetSystemTime(time); }

HResult PlanningPlatform::CoInitialize() { return reading_.com.CoInitialize(); }

void PlanningPlatform::CoUninitialize() { reading_.com.CoUninitialize(); }

HResult PlanningPlatform::CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid,
                                           Metabase*& object) {
    Metabase* live = nullptr;
    const HResult result = reading_.com.CoCreateInstance(clsid, context, iid, live);
    object = result >= 0 && live ? new PlanningMetabase(*this, live) : nullptr;
    return object ? result : (result >= 0 ? static_cast<HResult>(0x80004003) : result);
}

void PlanningPlatform::Exit(int status) {
    Record("exit", std::to_string(status));
    throw PlannedExit{status};
}

int PlanningPlatform::RunModal(int, DialogHandler& handler) {
    PlanningWindow window(*this, steps_.size());
    handler.OnInitDialog(window);
    for (int tick = 0; !window.ended && tick < kTickLimit; ++tick) handler.OnTimer(window, 1);
    return window.result;
}

}  // namespace qv::check
