// What a quiet run (-q) ends with: an exit status in the values deployment
// tools read, decided as the run goes by the first event of its record that
// was not clean. It stands between the recorder and the run's log and hands
// every event on; without -q it only hands them on, and the program ends
// with the framework's 0.
#pragma once

#include <string>
#include <utility>

#include "record/RecordSink.h"

namespace qv {

enum : int {
    kExitSuccess = 0,                // the uninstall completed, and every change and program with it
    kExitInstallFailure = 1603,      // anything else in a run that began
    kExitNothingToUninstall = 1605,  // the uninstall list cannot be opened
    kExitLogNotOpened = 1622,        // the log -l names cannot be opened, or is refused: nothing is done
    kExitInvalidCommandLine = 1639,  // a token the program does not know: nothing is done
};

class RunVerdict : public RecordSink {
public:
    explicit RunVerdict(RecordSink& next) : next_(next) {}

    // -q: from here on no box is shown, and the run's status is judged.
    void BeQuiet() { quiet_ = true; }
    // The list the run deletes when the uninstall completes, by its full path; none with -d alone.
    void Uninstalls(const std::string& fullListPath) { list_ = fullListPath; }
    // What start-up alone sees: nothing is done, for this reason.
    void Refuse(int status, const std::string& why) { Decide(status, why); }

    // The status so far, and what decided it.
    int Status() const { return Verdict().first; }
    std::string Why() const { return Verdict().second; }

    bool Quiet() const override { return quiet_; }
    bool Recording() const override { return quiet_ || next_.Recording(); }
    void Piece(int line, int piece, int row, const std::string& bytes) override {
        next_.Piece(line, piece, row, bytes);
    }
    void PieceDone(const CleanupState& state) override { next_.PieceDone(state); }
    void CleanupBegins() override;
    void Took(const Recorded& recorded) override;
    int Exiting(int status, const std::string& why) override;

private:
    std::pair<int, std::string> Verdict() const;
    void Judge(const Recorded& recorded);
    void Decide(int status, const std::string& why);
    // A shell deletion that failed waits for the removal of the same folder
    // after it: when that finds the folder gone, nothing failed.
    void SettleShellFailure(const Recorded& next);

    RecordSink& next_;
    bool quiet_ = false, decided_ = false, cleanupBegan_ = false;
    int status_ = kExitSuccess;
    std::string why_, list_, listDeleted_;
    std::string running_;  // a program started and not yet seen to end
    std::string shellFailed_, shellFolder_;  // the failed shell deletion waiting, and its folder
};

}  // namespace qv
