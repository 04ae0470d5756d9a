#include "uninstall/StepKind.h"

#include "platform/Platform.h"
#include "text/PathText.h"

namespace qv {

const char* StepKindName(StepKind kind) {
    switch (kind) {
    case StepKind::Box: return "box";
    case StepKind::Run: return "run";
    case StepKind::DeleteFolder: return "delete-folder";
    case StepKind::RemoveFolder: return "remove-folder";
    case StepKind::DeleteFile: return "delete-file";
    case StepKind::WriteFile: return "write-file";
    case StepKind::Rename: return "rename";
    case StepKind::RewriteConfig: return "rewrite-config";
    case StepKind::RemoveLog: return "remove-log";
    case StepKind::SetValue: return "set-value";
    case StepKind::DeleteKey: return "delete-key";
    case StepKind::MetabaseDeleteKey: return "metabase-delete-key";
    case StepKind::MetabaseSetData: return "metabase-set-data";
    case StepKind::CurrentDirectory: return "current-directory";
    case StepKind::Note: return "note";
    case StepKind::Exit: return "exit";
    }
    return "";  // not reached: every kind is named above
}

const char* AnswerName(int answer) {
    switch (answer) {
    case kIdYes: return "yes";
    case kIdNo: return "no";
    case kIdCancel: return "cancel";
    default: return "ok";
    }
}

bool StepKindNamed(const std::string& name, StepKind& kind) {
    for (int k = 0; k < kStepKinds; ++k)
        if (name == StepKindName(static_cast<StepKind>(k))) return kind = static_cast<StepKind>(k), true;
    return false;
}

bool DeletesList(const Step& step, const std::string& listPath, const std::string& fullListPath) {
    return step.kind == StepKind::DeleteFile &&
           (SamePath(step.target, listPath) || (!fullListPath.empty() && SamePath(step.target, fullListPath)));
}

}  // namespace qv
