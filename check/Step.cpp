#include "check/Step.h"

#include "platform/Platform.h"
#include "text/PathText.h"
#include "text/Text.h"

namespace qv::check {

namespace {

using Json = nlohmann::ordered_json;

// The bytes back from JSON's characters; false for a character above 0xFF,
// which no byte of the code page was written as. The text is valid UTF-8:
// the parser has checked it.
bool Bytes(const std::string& utf8, std::string& bytes) {
    bytes.clear();
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            bytes.push_back(static_cast<char>(c));
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            bytes.push_back(static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F)));
        } else {
            return false;
        }
    }
    return true;
}

// An optional number of 32 bits; 0 when it is absent.
unsigned long Number(const Json& object, const char* name, const char* otherwise) {
    const auto field = object.find(name);
    if (field == object.end()) return 0;
    if (!field->is_number_unsigned() || field->get<unsigned long long>() > 0xFFFFFFFFull) throw PlanError(otherwise);
    return static_cast<unsigned long>(field->get<unsigned long long>());
}

}  // namespace

std::string Spelt(const std::string& path, const std::string& full) {
    return full.empty() || SamePath(full, path) ? path : path + " (" + full + ")";
}

StepKind KindNamed(const std::string& name) {
    StepKind kind;
    if (!StepKindNamed(name, kind)) throw PlanError("\"" + name + "\" is no kind of step");
    return kind;
}

StepRole RoleOf(StepKind kind) {
    switch (kind) {
    case StepKind::Box: case StepKind::Run:
        return StepRole::Shown;
    case StepKind::DeleteFolder: case StepKind::RemoveFolder: case StepKind::DeleteFile: case StepKind::WriteFile:
    case StepKind::Rename: case StepKind::RewriteConfig: case StepKind::RemoveLog: case StepKind::SetValue:
    case StepKind::DeleteKey: case StepKind::MetabaseDeleteKey: case StepKind::MetabaseSetData:
        return StepRole::Change;
    case StepKind::CurrentDirectory: case StepKind::Note: case StepKind::Exit:
        return StepRole::Note;
    }
    return StepRole::Note;  // not reached: every kind is named above
}

std::string Describe(const Step& step) {
    if (!step.fails.empty()) {
        Step taken = step;
        taken.fails.clear();
        return Describe(taken) + ": fails, " + step.fails;
    }
    switch (step.kind) {
    case StepKind::Box:
        if ((step.style & kMbTypeMask) == kMbYesNo)
            return "question [" + step.detail + "] \"" + Visible(step.target) + "\" -> " + AnswerName(step.answer);
        return "box [" + step.detail + "] \"" + Visible(step.target) + "\"";
    case StepKind::Run: return "run " + Visible(step.target) + "   (dialog \"" + step.detail + "\")";
    case StepKind::DeleteFolder:
        return "delete folder " + Spelt(step.target, step.fullTarget) + " and all it holds (" + step.detail + ")";
    case StepKind::RemoveFolder: return "remove folder " + Spelt(step.target, step.fullTarget) + " if it is empty";
    case StepKind::DeleteFile: return "delete file " + Spelt(step.target, step.fullTarget);
    case StepKind::WriteFile: return "write file " + Spelt(step.target, step.fullTarget);
    case StepKind::RewriteConfig:
        return "rewrite " + Spelt(step.target, step.fullTarget) + " without the web gateway's block";
    case StepKind::RemoveLog:
        return "the InstallShield uninstaller removes " + Spelt(step.target, step.fullTarget) + " (assumed)";
    case StepKind::Rename:
        return "rename " + Spelt(step.target, step.fullTarget) + " to " + Spelt(step.detail, step.fullDetail);
    case StepKind::SetValue: return "set HKLM\\" + step.target + " to \"" + Visible(step.detail) + "\"";
    case StepKind::DeleteKey: return "delete key HKLM\\" + step.target;
    case StepKind::MetabaseDeleteKey: return "delete metabase key " + step.target;
    case StepKind::MetabaseSetData: return "set metabase " + step.target + " " + step.detail;
    case StepKind::CurrentDirectory: return "enter folder " + Spelt(step.target, step.fullTarget);
    case StepKind::Note: return step.target + " " + step.detail;
    case StepKind::Exit: return "exit " + step.target;
    }
    return std::string();  // not reached: every kind is named above
}

std::string JsonText(const std::string& bytes) {
    std::string utf8;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            utf8.push_back(static_cast<char>(c));
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return utf8;
}

bool ReadText(const Json& object, const char* name, std::string& out, bool required) {
    const auto field = object.find(name);
    if (field == object.end()) {
        if (required) throw PlanError(std::string("\"") + name + "\" is missing");
        return false;
    }
    if (!field->is_string()) throw PlanError(std::string("\"") + name + "\" is not a string");
    if (!Bytes(field->get_ref<const std::string&>(), out))
        throw PlanError(std::string("\"") + name + "\" holds a character that no code-page byte gives");
    return true;
}

}  // namespace qv::check

namespace qv {

using Json = nlohmann::ordered_json;
using check::JsonText;
using check::Number;
using check::KindNamed;
using check::PlanError;
using check::ReadText;
using check::RoleOf;
using check::StepRole;

void to_json(Json& json, const Step& step) {
    json = {{"kind", step.kind}, {"target", JsonText(step.target)}};
    if (!step.detail.empty()) json["detail"] = JsonText(step.detail);
    if (step.kind == StepKind::Box) {
        json["style"] = step.style;
        json["answer"] = AnswerName(step.answer);
    }
    if (step.kind == StepKind::SetValue || step.kind == StepKind::MetabaseSetData) json["value"] = JsonText(step.value);
    if (step.kind == StepKind::MetabaseSetData) json["identifier"] = step.identifier;
    if (!step.fails.empty()) json["fails"] = JsonText(step.fails);
    if (!step.question.empty()) json["question"] = JsonText(step.question);
    if (!step.fullTarget.empty()) json["fullTarget"] = JsonText(step.fullTarget);
    if (!step.fullDetail.empty()) json["fullDetail"] = JsonText(step.fullDetail);
}

// The texts first, then the kind, then the numbers: the first fault found is the one reported.
void from_json(const Json& json, Step& step) {
    if (!json.is_object()) throw PlanError("it is not an object");
    std::string kind, answer;
    ReadText(json, "kind", kind);
    ReadText(json, "target", step.target);
    ReadText(json, "detail", step.detail, false);
    ReadText(json, "value", step.value, false);
    const bool answered = ReadText(json, "answer", answer, false);
    ReadText(json, "fails", step.fails, false);
    ReadText(json, "question", step.question, false);
    ReadText(json, "fullTarget", step.fullTarget, false);
    ReadText(json, "fullDetail", step.fullDetail, false);
    step.kind = KindNamed(kind);
    // A change says what it changes; without a target it would verify as made.
    if (RoleOf(step.kind) == StepRole::Change && step.target.empty()) throw PlanError("\"target\" is empty");
    if (answered) {
        if (answer != "yes" && answer != "no" && answer != "ok")
            throw PlanError("\"answer\" is \"" + answer + "\", not yes, no or ok");
        step.answer = answer == "yes" ? kIdYes : answer == "no" ? kIdNo : kIdOk;
    }
    step.style = static_cast<unsigned>(Number(json, "style", "\"style\" is not a box's style"));
    step.identifier = Number(json, "identifier", "\"identifier\" is not a metabase identifier");
}

}  // namespace qv
