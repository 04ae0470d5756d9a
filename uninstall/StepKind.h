// The steps the uninstaller takes that a user or the machine would see, their
// kinds and the one name each kind goes by: the recorder names each step so,
// and a plan, a preview, a verification and a run's log all speak of steps
// in these words.
#pragma once

#include <string>

namespace qv {

enum class StepKind {
    Box, Run, DeleteFolder, RemoveFolder, DeleteFile, WriteFile, Rename,
    RewriteConfig,  // obj.conf written back without the web gateway's block
    RemoveLog,      // the InstallShield uninstaller's work, as assumed
    SetValue, DeleteKey, MetabaseDeleteKey, MetabaseSetData, CurrentDirectory, Note, Exit,
};
constexpr int kStepKinds = static_cast<int>(StepKind::Exit) + 1;

// Step::piece outside the list's own pieces (numbered from 0).
constexpr int kPieceStartup = -1;  // before the list is read
constexpr int kPieceCleanup = -2;  // in the closing clean-up

struct Step {
    StepKind kind = StepKind::Note;
    std::string target;  // the command line, path, key or box text, as the logic spelt it
    std::string detail;  // caption, flags, title, value
    int answer = 0;      // the button a box was answered with
    unsigned style = 0;  // a box's style; a started program's show flag, which a plan does not keep
    int piece = kPieceStartup;  // the list piece being carried out, or one of the two above
    std::string value;   // the value a registry or metabase value is set to
    unsigned long identifier = 0;  // the metabase value's identifier
    std::string fails;     // why the machine as read makes this call fail; empty when it is taken to succeed
    std::string question;  // the question whose Yes this change needs
    // Where a target or a rename's new name that is a path leads: the full
    // path the system made of it against the current directory at this step.
    // Empty for other steps, and in plans written before it was kept.
    std::string fullTarget, fullDetail;
};


// "box", "run", "delete-folder", ...
const char* StepKindName(StepKind kind);
// A box's answer as a log and a plan name it: yes, no, cancel or ok.
const char* AnswerName(int answer);

// The kind of that name; false when no kind has it.
bool StepKindNamed(const std::string& name, StepKind& kind);

// The step deletes the uninstall list: the path given to -p, or the full path
// it names where the run starts (empty when not known).
bool DeletesList(const Step& step, const std::string& listPath, const std::string& fullListPath);

}  // namespace qv
