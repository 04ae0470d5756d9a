#include "record/Recorder.h"

#include <cstdlib>

#include "text/PathText.h"
#include "text/Text.h"
#include "uninstall/CleanupState.h"
#include "webserver/Metabase.h"

namespace qv {

namespace {

Step Named(StepKind kind, std::string target, std::string detail = std::string()) {
    Step step;
    step.kind = kind;
    step.target = std::move(target);
    step.detail = std::move(detail);
    return step;
}

// The button a box that nobody sees is taken to be answered with: OK where
// that is all it offers, No to a question (its step is then skipped, as a
// silent run skips it), else Cancel.
int QuietAnswer(unsigned style) {
    const unsigned type = style & kMbTypeMask;
    return type == kMbOk ? kIdOk : type == kMbYesNo ? kIdNo : kIdCancel;
}

// A removal that finds nothing to remove has the state it wanted.
Outcome OutcomeOf(bool done, bool removal, unsigned long error) {
    return done ? Outcome::Done : removal && IsNotFound(error) ? Outcome::AlreadyGone : Outcome::Failed;
}

}  // namespace

// A file written (obj.conf, its copy): done once it is whole and closed.
class RecordedFile : public ByteSink {
public:
    RecordedFile(Recorder& recorder, std::unique_ptr<ByteSink> file, Step step)
        : recorder_(recorder), file_(std::move(file)), step_(std::move(step)) {}
    ~RecordedFile() override { Close(); }
    bool Write(const char* data, std::size_t size) override {
        if (file_->Write(data, size)) return true;
        if (!failed_) error_ = recorder_.lower_.errors.GetLastError();
        failed_ = true;
        return false;
    }
    bool Close() override {
        if (closed_) return closedWell_;
        closed_ = true;
        closedWell_ = file_->Close();
        if (!closedWell_ && !failed_) error_ = recorder_.lower_.errors.GetLastError();
        const bool done = !failed_ && closedWell_;
        recorder_.Took({step_, done ? Outcome::Done : Outcome::Failed, done ? 0 : error_, 0});
        return closedWell_;
    }

private:
    Recorder& recorder_;
    std::unique_ptr<ByteSink> file_;
    Step step_;
    bool failed_ = false, closed_ = false, closedWell_ = false;
    unsigned long error_ = 0;
};

// The IIS Admin Base Object, its two changes recorded by the key they were made under.
class RecordedMetabase final : public ForwardingMetabase {
public:
    RecordedMetabase(Recorder& recorder, Metabase* lower) : ForwardingMetabase(lower), recorder_(recorder) {}
    HResult DeleteKey(MetadataHandle handle, const std::u16string& path) override {
        const HResult result = lower_->DeleteKey(handle, path);
        const unsigned long error = result >= 0 ? 0 : MessageIdOf(result);
        recorder_.Took({Named(StepKind::MetabaseDeleteKey, KeyOf(handle) + Narrowed(path)),
                        OutcomeOf(result >= 0, true, error), error, 0});
        return result;
    }
    HResult SetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record) override {
        Step step = Named(StepKind::MetabaseSetData, KeyOf(handle) + Narrowed(path));
        step.value = Narrowed(RecordText(record));
        step.identifier = record.identifier;
        step.detail = "identifier " + std::to_string(record.identifier) + ": \"" + step.value + "\"";
        const HResult result = lower_->SetData(handle, path, record);
        recorder_.Took({step, result >= 0 ? Outcome::Done : Outcome::Failed, result >= 0 ? 0 : MessageIdOf(result), 0});
        return result;
    }
    HResult OpenKey(MetadataHandle handle, const std::u16string& path, unsigned long access, unsigned long timeout,
                    MetadataHandle& opened) override {
        const HResult result = lower_->OpenKey(handle, path, access, timeout, opened);
        if (result >= 0) keys_[opened] = KeyOf(handle) + Narrowed(path);
        return result;
    }
    HResult CloseKey(MetadataHandle handle) override {
        keys_.erase(handle);
        return lower_->CloseKey(handle);
    }

private:
    ~RecordedMetabase() override = default;
    std::string KeyOf(MetadataHandle handle) const {
        const auto key = keys_.find(handle);
        return key == keys_.end() ? std::string() : key->second;
    }
    Recorder& recorder_;
    std::map<MetadataHandle, std::string> keys_;
};

// The driver's word on each list line, passed on to the recorder.
class RecordedLines : public ListObserver {
public:
    explicit RecordedLines(Recorder& recorder) : recorder_(recorder) {}
    void OnPiece(int row, const std::string& piece) override { recorder_.PieceRead(row, piece); }
    void OnPieceDone(const CleanupState& state) override { recorder_.sink_.PieceDone(state); }
    void OnCleanup() override { recorder_.CleanupBegins(); }

private:
    Recorder& recorder_;
};

Recorder::Recorder(Platform& lower, RecordSink& sink)
    : ForwardingPlatform(lower), sink_(sink), lines_(std::make_unique<RecordedLines>(*this)) {}

Recorder::~Recorder() = default;

Step Recorder::PathStep(StepKind kind, const std::string& path) {
    Step step = Named(kind, path);
    std::string full;
    if (sink_.Recording() && !path.empty() && lower_.system.GetFullPathNameA(path, full)) step.fullTarget = full;
    return step;
}

void Recorder::Took(const Recorded& recorded) {
    if (!sink_.Recording()) return;
    const unsigned long error = lower_.errors.GetLastError();
    sink_.Took(recorded);
    lower_.errors.SetLastError(error);
}

void Recorder::Changed(Step step, bool done, bool removal) {
    if (!sink_.Recording()) return;
    const unsigned long error = done ? 0 : lower_.errors.GetLastError();
    Took({std::move(step), OutcomeOf(done, removal, error), error, 0});
}

void Recorder::PieceRead(int row, const std::string& piece) {
    // The driver takes the piece as a C string: obj.conf's path ends at a NUL.
    configPath_ = row == kRowNetscapeConfig ? WithoutLineFeed(piece.substr(0, piece.find('\0'))) : std::string();
    sink_.Piece(line_, piece_, row, piece);
    if (!piece.empty() && piece.back() == '\n') {
        ++line_;
        piece_ = 1;
    } else {
        ++piece_;
    }
}

void Recorder::CleanupBegins() {
    configPath_.clear();
    sink_.CleanupBegins();
}

// A quiet run shows no box: each is taken as answered, and recorded so.
int Recorder::Shown(const std::string& text, const std::string& title, unsigned style,
                    const std::function<int()>& show) {
    const bool quiet = sink_.Quiet();
    Step box = Named(StepKind::Box, text, title);
    box.answer = quiet ? QuietAnswer(style) : show();
    box.style = style;
    Took({box, quiet ? Outcome::NotShown : Outcome::Answered, 0, 0});
    return box.answer;
}

int Recorder::Show(const std::string& text, const std::string& title, unsigned style) {
    return Shown(text, title, style, [&] { return lower_.boxes.Show(text, title, style); });
}

int Recorder::ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) {
    return Shown(Narrowed(text), Narrowed(title), style, [&] { return lower_.boxes.ShowWide(text, title, style); });
}

std::unique_ptr<ByteSink> Recorder::OpenForWriting(const std::string& path) {
    const bool config = !configPath_.empty() && SamePath(path, configPath_);
    Step step = PathStep(config ? StepKind::RewriteConfig : StepKind::WriteFile, path);
    std::unique_ptr<ByteSink> file = lower_.files.OpenForWriting(path);
    if (!file) {
        Changed(std::move(step), false, false);
        return nullptr;
    }
    if (!sink_.Recording()) return file;
    return std::make_unique<RecordedFile>(*this, std::move(file), std::move(step));
}

bool Recorder::DeleteFileA(const std::string& path) {
    Step step = PathStep(StepKind::DeleteFile, path);
    const bool done = lower_.files.DeleteFileA(path);
    Changed(std::move(step), done, true);
    return done;
}

bool Recorder::RemoveDirectoryA(const std::string& path) {
    Step step = PathStep(StepKind::RemoveFolder, path);
    const bool done = lower_.files.RemoveDirectoryA(path);
    Changed(std::move(step), done, true);
    return done;
}

bool Recorder::SetCurrentDirectoryA(const std::string& path) {
    Step step = PathStep(StepKind::CurrentDirectory, path);
    const bool done = lower_.files.SetCurrentDirectoryA(path);
    Changed(std::move(step), done, false);
    return done;
}

int Recorder::SHFileOperationA(ShellFileOperation& request) {
    Step step = PathStep(StepKind::DeleteFolder, request.pFrom ? request.pFrom : "");
    step.detail = "flags " + Hex(request.fFlags);
    const int result = lower_.files.SHFileOperationA(request);
    const unsigned long error = static_cast<unsigned long>(result);
    Took({std::move(step), OutcomeOf(result == 0, true, error), error, 0});
    return result;
}

unsigned long Recorder::MoveFileA(const std::string& from, const std::string& to) {
    Step step = PathStep(StepKind::Rename, from);
    step.detail = to;
    if (sink_.Recording() && !lower_.system.GetFullPathNameA(to, step.fullDetail)) step.fullDetail.clear();
    const unsigned long status = lower_.files.MoveFileA(from, to);
    // Nothing there, or a name already taken, is the caller's to deal with: it tries the next.
    if (status != kErrorFileNotFound && status != kErrorAlreadyExists && status != kErrorFileExists)
        Took({std::move(step), status == kErrorSuccess ? Outcome::Done : Outcome::Failed, status, 0});
    return status;
}

bool Recorder::CreateProcessA(const std::string& commandLine, bool inheritHandles, unsigned long creationFlags,
                              const StartupInfo& startup, ProcessInfo& info) {
    Step run = Named(StepKind::Run, commandLine);
    run.style = startup.wShowWindow;
    if (!lower_.processes.CreateProcessA(commandLine, inheritHandles, creationFlags, startup, info)) {
        Took({run, Outcome::CannotRun, lower_.errors.GetLastError(), 0});
        return false;
    }
    command_ = Command{run, info.process, lower_.system.GetTickCount(), false};
    Took({run, Outcome::Started, 0, 0});
    return true;
}

unsigned long Recorder::WaitForSingleObject(Handle process, unsigned long milliseconds) {
    const unsigned long result = lower_.processes.WaitForSingleObject(process, milliseconds);
    if (result == kWaitObject0 && process == command_.process && command_.process != 0 && !command_.ended) {
        command_.ended = true;
        Took({command_.step, Outcome::Ended, 0, lower_.system.GetTickCount() - command_.started});
    }
    return result;
}

long Recorder::OpenKey(const std::string& subKey, unsigned long access, Handle& key) {
    const long status = lower_.registry.OpenKey(subKey, access, key);
    if (status == kErrorSuccess) keys_[key] = subKey;
    return status;
}

long Recorder::CloseKey(Handle key) {
    keys_.erase(key);
    return lower_.registry.CloseKey(key);
}

long Recorder::SetValue(Handle key, const std::string& name, unsigned long type, const char* data,
                        unsigned long size) {
    const long status = lower_.registry.SetValue(key, name, type, data, size);
    const auto open = keys_.find(key);
    Step step = Named(StepKind::SetValue, (open == keys_.end() ? std::string("?") : open->second) + "\\" + name,
                      std::string(data, size));
    step.value = step.detail;
    Took({step, status == kErrorSuccess ? Outcome::Done : Outcome::Failed, static_cast<unsigned long>(status), 0});
    return status;
}

long Recorder::DeleteKey(const std::string& subKey) {
    const long status = lower_.registry.DeleteKey(subKey);
    const unsigned long error = static_cast<unsigned long>(status);
    Took({Named(StepKind::DeleteKey, subKey), OutcomeOf(status == kErrorSuccess, true, error), error, 0});
    return status;
}

HResult Recorder::CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid, Metabase*& object) {
    const HResult result = lower_.com.CoCreateInstance(clsid, context, iid, object);
    if (result >= 0 && object && sink_.Recording()) object = new RecordedMetabase(*this, object);
    return result;
}

void Recorder::Exit(int status) {
    lower_.runtime.Exit(sink_.Exiting(status, std::string()));
    std::abort();  // never reached: the exit below does not return
}

// A wait the user ends leaves the program running; the sink is told so.
int Recorder::RunModal(int templateId, DialogHandler& handler) {
    command_ = Command();
    const int result = lower_.dialogs.RunModal(templateId, handler);
    if (command_.process != 0 && !command_.ended)
        Took({command_.step, Outcome::WaitEnded, 0, lower_.system.GetTickCount() - command_.started});
    command_ = Command();
    return result;
}

}  // namespace qv
