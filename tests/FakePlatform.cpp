#include "tests/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace qvtest {

namespace {

// The entry whose key begins the command line, if any.
template <typename T>
const T* ForCommand(const std::map<std::string, T>& table, const std::string& commandLine) {
    for (const auto& [prefix, value] : table)
        if (commandLine.compare(0, prefix.size(), prefix) == 0) return &value;
    return nullptr;
}

// Hands the file out `chunkSize` bytes at a time and logs its closing.
class FakeFile : public qv::ByteSource {
public:
    FakeFile(FakePlatform& fake, std::string path) : fake_(fake), path_(std::move(path)), bytes_(fake.files[path_]) {}
    ~FakeFile() override { fake_.log.push_back("close " + path_); }
    long Read(char* buffer, std::size_t size) override {
        const std::size_t n = bytes_.copy(buffer, std::min(size, fake_.chunkSize), position_);
        position_ += n;
        return static_cast<long>(n);
    }

private:
    FakePlatform& fake_;
    std::string path_, bytes_;
    std::size_t position_ = 0;
};

}  // namespace

std::vector<std::string> FakePlatform::Only(const std::vector<std::string>& kinds) const {
    std::vector<std::string> kept;
    std::copy_if(log.begin(), log.end(), std::back_inserter(kept), [&](const std::string& line) {
        return std::count(kinds.begin(), kinds.end(), line.substr(0, line.find(' '))) > 0;
    });
    return kept;
}

int FakePlatform::Show(const std::string& text, const std::string& title, unsigned style) {
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%X", style);
    Log("box " + title + "|" + text + "|" + flags);
    if (boxAnswers.empty()) return (style & qv::kMbTypeMask) == qv::kMbYesNo ? qv::kIdNo : qv::kIdOk;
    const int answer = boxAnswers.front();
    boxAnswers.pop_front();
    return answer;
}

std::unique_ptr<qv::ByteSource> FakePlatform::OpenForReading(const std::string& path) {
    Log("open " + path);
    return files.count(path) ? std::make_unique<FakeFile>(*this, path) : nullptr;
}

bool FakePlatform::Create(const std::string& commandLine, unsigned short showWindow, qv::ProcessInfo& info) {
    Log("create " + commandLine + "|show=" + std::to_string(showWindow));
    if (const unsigned long* error = ForCommand(startErrors, commandLine)) {
        lastError_ = *error;
        return false;
    }
    const int* waits = ForCommand(runningWaits, commandLine);
    info.process = nextHandle_++;
    info.thread = nextHandle_++;
    running_[info.process] = waits ? *waits : 0;
    return true;
}

unsigned long FakePlatform::Wait(qv::Handle process, unsigned long milliseconds) {
    Log("wait " + std::to_string(milliseconds));
    return running_[process]-- > 0 ? qv::kWaitTimeout : qv::kWaitObject0;
}

bool FakePlatform::ReadExitCode(qv::Handle process, unsigned long& exitCode) {
    Log("exitcode " + std::to_string(process));
    exitCode = 0;
    if (!failingExitReads.count(++exitReads_)) return true;
    lastError_ = 6;  // ERROR_INVALID_HANDLE
    return false;
}

void FakePlatform::ExitProgram(int status) {
    Log("exit " + std::to_string(status));
    throw ProgramExit{status};
}

// As the modal loop does: initialisation first, and a dialog ended there is
// never shown and gets no tick; then timer ticks until something ends it.
int FakePlatform::RunModal(int templateId, qv::DialogHandler& handler) {
    Log("dialog " + std::to_string(templateId));
    FakeDialogWindow window(log);
    const auto escape = escapeAfterTicks.find(++dialogs_);
    handler.OnInitDialog(window);
    for (int tick = 0; !window.ended; ++tick) {
        if (escape != escapeAfterTicks.end() && tick == escape->second) {
            Log("escape");
            window.End(qv::kIdCancel);
        } else if (tick == 5000) {
            ADD_FAILURE() << "a dialog that never ends";
            return -1;
        } else {
            Log("tick");
            handler.OnTimer(window, 1);
        }
    }
    return window.result;
}

}  // namespace qvtest
