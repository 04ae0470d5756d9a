// The log a run keeps with -l: one line per event, each with the time since
// the run began, appended to the file and on the disk before the run goes
// on, so that a run that is killed leaves every line up to then. A log that
// cannot be opened is no error and shows nothing: the run goes on without it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "record/RecordSink.h"

namespace qv {

class RunLog : public RecordSink {
public:
    // Writes through `system`, the real platform, and reads its clock.
    explicit RunLog(Platform& system);

    // The moment the times are counted from.
    void Start();
    // Opens `path` for appending and writes the run's head line, then what
    // happened before; false when it cannot be opened, or when a file stands
    // there that is neither empty nor a log of ours.
    bool Open(const std::string& path);
    bool IsOpen() const { return file_ != nullptr; }
    // No -l: nothing is kept from here on.
    void Discard();
    // Whether events are still worth writing down: the log is open, or may yet be.
    bool Recording() const override { return !ended_ && !discarded_; }
    // One event; kept until the log is open, dropped if it never opens.
    void Write(const std::string& event);
    // The outcome box the run showed; the end line names it.
    void SetOutcome(const std::string& outcome) { outcome_ = outcome; }
    // The end line, once: the outcome shown (or none), the exit status and,
    // when known, what decided it.
    void End(int status, const std::string& why = std::string());

    // The system's text for an error code, on one line.
    std::string ErrorText(unsigned long code);

    // As the recorder hands them on: a line each.
    void Piece(int line, int piece, int row, const std::string& bytes) override;
    void CleanupBegins() override;
    void Took(const Recorded& recorded) override;
    int Exiting(int status, const std::string& why) override {
        End(status, why);
        return status;
    }

private:
    std::string Timed(unsigned long ticks, const std::string& event) const;
    std::string HeadLine();
    bool MayWriteInto(const std::string& path);

    Platform& system_;
    std::unique_ptr<ByteSink> file_;
    unsigned long started_ = 0;
    bool ended_ = false, discarded_ = false;
    std::string outcome_;
    std::vector<std::pair<unsigned long, std::string>> early_;  // events before the log opened
};

}  // namespace qv
