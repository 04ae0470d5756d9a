// The one layer that names what a run shows, starts and changes. Every call
// goes on to the platform below unchanged; each box, each program and each
// change becomes one Step (its kind, its target as spelt, the full path the
// call reached, its detail), handed with how it went to a sink: the run's
// log over Windows, the plan over the simulated machine. Reads pass through
// unrecorded.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/ForwardingPlatform.h"
#include "record/RecordSink.h"
#include "uninstall/UninstallList.h"

namespace qv {

class Recorder : public ForwardingPlatform {
public:
    Recorder(Platform& lower, RecordSink& sink);
    ~Recorder() override;

    // What the driver tells of each list line, for the driver to be given.
    ListObserver& Lines() { return *lines_; }

private:
    friend class RecordedFile;
    friend class RecordedMetabase;
    friend class RecordedLines;

    // A step whose target is a path, with the full path the system makes of
    // it now: before the call, which may change where the run stands.
    Step PathStep(StepKind kind, const std::string& path);
    // Hands the step on; the last error stays as the call left it, for the box the logic shows next.
    void Took(const Recorded& recorded);
    // A change that left its error as the last error: done, already gone or failed.
    void Changed(Step step, bool done, bool removal);

    // Shows the box through `show`, or under -q answers it unseen; either way recorded.
    int Shown(const std::string& text, const std::string& title, unsigned style, const std::function<int()>& show);
    void PieceRead(int row, const std::string& piece);
    void CleanupBegins();

    int Show(const std::string& text, const std::string& title, unsigned style) override;
    int ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) override;

    std::unique_ptr<ByteSink> OpenForWriting(const std::string& path) override;
    bool DeleteFileA(const std::string& path) override;
    bool RemoveDirectoryA(const std::string& path) override;
    bool SetCurrentDirectoryA(const std::string& path) override;
    int SHFileOperationA(ShellFileOperation& request) override;
    unsigned long MoveFileA(const std::string& from, const std::string& to) override;

    bool CreateProcessA(const std::string& commandLine, bool inheritHandles, unsigned long creationFlags,
                        const StartupInfo& startup, ProcessInfo& info) override;
    unsigned long WaitForSingleObject(Handle process, unsigned long milliseconds) override;

    long OpenKey(const std::string& subKey, unsigned long access, Handle& key) override;
    long CloseKey(Handle key) override;
    long SetValue(Handle key, const std::string& name, unsigned long type, const char* data,
                  unsigned long size) override;
    long DeleteKey(const std::string& subKey) override;

    HResult CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid, Metabase*& object) override;

    [[noreturn]] void Exit(int status) override;

    int RunModal(int templateId, DialogHandler& handler) override;

    RecordSink& sink_;
    std::unique_ptr<ListObserver> lines_;
    int line_ = 1, piece_ = 1;  // of the list piece read next
    std::string configPath_;    // the obj.conf the piece names, when it is a Netscape configuration line
    std::map<Handle, std::string> keys_;  // open registry keys, for naming the values written in them
    struct Command {
        Step step;
        Handle process = 0;
        unsigned long started = 0;
        bool ended = false;
    } command_;  // the outside program the running dialog waits for
};

}  // namespace qv
