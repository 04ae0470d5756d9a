// The kinds of step the uninstaller takes that a user or the machine would
// see, and the one name each goes by: a plan, a preview, a verification and
// a run's log all speak of steps in these words.
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

// "box", "run", "delete-folder", ...
const char* StepKindName(StepKind kind);
// A box's answer as a log and a plan name it: yes, no, cancel or ok.
const char* AnswerName(int answer);

// The kind of that name; false when no kind has it.
bool StepKindNamed(const std::string& name, StepKind& kind);

}  // namespace qv
