// One fake for every platform interface. Each call appends a readable line to
// `log`, so a test can assert the exact order of boxes, process starts, dialog
// effects and COM calls. Pure look-ups (last error, error text, lead bytes,
// application name) are not logged: they change nothing a user could see.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "uninstall/CleanupState.h"

namespace qvtest {

// Thrown by ExitProgram: past it, the real program would be gone.
struct ProgramExit {
    int status;
};

class FakeDialogWindow : public qv::DialogWindow {
public:
    explicit FakeDialogWindow(std::vector<std::string>& log) : log_(log) {}
    void SetTitle(const std::string& title) override { log_.push_back("title " + title); }
    void Minimize() override { log_.push_back("minimize"); }
    void SetProgressRange(int low, int high) override { Log("range ", low, "..", high); }
    void SetProgressStep(int step) override { Log("step ", step); }
    void StepProgress() override { log_.push_back("stepit"); }
    void SetProgressPos(int position) override { Log("pos ", position); }
    void StartTimer(unsigned id, unsigned milliseconds) override { Log("timer ", id, " ", milliseconds); }
    void StopTimer(unsigned id) override { Log("killtimer ", id); }
    void End(int value) override {
        Log("end ", value);
        ended = true;
        result = value;
    }

    bool ended = false;
    int result = 0;

private:
    void Log(const char* what, long long a, const char* between = "", long long b = -1) {
        log_.push_back(what + std::to_string(a) + (b < 0 ? "" : between + std::to_string(b)));
    }
    std::vector<std::string>& log_;
};

class FakePlatform : public qv::MessageBoxes,
                     public qv::FileSystem,
                     public qv::Processes,
                     public qv::Registry,
                     public qv::SystemInfo,
                     public qv::DialogHost {
public:
    qv::Platform platform{*this, *this, *this, *this, *this, *this};
    std::vector<std::string> log;

    // --- Script ---
    std::map<std::string, std::string> files;          // path -> raw bytes
    std::size_t chunkSize = 7;                         // small, so CR and LF can fall in different reads
    std::deque<int> boxAnswers;                        // then IDNO for Yes/No boxes, IDOK for others
    std::map<std::string, unsigned long> startErrors;  // command-line prefix -> error of the failed start
    std::map<std::string, int> runningWaits;           // command-line prefix -> waits the child outlives
    std::set<int> failingExitReads;                    // 1-based numbers of ReadExitCode calls that fail
    std::map<int, int> escapeAfterTicks;               // 1-based dialog number -> ticks before Escape
    std::function<bool(unsigned char)> leadByte = [](unsigned char) { return false; };

    // Kept by the stand-ins for the steps the list driver hands over to.
    struct CleanupCall {
        qv::CleanupState state;
        std::string listPath;
        bool silent;
    };
    std::optional<CleanupCall> cleanup;
    int cleanupResult = 1, restoreNetscapeResult = 1;

    // The log lines of these kinds; a line's kind is its first word.
    std::vector<std::string> Only(const std::vector<std::string>& kinds) const;

    int Show(const std::string& text, const std::string& title, unsigned style) override;

    std::unique_ptr<qv::ByteSource> OpenForReading(const std::string& path) override;
    bool DeletePath(const std::string& path) override { return Log("delete " + path), true; }
    bool RemoveEmptyDirectory(const std::string& path) override { return Log("rmdir " + path), true; }
    bool ChangeDirectory(const std::string& path) override { return Log("chdir " + path), true; }
    int ShellDelete(const std::string& path, unsigned, const std::string&) override { return Log("rmtree " + path), 0; }

    bool Create(const std::string& commandLine, unsigned short showWindow, qv::ProcessInfo& info) override;
    unsigned long Wait(qv::Handle process, unsigned long milliseconds) override;
    bool ReadExitCode(qv::Handle process, unsigned long& exitCode) override;
    void CloseHandle(qv::Handle handle) override { Log("closehandle " + std::to_string(handle)); }

    // Nothing tested here reaches the registry; every key is missing.
    long OpenKey(const std::string& key, qv::Handle&) override { return Log("regopen " + key), 2; }
    void CloseKey(qv::Handle) override { Log("regclose"); }
    long QueryValue(qv::Handle, const std::string& name, std::size_t, std::string&) override {
        return Log("regquery " + name), 2;
    }
    long SetStringValue(qv::Handle, const std::string& name, const std::string&, std::size_t) override {
        return Log("regset " + name), 0;
    }
    long DeleteKey(const std::string& key) override { return Log("regdelete " + key), 0; }

    unsigned long LastError() override { return lastError_; }
    std::string ErrorText(unsigned long code) override { return "system text for " + std::to_string(code); }
    bool IsLeadByte(unsigned char byte) override { return leadByte(byte); }
    std::string ApplicationName() override { return "QvUnInstall"; }
    bool WindowsDirectory(std::string& directory) override { return directory = "C:\\WINDOWS", true; }
    unsigned long PlatformId() override { return 2; }
    void CoInitialize() override { Log("coinit"); }
    void CoUninitialize() override { Log("couninit"); }
    [[noreturn]] void ExitProgram(int status) override;

    int RunModal(int templateId, qv::DialogHandler& handler) override;

private:
    void Log(std::string line) { log.push_back(std::move(line)); }

    unsigned long lastError_ = 0;
    qv::Handle nextHandle_ = 100;
    std::map<qv::Handle, int> running_;  // child -> waits it still outlives
    int exitReads_ = 0, dialogs_ = 0;
};

}  // namespace qvtest
