#include "app/RunLog.h"

#include <cstdio>

#include "record/LogLine.h"
#include "runner/ShowLastError.h"
#include "text/Text.h"
#include "uninstall/ClosingCleanup.h"

#ifndef QV_VERSION
#define QV_VERSION "unknown"
#endif

namespace qv {

namespace {

constexpr std::size_t kMostEarlyEvents = 1000;  // a usage box per token, at most, comes before the log opens

std::string Number(unsigned long value) { return std::to_string(value); }

// Every log of ours begins so: the head line, timed at the start.
const std::string kHeadLineStart = std::string("+0.000 ") + kHeadEvent;
constexpr std::size_t kHeadLineLooked = 512;  // enough of a first line to find the program's name in it

}  // namespace

RunLog::RunLog(Platform& system) : system_(system) {}

void RunLog::Start() { started_ = system_.system.GetTickCount(); }

std::string RunLog::Timed(unsigned long ticks, const std::string& event) const {
    const unsigned long since = ticks - started_;
    char time[32];
    std::snprintf(time, sizeof time, "+%lu.%03lu ", since / 1000, since % 1000);
    return time + event + "\r\n";
}

std::string RunLog::HeadLine() {
    SystemTime now;
    system_.system.GetSystemTime(now);
    char date[40];
    std::snprintf(date, sizeof date, "%04u-%02u-%02u %02u:%02u:%02u UTC", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    std::string computer;
    if (!system_.system.GetComputerNameA(computer)) computer = "(unknown)";
    OsVersionInfo version;
    version.dwOSVersionInfoSize = kOsVersionInfoSize;
    const std::string windows =
        system_.system.GetVersionExA(version)
            ? Number(version.dwMajorVersion) + "." + Number(version.dwMinorVersion) + " build " +
                  Number(version.dwBuildNumber) + ", platform " + Number(version.dwPlatformId)
            : std::string("(unknown)");
    return kHeadEvent + std::string(date) + ", QvUnInstall " QV_VERSION ", computer " + computer + ", Windows " +
           windows + ", command line " + Visible(system_.system.GetCommandLineA());
}

// A log may go only where no file stands yet, or an empty one, or an earlier
// log of ours: -l naming a configuration or another program's log must never
// add to it. What cannot be read is not known to be ours.
bool RunLog::MayWriteInto(const std::string& path) {
    const std::unique_ptr<ByteSource> file = system_.files.OpenForReading(path);
    if (!file) return system_.errors.GetLastError() == kErrorFileNotFound;
    std::string start(kHeadLineLooked, '\0');
    std::size_t size = 0;
    for (long got = 1; got > 0 && size < start.size(); size += static_cast<std::size_t>(got))
        if ((got = file->Read(&start[size], start.size() - size)) < 0) return false;
    start.resize(size);
    const std::string first = start.substr(0, start.find('\n'));
    return first.empty() ? size == 0
                         : first.rfind(kHeadLineStart, 0) == 0 && first.find(", QvUnInstall ") != std::string::npos;
}

bool RunLog::Open(const std::string& path) {
    if (file_ || !Recording()) return false;
    if (MayWriteInto(path)) file_ = system_.files.OpenForAppending(path);
    if (!file_) {
        Discard();
        return false;
    }
    std::string lines = Timed(started_, HeadLine());
    for (const auto& [ticks, event] : early_) lines += Timed(ticks, event);
    early_.clear();
    if (!file_->Write(lines.data(), lines.size())) file_.reset();
    return file_ != nullptr;
}

void RunLog::Discard() {
    discarded_ = true;
    early_.clear();
}

void RunLog::Write(const std::string& event) {
    if (!Recording()) return;
    const unsigned long now = system_.system.GetTickCount();
    if (!file_) {
        if (early_.size() < kMostEarlyEvents) early_.emplace_back(now, event);
        return;
    }
    const std::string line = Timed(now, event);
    // A log that can no longer be written is let go; the run goes on.
    if (!file_->Write(line.data(), line.size())) {
        file_.reset();
        Discard();
    }
}

void RunLog::End(int status, const std::string& why) {
    if (!Recording()) return;
    Write(kEndEvent + (outcome_.empty() ? std::string("no outcome shown") : "outcome \"" + outcome_ + "\"") +
          kExitStatusWords + std::to_string(status) + (why.empty() ? std::string() : kDecidedByWords + why));
    ended_ = true;
    if (file_) file_->Close();
    file_.reset();
    early_.clear();
}

std::string RunLog::ErrorText(unsigned long code) { return qv::ErrorText(system_.errors, code); }

void RunLog::Piece(int line, int piece, int row, const std::string& bytes) { Write(PieceLine(line, piece, row, bytes)); }

void RunLog::CleanupBegins() { Write(kCleanupLine); }

void RunLog::Took(const Recorded& recorded) {
    if (!Recording()) return;
    const Step& step = recorded.step;
    if (step.kind == StepKind::Box && (step.target == kUninstallAborted || step.target == kUninstallCompleted))
        SetOutcome(step.target);
    const bool failed = recorded.outcome == Outcome::Failed || recorded.outcome == Outcome::CannotRun;
    Write(StepLine(recorded, failed ? ErrorText(recorded.error) : std::string()));
}

}  // namespace qv
