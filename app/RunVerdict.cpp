#include "app/RunVerdict.h"

#include "app/UninstallCommandLineInfo.h"
#include "record/LogLine.h"
#include "text/Text.h"
#include "uninstall/ClosingCleanup.h"
#include "uninstall/UninstallList.h"
#include "webserver/NetscapeConfig.h"

namespace qv {

namespace {

// The event as the log names it; the system's text for an error stands in the log's own line.
std::string Named(const Recorded& recorded) { return StepLine(recorded, "error " + std::to_string(recorded.error)); }

bool IsChange(StepKind kind) {
    // Entering a folder changes nothing: one the uninstaller took away is simply not there.
    return kind != StepKind::Box && kind != StepKind::Run && kind != StepKind::CurrentDirectory &&
           kind != StepKind::Note && kind != StepKind::Exit;
}

// The status a box gives: every OK box tells a failure, but the two notices
// of a run going as it should. A question is no failure, whatever its answer.
int StatusOfBox(const Step& box) {
    if (box.detail == kUsageTitle) return kExitInvalidCommandLine;
    if (StartsWith(box.target, kCannotOpenList)) return kExitNothingToUninstall;
    const bool notice = box.target == kUninstallCompleted || box.target.find(kEarlierCopyKept) != std::string::npos;
    return (box.style & kMbTypeMask) != kMbOk || notice ? kExitSuccess : kExitInstallFailure;
}

}  // namespace

void RunVerdict::Decide(int status, const std::string& why) {
    if (decided_ || status == kExitSuccess) return;
    decided_ = true;
    status_ = status;
    why_ = why;
}

// Some systems answer a shell deletion of a folder that is not there with
// one of the shell's own codes, not "not found"; the removal that follows
// each start-menu deletion tells whether the folder is gone.
void RunVerdict::SettleShellFailure(const Recorded& next) {
    if (shellFailed_.empty()) return;
    const bool gone = next.step.kind == StepKind::RemoveFolder && next.step.target == shellFolder_ &&
                      (next.outcome == Outcome::Done || next.outcome == Outcome::AlreadyGone);
    if (!gone) Decide(kExitInstallFailure, shellFailed_);
    shellFailed_.clear();
}

void RunVerdict::Judge(const Recorded& recorded) {
    SettleShellFailure(recorded);
    const Step& step = recorded.step;
    if (step.kind == StepKind::DeleteFolder && recorded.outcome == Outcome::Failed && !decided_) {
        shellFailed_ = Named(recorded);
        shellFolder_ = step.target;
        return;
    }
    switch (recorded.outcome) {
    case Outcome::Answered:
    case Outcome::NotShown: return Decide(StatusOfBox(step), Named(recorded));
    case Outcome::Started: return void(running_ = Named(recorded));
    case Outcome::Ended: return running_.clear();
    case Outcome::WaitEnded:
        running_.clear();
        return Decide(kExitInstallFailure, Named(recorded));
    case Outcome::CannotRun: return Decide(kExitInstallFailure, Named(recorded));
    case Outcome::Failed:
        if (IsChange(step.kind)) Decide(kExitInstallFailure, Named(recorded));
        return;
    case Outcome::Done:
    case Outcome::AlreadyGone:
        if (!list_.empty() && DeletesList(step, list_, std::string())) listDeleted_ = Named(recorded);
        return;
    }
}

// The first unclean event decides; else what is still open, else whether the uninstall completed.
std::pair<int, std::string> RunVerdict::Verdict() const {
    if (decided_) return {status_, why_};
    if (!shellFailed_.empty()) return {kExitInstallFailure, shellFailed_};
    if (!running_.empty()) return {kExitInstallFailure, running_ + ", and never seen to end"};
    if (list_.empty()) return {kExitSuccess, "no uninstall list named; nothing failed"};
    if (!listDeleted_.empty()) return {kExitSuccess, "the uninstall completed: " + listDeleted_};
    return {kExitInstallFailure, cleanupBegan_
                                     ? "the uninstall list stays: the InstallShield log is still there (uninstall aborted)"
                                     : "the run stopped before the closing clean-up"};
}

void RunVerdict::CleanupBegins() {
    cleanupBegan_ = true;
    next_.CleanupBegins();
}

void RunVerdict::Took(const Recorded& recorded) {
    if (quiet_) Judge(recorded);
    next_.Took(recorded);
}

int RunVerdict::Exiting(int status, const std::string& why) {
    if (!quiet_) return next_.Exiting(status, why);
    const auto [judged, decidedBy] = Verdict();
    return next_.Exiting(judged, decidedBy);
}

}  // namespace qv
