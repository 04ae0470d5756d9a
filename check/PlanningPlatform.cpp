#include "check/PlanningPlatform.h"

#include <algorithm>

#include "check/MemorySource.h"
#include "check/ReadOnly.h"
#include "text/PathText.h"
#include "text/Text.h"
#include "webserver/Metabase.h"

namespace qv::check {

namespace {

constexpr int kTickLimit = 100;  // a planned child ends at the first tick; this only stops a runaway

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
        plan_.Record(StepKind::MetabaseDeleteKey, KeyOf(handle) + Narrowed(path));
        return 0;
    }
    HResult SetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record) override {
        const std::u16string text = RecordText(record);
        Step& step = plan_.Record(StepKind::MetabaseSetData, KeyOf(handle) + Narrowed(path),
                                  "identifier " + std::to_string(record.identifier) + ": \"" + Narrowed(text) + "\"");
        step.value = Narrowed(text);
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
        if (result >= 0) keys_[opened] = KeyOf(handle) + Narrowed(path);
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
            if (plan_.steps_[i].kind == StepKind::Run) plan_.steps_[i].detail = title;
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

// The run starts where the preview stands; entering folders, it is followed there.
PlanningPlatform::PlanningPlatform(Platform& reading, PlanningOptions options)
    : reading_(reading),
      options_(std::move(options)),
      platform_{*this, *this, *this, *this, *this, reading.codePage, *this, *this, *this, *this} {
    startDirectory_ = Full(".");
}

PlanningPlatform::~PlanningPlatform() {
    if (moved_ && !startDirectory_.empty()) reading_.files.SetCurrentDirectoryA(startDirectory_);
}

Step& PlanningPlatform::Record(StepKind kind, std::string target, std::string detail, int answer, unsigned style) {
    steps_.push_back(Step{kind, std::move(target), std::move(detail), answer, style, piece_, {}, 0, {}, {}, {}, {}});
    return steps_.back();
}

Step& PlanningPlatform::RecordPath(StepKind kind, const std::string& path, std::string detail) {
    Step& step = Record(kind, path, std::move(detail));
    step.fullTarget = Full(path);
    return step;
}

std::string PlanningPlatform::Full(const std::string& path) {
    std::string full;
    return !path.empty() && reading_.system.GetFullPathNameA(path, full) ? full : std::string();
}

std::string PlanningPlatform::Where(const std::string& path) {
    const std::string full = Full(path);
    return ComparablePath(full.empty() ? path : full);
}

bool PlanningPlatform::Gone(const std::string& where) const {
    return std::any_of(removed_.begin(), removed_.end(),
                       [&](const std::string& gone) { return PathWithin(where, gone); });
}

int PlanningPlatform::Show(const std::string& text, const std::string& title, unsigned style) {
    int answer = kIdOk;
    if ((style & kMbTypeMask) == kMbYesNo) {
        answer = options_.answers.empty() ? options_.defaultAnswer : options_.answers.front();
        if (!options_.answers.empty()) options_.answers.pop_front();
    }
    Record(StepKind::Box, text, title, answer, style);
    return answer;
}

int PlanningPlatform::ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) {
    Record(StepKind::Box, Narrowed(text), Narrowed(title), kIdOk, style);
    return kIdOk;
}

std::unique_ptr<ByteSource> PlanningPlatform::OpenForReading(const std::string& path) {
    if (path == options_.listPath && !Removed(path)) return reading_.files.OpenForReading(options_.listFile);
    const auto written = written_.find(Where(path));
    if (written != written_.end()) return std::make_unique<MemorySource>(written->second);
    if (Removed(path)) return nullptr;
    return reading_.files.OpenForReading(path);
}

// Only what stands on the machine counts: a missing folder may be one the
// reading platform cannot see (an empty machine has none).
std::string PlanningPlatform::WriteFails(const std::string& path, unsigned long& error) {
    if (written_.count(Where(path))) return std::string();
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
        RecordPath(StepKind::WriteFile, path).fails = fails;
        lastError_ = error;
        return nullptr;
    }
    RecordPath(StepKind::WriteFile, path);
    const std::string key = Where(path);
    removed_.erase(key);
    written_[key].clear();
    return std::make_unique<PlannedFile>(*this, key);
}

bool PlanningPlatform::DeleteFileA(const std::string& path) {
    RecordPath(StepKind::DeleteFile, path);
    const std::string key = Where(path);
    written_.erase(key);
    removed_.insert(key);
    return true;
}

bool PlanningPlatform::RemoveDirectoryA(const std::string& path) {
    RecordPath(StepKind::RemoveFolder, path);
    removed_.insert(Where(path));
    return true;
}

// Entering a folder changes only this process; it is the uninstaller's test
// that the folder is there. The reading platform enters it too, so that what
// the run names relatively later is found, and made full, where the run stands.
bool PlanningPlatform::SetCurrentDirectoryA(const std::string& path) {
    const std::string full = Full(path);
    if (Removed(path) || !reading_.files.SetCurrentDirectoryA(path)) {
        Record(StepKind::Note, path, "is not there: taken as removed already");
        return false;
    }
    moved_ = true;
    Record(StepKind::CurrentDirectory, path).fullTarget = full;
    return true;
}

unsigned long PlanningPlatform::GetFileAttributesA(const std::string& path) {
    if (written_.count(Where(path))) return kFileAttributeNormal;
    if (Removed(path)) return kInvalidFileAttributes;
    return reading_.files.GetFileAttributesA(path);
}

int PlanningPlatform::SHFileOperationA(ShellFileOperation& request) {
    const std::string path = request.pFrom ? request.pFrom : "";
    RecordPath(StepKind::DeleteFolder, path, "flags " + Hex(request.fFlags));
    removed_.insert(Where(path));
    return 0;
}

bool PlanningPlatform::ListSubfolders(const std::string& folder, std::vector<std::string>& names) {
    if (Removed(folder) || !reading_.files.ListSubfolders(folder, names)) return false;
    const std::string parent = folder.empty() || folder.back() == '\\' ? folder : folder + "\\";
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const std::string& name) { return Removed(parent + name); }),
                names.end());
    return true;
}

// What the run would find there: what it wrote, or what of the machine's it did not take away.
bool PlanningPlatform::Present(const std::string& path) { return GetFileAttributesA(path) != kInvalidFileAttributes; }

// Planned as the system would do it: only what is there moves, and never onto another.
unsigned long PlanningPlatform::MoveFileA(const std::string& from, const std::string& to) {
    if (!Present(from)) return kErrorFileNotFound;
    if (Present(to)) return kErrorAlreadyExists;
    RecordPath(StepKind::Rename, from, to).fullDetail = Full(to);
    const std::string source = Where(from), target = Where(to);
    const auto written = written_.find(source);
    if (written != written_.end()) {
        written_[target] = written->second;
        written_.erase(written);
    } else if (std::string bytes; ReadAll(reading_.files, from, bytes)) {
        written_[target] = bytes;
    }
    removed_.insert(source);
    removed_.erase(target);
    return kErrorSuccess;
}

bool PlanningPlatform::CreateProcessA(const std::string& commandLine, bool, unsigned long, const StartupInfo& startup,
                                      ProcessInfo& info) {
    Record(StepKind::Run, commandLine, "", 0, startup.wShowWindow);
    if (commandLine.find("isuninst") != std::string::npos && !options_.logStays) {
        const std::string log = LogOf(commandLine);
        if (!log.empty()) {
            RecordPath(StepKind::RemoveLog, log, "by the InstallShield uninstaller (assumed)");
            removed_.insert(Where(log));
            removedLogs_.insert(log);
        }
    }
    info.process = nextHandle_++;
    info.thread = nextHandle_++;
    return true;
}

long PlanningPlatform::OpenKey(const std::string& subKey, unsigned long, Handle& key) {
    key = 0;
    if (Gone(ComparablePath("key:" + subKey))) return kErrorFileNotFound;
    const long status = reading_.registry.OpenKey(subKey, kKeyRead, key);
    if (status == kErrorSuccess) openKeys_[key] = subKey;
    return status;
}

long PlanningPlatform::CloseKey(Handle key) {
    openKeys_.erase(key);
    return reading_.registry.CloseKey(key);
}

long PlanningPlatform::SetValue(Handle key, const std::string& name, unsigned long, const char* data,
                                unsigned long size) {
    const auto open = openKeys_.find(key);
    Record(StepKind::SetValue, (open == openKeys_.end() ? std::string("?") : open->second) + "\\" + name,
           std::string(data, size))
        .value = std::string(data, size);
    return kErrorSuccess;
}

long PlanningPlatform::DeleteKey(const std::string& subKey) {
    Record(StepKind::DeleteKey, subKey);
    removed_.insert(ComparablePath("key:" + subKey));
    return kErrorSuccess;
}

HResult PlanningPlatform::CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid,
                                           Metabase*& object) {
    Metabase* live = nullptr;
    const HResult result = reading_.com.CoCreateInstance(clsid, context, iid, live);
    object = result >= 0 && live ? new PlanningMetabase(*this, live) : nullptr;
    return object ? result : (result >= 0 ? kEPointer : result);
}

void PlanningPlatform::Exit(int status) {
    Record(StepKind::Exit, std::to_string(status));
    throw PlannedExit{status};
}

int PlanningPlatform::RunModal(int, DialogHandler& handler) {
    PlanningWindow window(*this, steps_.size());
    handler.OnInitDialog(window);
    for (int tick = 0; !window.ended && tick < kTickLimit; ++tick) handler.OnTimer(window, 1);
    return window.result;
}

}  // namespace qv::check
