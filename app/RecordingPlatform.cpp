#include "app/RecordingPlatform.h"

#include <cstdio>
#include <cstdlib>

#include "text/PathText.h"
#include "text/Text.h"
#include "uninstall/ClosingCleanup.h"
#include "uninstall/StepKind.h"
#include "webserver/Metabase.h"

namespace qv {

namespace {

// The kind's name and the blank before its target.
std::string Kind(StepKind kind) { return std::string(StepKindName(kind)) + " "; }

const char* Answer(int answer) {
    switch (answer) {
    case kIdYes: return "yes";
    case kIdNo: return "no";
    case kIdCancel: return "cancel";
    default: return "ok";
    }
}

std::string Seconds(unsigned long milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lu.%lu s", milliseconds / 1000, milliseconds % 1000 / 100);
    return text;
}

}  // namespace

// The file written (obj.conf, its copy): done once it is whole and closed.
class RecordedSink : public ByteSink {
public:
    RecordedSink(RecordingPlatform& recorder, std::unique_ptr<ByteSink> sink, std::string what)
        : recorder_(recorder), sink_(std::move(sink)), what_(std::move(what)) {}
    ~RecordedSink() override { Close(); }
    bool Write(const char* data, std::size_t size) override {
        if (sink_->Write(data, size)) return true;
        if (!failed_) error_ = recorder_.real_.errors.GetLastError();
        failed_ = true;
        return false;
    }
    bool Close() override {
        if (closed_) return closed_ok_;
        closed_ = true;
        closed_ok_ = sink_->Close();
        if (!closed_ok_ && !failed_) error_ = recorder_.real_.errors.GetLastError();
        recorder_.Change(what_, !failed_ && closed_ok_, error_);
        return closed_ok_;
    }

private:
    RecordingPlatform& recorder_;
    std::unique_ptr<ByteSink> sink_;
    std::string what_;
    bool failed_ = false, closed_ = false, closed_ok_ = false;
    unsigned long error_ = 0;
};

// The IIS Admin Base Object, its two changes recorded.
class RecordingMetabase final : public Metabase {
public:
    RecordingMetabase(RecordingPlatform& recorder, Metabase* real) : recorder_(recorder), real_(real) {}
    unsigned long Release() override {
        const unsigned long left = real_->Release();
        delete this;
        return left;
    }
    HResult DeleteKey(MetadataHandle handle, const std::u16string& path) override {
        const HResult result = real_->DeleteKey(handle, path);
        recorder_.Change(Kind(StepKind::MetabaseDeleteKey) + KeyOf(handle) + Narrowed(path), result >= 0, MessageIdOf(result));
        return result;
    }
    HResult SetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record) override {
        const std::u16string text = RecordText(record);
        const HResult result = real_->SetData(handle, path, record);
        recorder_.Change(Kind(StepKind::MetabaseSetData) + KeyOf(handle) + Narrowed(path) + " identifier " +
                             std::to_string(record.identifier) + " -> \"" + Visible(Narrowed(text)) + "\"",
                         result >= 0, MessageIdOf(result));
        return result;
    }
    HResult GetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record,
                    unsigned long& requiredLength) override {
        return real_->GetData(handle, path, record, requiredLength);
    }
    HResult OpenKey(MetadataHandle handle, const std::u16string& path, unsigned long access, unsigned long timeout,
                    MetadataHandle& opened) override {
        const HResult result = real_->OpenKey(handle, path, access, timeout, opened);
        if (result >= 0) keys_[opened] = KeyOf(handle) + Narrowed(path);
        return result;
    }
    HResult CloseKey(MetadataHandle handle) override {
        keys_.erase(handle);
        return real_->CloseKey(handle);
    }

private:
    ~RecordingMetabase() = default;
    std::string KeyOf(MetadataHandle handle) const {
        const auto key = keys_.find(handle);
        return key == keys_.end() ? std::string() : key->second;
    }
    RecordingPlatform& recorder_;
    Metabase* real_;
    std::map<MetadataHandle, std::string> keys_;
};

namespace {

// The driver's word on each list line, passed on to the recorder.
class LineWatch : public ListObserver {
public:
    explicit LineWatch(RecordingPlatform& recorder) : recorder_(recorder) {}
    void OnPiece(int row, const std::string& piece) override { recorder_.LineRead(row, piece); }
    void OnPieceDone(const CleanupState&) override {}
    void OnCleanup() override { recorder_.CleanupBegins(); }

private:
    RecordingPlatform& recorder_;
};

}  // namespace

RecordingPlatform::RecordingPlatform(Platform& real, RunLog& log)
    : real_(real),
      log_(log),
      platform_{*this, *this, *this, *this, real.errors, real.codePage, real.system, *this, *this, *this},
      lines_(std::make_unique<LineWatch>(*this)) {}

RecordingPlatform::~RecordingPlatform() = default;

void RecordingPlatform::Change(const std::string& what, bool done, unsigned long error) {
    if (!log_.Recording()) return;
    log_.Write(what + (done ? ": done" : ": failed: " + log_.ErrorText(error)));
}

void RecordingPlatform::ChangeKeepingLastError(const std::string& what, bool done) {
    if (!log_.Recording()) return;
    const unsigned long error = done ? 0 : real_.errors.GetLastError();
    Change(what, done, error);
    if (!done) real_.errors.SetLastError(error);  // the box the logic shows next names this error
}

void RecordingPlatform::LineRead(int row, const std::string& piece) {
    row_ = row;
    configPath_ = row == kRowNetscapeConfig ? WithoutLineFeed(piece.substr(0, piece.find('\0'))) : std::string();
    log_.Write("line " + std::to_string(line_) + (piece_ > 1 ? " piece " + std::to_string(piece_) : "") + ", row " +
               std::to_string(row) + " " + RowName(row) + ": " + Visible(piece));
    if (!piece.empty() && piece.back() == '\n') {
        ++line_;
        piece_ = 1;
    } else {
        ++piece_;
    }
}

void RecordingPlatform::CleanupBegins() {
    row_ = 0;
    configPath_.clear();
    log_.Write("closing clean-up");
}

int RecordingPlatform::Show(const std::string& text, const std::string& title, unsigned style) {
    const int answer = real_.boxes.Show(text, title, style);
    if (text == kUninstallAborted || text == kUninstallCompleted) log_.SetOutcome(text);
    log_.Write(Kind(StepKind::Box) + "[" + title + "] \"" + Visible(text) + "\" -> " + Answer(answer));
    return answer;
}

int RecordingPlatform::ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) {
    const int answer = real_.boxes.ShowWide(text, title, style);
    log_.Write(Kind(StepKind::Box) + "[" + Narrowed(title) + "] \"" + Visible(Narrowed(text)) + "\" -> " + Answer(answer));
    return answer;
}

std::unique_ptr<ByteSource> RecordingPlatform::OpenForReading(const std::string& path) {
    return real_.files.OpenForReading(path);
}

std::unique_ptr<ByteSink> RecordingPlatform::OpenForWriting(const std::string& path) {
    const std::string what = Kind(!configPath_.empty() && SamePath(path, configPath_) ? StepKind::RewriteConfig : StepKind::WriteFile) + path;
    std::unique_ptr<ByteSink> sink = real_.files.OpenForWriting(path);
    if (!sink) {
        ChangeKeepingLastError(what, false);
        return nullptr;
    }
    if (!log_.Recording()) return sink;
    return std::make_unique<RecordedSink>(*this, std::move(sink), what);
}

bool RecordingPlatform::DeleteFileA(const std::string& path) {
    const bool done = real_.files.DeleteFileA(path);
    ChangeKeepingLastError(Kind(StepKind::DeleteFile) + path, done);
    return done;
}

bool RecordingPlatform::RemoveDirectoryA(const std::string& path) {
    const bool done = real_.files.RemoveDirectoryA(path);
    ChangeKeepingLastError(Kind(StepKind::RemoveFolder) + path, done);
    return done;
}

bool RecordingPlatform::SetCurrentDirectoryA(const std::string& path) {
    const bool done = real_.files.SetCurrentDirectoryA(path);
    ChangeKeepingLastError(Kind(StepKind::CurrentDirectory) + path, done);
    return done;
}

int RecordingPlatform::SHFileOperationA(ShellFileOperation& request) {
    const int result = real_.files.SHFileOperationA(request);
    Change(Kind(StepKind::DeleteFolder) + std::string(request.pFrom ? request.pFrom : ""), result == 0,
           static_cast<unsigned long>(result));
    return result;
}

unsigned long RecordingPlatform::GetFileAttributesA(const std::string& path) {
    return real_.files.GetFileAttributesA(path);
}

unsigned long RecordingPlatform::MoveFileA(const std::string& from, const std::string& to) {
    const unsigned long status = real_.files.MoveFileA(from, to);
    // Nothing there, or a name already taken, is the caller's to deal with: it tries the next.
    if (status != kErrorFileNotFound && status != kErrorAlreadyExists && status != kErrorFileExists)
        Change(Kind(StepKind::Rename) + from + " -> " + to, status == kErrorSuccess, status);
    return status;
}

bool RecordingPlatform::GetFileIdentity(const std::string& path, FileIdentity& identity) {
    return real_.files.GetFileIdentity(path, identity);
}

bool RecordingPlatform::FindFirstFileA(const std::string& path, std::string& foundName) {
    return real_.files.FindFirstFileA(path, foundName);
}

bool RecordingPlatform::GetFinalPathName(const std::string& path, std::string& finalPath) {
    return real_.files.GetFinalPathName(path, finalPath);
}

bool RecordingPlatform::ListSubfolders(const std::string& folder, std::vector<std::string>& names) {
    return real_.files.ListSubfolders(folder, names);
}

std::unique_ptr<ByteSink> RecordingPlatform::OpenForAppending(const std::string& path) {
    return real_.files.OpenForAppending(path);
}

bool RecordingPlatform::CreateProcessA(const std::string& commandLine, bool inheritHandles,
                                       unsigned long creationFlags, const StartupInfo& startup, ProcessInfo& info) {
    const bool started = real_.processes.CreateProcessA(commandLine, inheritHandles, creationFlags, startup, info);
    if (!started) {
        const unsigned long error = real_.errors.GetLastError();
        log_.Write(Kind(StepKind::Run) + Visible(commandLine) + ": Cannot run: " + log_.ErrorText(error));
        real_.errors.SetLastError(error);
        return false;
    }
    command_ = Command{info.process, commandLine, real_.system.GetTickCount(), false};
    log_.Write(Kind(StepKind::Run) + Visible(commandLine) + ": started");
    return true;
}

unsigned long RecordingPlatform::WaitForSingleObject(Handle process, unsigned long milliseconds) {
    const unsigned long result = real_.processes.WaitForSingleObject(process, milliseconds);
    if (result == kWaitObject0 && process == command_.process && command_.process != 0 && !command_.ended) {
        command_.ended = true;
        log_.Write(Kind(StepKind::Run) + Visible(command_.commandLine) + ": ended after " +
                   Seconds(real_.system.GetTickCount() - command_.started));
    }
    return result;
}

bool RecordingPlatform::GetExitCodeProcess(Handle process, unsigned long& exitCode) {
    return real_.processes.GetExitCodeProcess(process, exitCode);
}

bool RecordingPlatform::CloseHandle(Handle handle) { return real_.processes.CloseHandle(handle); }

long RecordingPlatform::OpenKey(const std::string& subKey, unsigned long access, Handle& key) {
    const long status = real_.registry.OpenKey(subKey, access, key);
    if (status == kErrorSuccess) keys_[key] = subKey;
    return status;
}

long RecordingPlatform::CloseKey(Handle key) {
    keys_.erase(key);
    return real_.registry.CloseKey(key);
}

long RecordingPlatform::QueryValue(Handle key, const std::string& name, char* data, unsigned long& size) {
    return real_.registry.QueryValue(key, name, data, size);
}

long RecordingPlatform::SetValue(Handle key, const std::string& name, unsigned long type, const char* data,
                                 unsigned long size) {
    const long status = real_.registry.SetValue(key, name, type, data, size);
    const auto open = keys_.find(key);
    Change(Kind(StepKind::SetValue) + (open == keys_.end() ? std::string("?") : open->second) + "\\" + name + " -> \"" +
               Visible(std::string(data, size)) + "\"",
           status == kErrorSuccess, static_cast<unsigned long>(status));
    return status;
}

long RecordingPlatform::DeleteKey(const std::string& subKey) {
    const long status = real_.registry.DeleteKey(subKey);
    Change(Kind(StepKind::DeleteKey) + subKey, status == kErrorSuccess, static_cast<unsigned long>(status));
    return status;
}

HResult RecordingPlatform::CoInitialize() { return real_.com.CoInitialize(); }

void RecordingPlatform::CoUninitialize() { real_.com.CoUninitialize(); }

HResult RecordingPlatform::CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid,
                                            Metabase*& object) {
    const HResult result = real_.com.CoCreateInstance(clsid, context, iid, object);
    if (result >= 0 && object && log_.Recording()) object = new RecordingMetabase(*this, object);
    return result;
}

void RecordingPlatform::Exit(int status) {
    log_.End(status);
    real_.runtime.Exit(status);
    std::abort();  // never reached: the real exit does not return
}

// A wait the user ends leaves the program running; the log says so.
int RecordingPlatform::RunModal(int templateId, DialogHandler& handler) {
    command_ = Command();
    const int result = real_.dialogs.RunModal(templateId, handler);
    if (command_.process != 0 && !command_.ended)
        log_.Write(Kind(StepKind::Run) + Visible(command_.commandLine) + ": the wait was ended after " +
                   Seconds(real_.system.GetTickCount() - command_.started) +
                   " (Escape or the close box); the program runs on");
    command_ = Command();
    return result;
}

}  // namespace qv
