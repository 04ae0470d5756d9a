#include "check/Verify.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "check/ReadOnly.h"
#include "check/RunLogReasons.h"
#include "text/PathText.h"
#include "text/Text.h"
#include "uninstall/ClosingCleanup.h"
#include "webserver/Metabase.h"
#include "webserver/NetscapeConfig.h"

namespace qv::check {

namespace {

constexpr unsigned long kMetabaseTimeoutMs = 1000;
constexpr HResult kMetabasePathNotFound = static_cast<HResult>(0x80070003);
constexpr HResult kMetabaseFileNotFound = static_cast<HResult>(0x80070002);
constexpr HResult kMetabaseInsufficientBuffer = static_cast<HResult>(0x8007007A);
constexpr std::size_t kMaxPlanBytes = 16 << 20;

class Checker {
public:
    explicit Checker(Platform& machine) : machine_(machine) {}
    ~Checker() {
        if (metabase_) metabase_->Release();
        if (comStarted_) machine_.com.CoUninitialize();
    }

    void Check(const Plan& plan, std::size_t index, VerifiedStep& out) {
        const Step& step = plan.steps[index];
        if (!step.fails.empty()) {
            out.state = StepState::NotDone;
            out.why = "the plan foresaw that it fails: " + step.fails;
        } else {
            CheckMade(plan, index, out);
        }
        if (out.state == StepState::NotDone && !step.question.empty())
            out.why += "; it needed the answer Yes to \"" + Visible(step.question) + "\"";
    }

    bool KeyThere(const std::string& key) {
        Handle handle = 0;
        if (machine_.registry.OpenKey(key, kKeyRead, handle) != kErrorSuccess) return false;
        machine_.registry.CloseKey(handle);
        return true;
    }

    bool There(const std::string& path) { return machine_.files.GetFileAttributesA(path) != kInvalidFileAttributes; }

private:
    void CheckMade(const Plan& plan, std::size_t index, VerifiedStep& out) {
        const Step& step = plan.steps[index];
        switch (step.kind) {
        case StepKind::Box: out.why = "a box shown leaves nothing behind"; return;
        case StepKind::Run: out.why = "what an outside program does is its own"; return;
        case StepKind::DeleteFolder:
        case StepKind::RemoveFolder:
        case StepKind::DeleteFile:
        case StepKind::RemoveLog: return Set(out, !There(step.target), "it is still there");
        case StepKind::WriteFile: return Written(plan, index, out);
        // What stood there is kept under the new name; the old one may be written again.
        case StepKind::Rename: return Set(out, There(step.detail), step.detail + " is not there");
        case StepKind::RewriteConfig: return Rewritten(step.target, out);
        case StepKind::DeleteKey: return Set(out, !KeyThere(step.target), "the key is still there");
        case StepKind::SetValue: return ValueSet(step, out);
        case StepKind::MetabaseDeleteKey: return MetabaseKeyGone(step.target, out);
        case StepKind::MetabaseSetData: return MetabaseDataSet(step, out);
        case StepKind::CurrentDirectory:
        case StepKind::Note:
        case StepKind::Exit: return;  // the run's own notes: never held to the machine
        }
    }

    static void Set(VerifiedStep& out, bool done, const std::string& otherwise) {
        out.state = done ? StepState::Done : StepState::NotDone;
        if (!done) out.why = otherwise;
    }

    // A file the run wrote and then removed again (obj.conf's copy) leaves nothing to look for.
    void Written(const Plan& plan, std::size_t index, VerifiedStep& out) {
        const std::string& target = plan.steps[index].target;
        for (std::size_t later = index + 1; later < plan.steps.size(); ++later)
            if (plan.steps[later].kind == StepKind::DeleteFile && SamePath(plan.steps[later].target, target)) {
                out.why = "the run writes it and removes it again";
                return;
            }
        Set(out, There(target), "it is not there");
    }

    void Rewritten(const std::string& path, VerifiedStep& out) {
        if (!There(path)) return Set(out, false, "it is not there");
        std::string text;
        if (!ReadAll(machine_.files, path, text, kMaxPlanBytes)) {
            out.why = "it cannot be read";
            return;
        }
        Set(out, text.find(kBeginMarker) == std::string::npos && text.find(kEndMarker) == std::string::npos,
            "it still holds the web gateway's marker lines");
    }

    void ValueSet(const Step& step, VerifiedStep& out) {
        const std::size_t slash = step.target.find_last_of('\\');
        if (slash == std::string::npos) {
            out.why = "the plan names no key";
            return;
        }
        Handle key = 0;
        if (machine_.registry.OpenKey(step.target.substr(0, slash), kKeyRead, key) != kErrorSuccess)
            return Set(out, false, "its key is not there");
        std::vector<char> data(1024);
        unsigned long size = static_cast<unsigned long>(data.size());
        long status = machine_.registry.QueryValue(key, step.target.substr(slash + 1), data.data(), size);
        if (status == kErrorMoreData && size < (1u << 20)) {
            data.assign(size, '\0');
            status = machine_.registry.QueryValue(key, step.target.substr(slash + 1), data.data(), size);
        }
        machine_.registry.CloseKey(key);
        if (status != kErrorSuccess) return Set(out, false, "the value is not there");
        const std::string value(data.data(), strnlen(data.data(), std::min<std::size_t>(size, data.size())));
        Set(out, value == step.value, "it holds \"" + Visible(value) + "\"");
    }

    // The metabase, opened for reading only; null with `why` set when it can't be.
    Metabase* OpenMetabase(std::string& why) {
        if (!metabaseTried_) {
            metabaseTried_ = true;
            comStarted_ = machine_.com.CoInitialize() >= 0;
            metabaseResult_ = CreateAdminBaseObject(machine_, metabase_);
            if (metabaseResult_ < 0) metabase_ = nullptr;
        }
        if (!metabase_) why = "the metabase cannot be opened (" + Hex(static_cast<std::uint32_t>(metabaseResult_), 8) + ")";
        return metabase_;
    }

    void MetabaseKeyGone(const std::string& path, VerifiedStep& out) {
        Metabase* metabase = OpenMetabase(out.why);
        if (!metabase) return;
        MetadataHandle handle = 0;
        const HResult hr = metabase->OpenKey(kMetadataMasterRootHandle, Widened(path), kMetadataPermissionRead,
                                             kMetabaseTimeoutMs, handle);
        if (hr >= 0) {
            metabase->CloseKey(handle);
            return Set(out, false, "the key is still there");
        }
        if (hr == kMetabasePathNotFound || hr == kMetabaseFileNotFound) return Set(out, true, "");
        out.why = "the metabase answers " + Hex(static_cast<std::uint32_t>(hr), 8);
    }

    void MetabaseDataSet(const Step& step, VerifiedStep& out) {
        Metabase* metabase = OpenMetabase(out.why);
        if (!metabase) return;
        MetadataHandle handle = 0;
        HResult hr = metabase->OpenKey(kMetadataMasterRootHandle, Widened(step.target), kMetadataPermissionRead,
                                       kMetabaseTimeoutMs, handle);
        if (hr < 0) {
            out.why = "its key cannot be opened (" + Hex(static_cast<std::uint32_t>(hr), 8) + ")";
            return;
        }
        std::vector<unsigned char> buffer(4096);
        MetadataRecord record;
        unsigned long required = 0;
        for (int attempt = 0; attempt < 2; ++attempt) {
            record = MetadataRecord();
            record.identifier = step.identifier;
            record.attributes = kMetadataInherit;
            record.userType = kIisMdUtServer;
            record.dataType = kStringMetadata;
            record.dataLength = static_cast<unsigned long>(buffer.size());
            record.data = buffer.data();
            hr = metabase->GetData(handle, u"", record, required);
            if (hr != kMetabaseInsufficientBuffer || required <= buffer.size() || required > (1u << 20)) break;
            buffer.assign(required, 0);
        }
        metabase->CloseKey(handle);
        if (hr < 0) {
            out.why = "its value cannot be read (" + Hex(static_cast<std::uint32_t>(hr), 8) + ")";
            return;
        }
        std::u16string text;
        for (std::size_t i = 0; i + 1 < buffer.size() && i + 1 < record.dataLength; i += 2) {
            const char16_t c = static_cast<char16_t>(buffer[i] | buffer[i + 1] << 8);
            if (c == 0) break;
            text.push_back(c);
        }
        const std::string value = Narrowed(text);  // as the plan holds it
        Set(out, value == step.value, "it holds \"" + Visible(value) + "\"");
    }

    Platform& machine_;
    Metabase* metabase_ = nullptr;
    bool metabaseTried_ = false, comStarted_ = false;
    HResult metabaseResult_ = 0;
};

const char* LeftoverName(const std::string& kind) {
    return kind == "product-key" ? "product key HKLM\\" : kind == "family-key" ? "family key HKLM\\" : "start-menu folder ";
}

}  // namespace

bool Verification::Complete() const {
    if (!leftovers.empty()) return false;
    for (const VerifiedStep& step : steps)
        if (step.state == StepState::NotDone) return false;
    return true;
}

const char* StateName(StepState state) {
    switch (state) {
    case StepState::Done: return "done";
    case StepState::NotDone: return "not done";
    case StepState::NotCheckable: return "not checkable";
    }
    return "not checkable";  // not reached: every state is named above
}

Verification Verify(Platform& machine, const Plan& plan) {
    Verification verification;
    if (!machine.system.GetComputerNameA(verification.machineName)) verification.machineName.clear();
    verification.sameMachine = FoldedCase(verification.machineName) == FoldedCase(plan.machineName);
    Checker checker(machine);
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        if (RoleOf(plan.steps[i].kind) == StepRole::Note) continue;
        VerifiedStep verified;
        verified.step = plan.steps[i];
        checker.Check(plan, i, verified);
        verification.steps.push_back(verified);
    }
    for (const char* key : kProductKeys)
        if (checker.KeyThere(key)) verification.leftovers.push_back({"product-key", key});
    for (const char* key : kFamilyKeys)
        if (checker.KeyThere(key)) verification.leftovers.push_back({"family-key", key});
    OsVersionInfo version;
    version.dwOSVersionInfoSize = kOsVersionInfoSize;
    std::string windows;
    if (ReadWindowsDirectory(machine, windows) && !windows.empty() && machine.system.GetVersionExA(version))
        for (const std::string& folder : StartMenuFolders(windows, version.dwPlatformId))
            if (checker.There(folder)) verification.leftovers.push_back({"start-menu-folder", folder});
    return verification;
}

std::string RenderVerification(const Plan& plan, const Verification& verification, const std::string& planFile,
                               bool json) {
    if (json) {
        using Json = nlohmann::ordered_json;
        Json steps = Json::array(), leftovers = Json::array();
        for (const VerifiedStep& s : verification.steps) {
            Json step = {{"kind", s.step.kind}, {"target", JsonText(s.step.target)}, {"state", StateName(s.state)}};
            if (!s.why.empty()) step["why"] = JsonText(s.why);
            if (!s.step.question.empty()) step["question"] = JsonText(s.step.question);
            if (!s.log.empty()) step["log"] = JsonText(s.log);
            steps.push_back(step);
        }
        for (const Leftover& l : verification.leftovers)
            leftovers.push_back({{"kind", l.kind}, {"target", JsonText(l.target)}});
        const Json out = {{"verified", verification.Complete()},
                          {"plan", JsonText(planFile)},
                          {"listPath", JsonText(plan.listPath)},
                          {"plannedOn", JsonText(plan.machineName)},
                          {"plannedAt", JsonText(plan.time)},
                          {"machineName", JsonText(verification.machineName)},
                          {"sameMachine", verification.sameMachine},
                          {"steps", steps},
                          {"leftovers", leftovers}};
        return out.dump(-1, ' ', true) + "\n";
    }
    std::string out;
    if (!verification.sameMachine)
        out += "the plan was made on " + plan.machineName + ", not on this machine (" + verification.machineName +
               "): this machine is held to it all the same\n";
    out += "QvUnInstall " + std::string(plan.silent ? "-a " : "") + "-p " + plan.listPath + "\n  plan " + planFile +
           ", made on " + plan.machineName + (plan.time.empty() ? "" : " at " + plan.time) + "\n  this machine: " +
           verification.machineName + ", read as it is now\n\n";
    int counts[3] = {0, 0, 0};
    for (const VerifiedStep& s : verification.steps) {
        ++counts[static_cast<int>(s.state)];
        std::string state = StateName(s.state);
        state.resize(15, ' ');
        Step step = s.step;
        step.fails.clear();  // the why tells the failure the plan foresaw
        out += "  " + state + Describe(step) + (s.why.empty() ? "" : ": " + s.why) + "\n";
        if (!s.log.empty()) out += std::string(17, ' ') + Visible(s.log) + "\n";
    }
    out += "\nleftovers of the family: " + std::to_string(verification.leftovers.size()) + "\n";
    for (const Leftover& l : verification.leftovers) out += "  " + std::string(LeftoverName(l.kind)) + l.target + "\n";
    out += "\n" + std::to_string(counts[0]) + " done, " + std::to_string(counts[1]) + " not done, " +
           std::to_string(counts[2]) + " not checkable, " + std::to_string(verification.leftovers.size()) +
           " left over: " + (verification.Complete() ? "verified" : "needs a look") + "\n";
    return out;
}

int RunVerify(Platform& machine, FileSystem& files, const std::string& planFile, const std::string& runLog, bool json,
              std::string& out) {
    std::string text, error, logText;
    Plan plan;
    RunLogLines log;
    if (!runLog.empty() && !ReadAll(files, runLog, logText, kMaxPlanBytes)) {
        out = "cannot read the run's log " + runLog + "\n";
        return 2;
    }
    if (!runLog.empty() && !ReadRunLog(logText, log, error)) {
        out = "the run's log " + runLog + " cannot be used: " + error + "\n";
        return 2;
    }
    if (!ReadAll(files, planFile, text, kMaxPlanBytes)) {
        out = "cannot read the plan " + planFile + "\n";
        return 2;
    }
    if (!ReadPlan(text, plan, error)) {
        out = "the plan " + planFile + " cannot be used: " + Visible(error) + "\n";
        return 2;
    }
    try {
        Verification verification = Verify(machine, plan);
        for (VerifiedStep& step : verification.steps)
            if (step.state == StepState::NotDone) step.log = WhatTheLogSays(log, step.step);
        out = RenderVerification(plan, verification, planFile, json);
        return verification.Complete() ? 0 : 1;
    } catch (const std::exception& e) {  // out of memory, say: still one line, never a crash
        out = "cannot verify with the plan " + planFile + ": " + Visible(e.what()) + "\n";
        return 2;
    }
}

}  // namespace qv::check
