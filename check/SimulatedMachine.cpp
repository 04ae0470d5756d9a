#include "check/SimulatedMachine.h"

#include <algorithm>
#include <utility>

#include "check/MemorySource.h"
#include "check/ReadOnly.h"
#include "platform/FullPathModel.h"
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
class SimulatedFile : public ByteSink {
public:
    SimulatedFile(SimulatedMachine& plan, std::string key) : plan_(plan), key_(std::move(key)) {}
    bool Write(const char* data, std::size_t size) override {
        plan_.written_[key_].append(data, size);
        return true;
    }
    bool Close() override { return true; }

private:
    SimulatedMachine& plan_;
    std::string key_;
};

// The live metabase, read but never changed.
class SimulatedMetabase final : public ForwardingMetabase {
public:
    explicit SimulatedMetabase(Metabase* live) : ForwardingMetabase(live) {}
    HResult DeleteKey(MetadataHandle, const std::u16string&) override { return 0; }
    HResult SetData(MetadataHandle, const std::u16string&, MetadataRecord&) override { return 0; }
    HResult OpenKey(MetadataHandle handle, const std::u16string& path, unsigned long, unsigned long timeout,
                    MetadataHandle& opened) override {
        return lower_->OpenKey(handle, path, kMetadataPermissionRead, timeout, opened);
    }

private:
    ~SimulatedMetabase() override = default;
};

// The progress dialog without a window: its caption goes to the command it shows.
class SimulatedWindow : public DialogWindow {
public:
    explicit SimulatedWindow(SimulatedMachine& machine) : machine_(machine) {}
    void SetTitle(const std::string& title) override {
        if (machine_.onCaption) machine_.onCaption(title);
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
    SimulatedMachine& machine_;
};

// The run starts where the preview stands; entering folders, it is followed there.
SimulatedMachine::SimulatedMachine(Platform& reading, PlanningOptions options)
    : ForwardingPlatform(reading), options_(std::move(options)) {
    startDirectory_ = Full(".");
}

SimulatedMachine::~SimulatedMachine() {
    if (moved_ && !startDirectory_.empty()) lower_.files.SetCurrentDirectoryA(startDirectory_);
}

std::string SimulatedMachine::TakeFailure() { return std::exchange(failure_, std::string()); }

std::vector<Step> SimulatedMachine::TakeAssumed() { return std::exchange(assumed_, std::vector<Step>()); }

std::string SimulatedMachine::Full(const std::string& path) {
    std::string full;
    return !path.empty() && lower_.system.GetFullPathNameA(path, full) ? full : std::string();
}

std::string SimulatedMachine::Where(const std::string& path) {
    const std::string full = Full(path);
    return ComparablePath(full.empty() ? path : full);
}

bool SimulatedMachine::Gone(const std::string& where) const {
    return std::any_of(removed_.begin(), removed_.end(),
                       [&](const std::string& gone) { return PathWithin(where, gone); });
}

int SimulatedMachine::Show(const std::string&, const std::string&, unsigned style) {
    int answer = kIdOk;
    if ((style & kMbTypeMask) == kMbYesNo) {
        answer = options_.answers.empty() ? options_.defaultAnswer : options_.answers.front();
        if (!options_.answers.empty()) options_.answers.pop_front();
    }
    return answer;
}

std::unique_ptr<ByteSource> SimulatedMachine::OpenForReading(const std::string& path) {
    if (path == options_.listPath && !Removed(path)) return lower_.files.OpenForReading(options_.listFile);
    const auto written = written_.find(Where(path));
    if (written != written_.end()) return std::make_unique<MemorySource>(written->second);
    if (Removed(path)) return nullptr;
    return lower_.files.OpenForReading(path);
}

// Only what stands on the machine counts: a missing folder may be one the
// reading platform cannot see (an empty machine has none).
std::string SimulatedMachine::WriteFails(const std::string& path, unsigned long& error) {
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
        const unsigned long above = lower_.files.GetFileAttributesA(folder);
        if (above != kInvalidFileAttributes && !(above & kFileAttributeDirectory))
            return "a file stands at " + folder + ", where a folder should be";
    }
    return std::string();
}

std::unique_ptr<ByteSink> SimulatedMachine::OpenForWriting(const std::string& path) {
    unsigned long error = 0;
    const std::string fails = WriteFails(path, error);
    if (!fails.empty()) {
        failure_ = fails;
        lastError_ = error;
        return nullptr;
    }
    const std::string key = Where(path);
    removed_.erase(key);
    written_[key].clear();
    return std::make_unique<SimulatedFile>(*this, key);
}

bool SimulatedMachine::DeleteFileA(const std::string& path) {
    const std::string key = Where(path);
    written_.erase(key);
    removed_.insert(key);
    return true;
}

bool SimulatedMachine::RemoveDirectoryA(const std::string& path) {
    removed_.insert(Where(path));
    return true;
}

// Entering a folder changes only this process; it is the uninstaller's test
// that the folder is there. The reading platform enters it too, so that what
// the run names relatively later is found, and made full, where the run stands.
bool SimulatedMachine::SetCurrentDirectoryA(const std::string& path) {
    if (Removed(path) || !lower_.files.SetCurrentDirectoryA(path)) {
        failure_ = "is not there: taken as removed already";
        return false;
    }
    moved_ = true;
    return true;
}

unsigned long SimulatedMachine::GetFileAttributesA(const std::string& path) {
    if (written_.count(Where(path))) return kFileAttributeNormal;
    if (Removed(path)) return kInvalidFileAttributes;
    return lower_.files.GetFileAttributesA(path);
}

int SimulatedMachine::SHFileOperationA(ShellFileOperation& request) {
    const std::string path = request.pFrom ? request.pFrom : "";
    removed_.insert(Where(path));
    return 0;
}

bool SimulatedMachine::ListSubfolders(const std::string& folder, std::vector<std::string>& names) {
    if (Removed(folder) || !lower_.files.ListSubfolders(folder, names)) return false;
    const std::string parent = folder.empty() || folder.back() == '\\' ? folder : folder + "\\";
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const std::string& name) { return Removed(parent + name); }),
                names.end());
    return true;
}

// Planned as the system would do it: only what is there moves, and never onto another.
unsigned long SimulatedMachine::MoveFileA(const std::string& from, const std::string& to) {
    if (!Present(from)) return kErrorFileNotFound;
    if (Present(to)) return kErrorAlreadyExists;
    const std::string source = Where(from), target = Where(to);
    const auto written = written_.find(source);
    if (written != written_.end()) {
        written_[target] = written->second;
        written_.erase(written);
    } else if (std::string bytes; ReadAll(lower_.files, from, bytes)) {
        written_[target] = bytes;
    }
    removed_.insert(source);
    removed_.erase(target);
    return kErrorSuccess;
}

namespace {

// The program file a command line names by its full path, as the system
// takes it from the line: up to the closing quote, or to the first blank.
// Empty for a bare name (looked for as the system looks, and taken to be
// found) and for a name the system may read otherwise (no ".exe" of its
// own, a control byte in it).
std::string ProgramFileNamed(const std::string& commandLine) {
    const bool quoted = !commandLine.empty() && commandLine[0] == '"';
    const std::size_t end = quoted ? commandLine.find('"', 1) : commandLine.find_first_of(" \t");
    const std::string name = commandLine.substr(quoted ? 1 : 0, end == std::string::npos ? end : end - (quoted ? 1 : 0));
    const bool full = IsFullPath(name) && name[1] == ':';  // on a drive: nothing on the network is looked at
    const bool plain = std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    return full && plain && EndsWith(FoldedCase(name), ".EXE") ? name : std::string();
}

}  // namespace

bool SimulatedMachine::CreateProcessA(const std::string& commandLine, bool, unsigned long, const StartupInfo&,
                                      ProcessInfo& info) {
    const std::string program = options_.machine ? ProgramFileNamed(commandLine) : std::string();
    if (!program.empty() && !Present(program)) {
        const std::string folder = program.substr(0, program.find_last_of("\\/"));
        lastError_ = Present(folder) ? kErrorFileNotFound : kErrorPathNotFound;
        failure_ = "the program file " + program + " is not there";
        return false;
    }
    if (commandLine.find("isuninst") != std::string::npos && !options_.logStays) {
        const std::string log = LogOf(commandLine);
        if (!log.empty()) {
            Step removal;
            removal.kind = StepKind::RemoveLog;
            removal.target = log;
            removal.detail = "by the InstallShield uninstaller (assumed)";
            removal.fullTarget = Full(log);
            assumed_.push_back(removal);
            removed_.insert(Where(log));
            removedLogs_.insert(log);
        }
    }
    info.process = nextHandle_++;
    info.thread = nextHandle_++;
    return true;
}

long SimulatedMachine::OpenKey(const std::string& subKey, unsigned long, Handle& key) {
    key = 0;
    if (Gone(ComparablePath("key:" + subKey))) return kErrorFileNotFound;
    return lower_.registry.OpenKey(subKey, kKeyRead, key);
}

long SimulatedMachine::DeleteKey(const std::string& subKey) {
    removed_.insert(ComparablePath("key:" + subKey));
    return kErrorSuccess;
}

HResult SimulatedMachine::CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid,
                                           Metabase*& object) {
    Metabase* live = nullptr;
    const HResult result = lower_.com.CoCreateInstance(clsid, context, iid, live);
    object = result >= 0 && live ? new SimulatedMetabase(live) : nullptr;
    return object ? result : (result >= 0 ? kEPointer : result);
}

void SimulatedMachine::Exit(int status) {
    throw PlannedExit{status};
}

int SimulatedMachine::RunModal(int, DialogHandler& handler) {
    SimulatedWindow window(*this);
    handler.OnInitDialog(window);
    for (int tick = 0; !window.ended && tick < kTickLimit; ++tick) handler.OnTimer(window, 1);
    return window.result;
}

}  // namespace qv::check
