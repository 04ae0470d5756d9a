#include "check/Verify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "check/MachineReads.h"
#include "check/Preview.h"
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

std::u16string Wide(const std::string& text) {
    std::u16string out;
    for (unsigned char c : text) out.push_back(c);
    return out;
}

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", value);
    return text;
}

class Checker {
public:
    explicit Checker(Platform& machine) : machine_(machine) {}
    ~Checker() {
        if (metabase_) metabase_->Release();
        if (comStarted_) machine_.com.CoUninitialize();
    }

    void Check(const Plan& plan, std::size_t index, VerifiedStep& out) {
        const PlanStep& step = plan.steps[index];
        const std::string& k = step.kind;
        if (!step.fails.empty()) {
            out.state = StepState::NotDone;
            out.why = "the plan foresaw that it fails: " + step.fails;
        } else if (k == "box" || k == "run") {
            out.why = k == "box" ? "a box shown leaves nothing behind" : "what an outside program does is its own";
        } else if (k == "delete-folder" || k == "remove-folder" || k == "delete-file" || k == "remove-log") {
            Gone(step.target, out);
        } else if (k == "write-file") {
            Written(plan, index, out);
        } else if (k == "rename") {
            // What stood there is kept under the new name; the old one may be written again.
            Set(out, There(step.detail), step.detail + " is not there");
        } else if (k == "rewrite-config") {
            Rewritten(step.target, out);
        } else if (k == "delete-key") {
            Set(out, !KeyThere(step.target), "the key is still there");
        } else if (k == "set-value") {
            ValueSet(step, out);
        } else if (k == "metabase-delete-key") {
            MetabaseKeyGone(step.target, out);
        } else if (k == "metabase-set-data") {
            MetabaseDataSet(step, out);
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
    static void Set(VerifiedStep& out, bool done, const std::string& otherwise) {
        out.state = done ? StepState::Done : StepState::NotDone;
        if (!done) out.why = otherwise;
    }

    void Gone(const std::string& path, VerifiedStep& out) { Set(out, !There(path), "it is still there"); }

    // A file the run wrote and then removed again (obj.conf's copy) leaves nothing to look for.
    void Written(const Plan& plan, std::size_t index, VerifiedStep& out) {
        const std::string target = FoldedCase(plan.steps[index].target);
        for (std::size_t later = index + 1; later < plan.steps.size(); ++later)
            if (plan.steps[later].kind == "delete-file" && FoldedCase(plan.steps[later].target) == target) {
                out.why = "the run writes it and removes it again";
                return;
            }
        Set(out, There(plan.steps[index].target), "it is not there");
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

    void ValueSet(const PlanStep& step, VerifiedStep& out) {
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
        if (!metabase_) why = "the metabase cannot be opened (" + Hex(static_cast<std::uint32_t>(metabaseResult_)) + ")";
        return metabase_;
    }

    void MetabaseKeyGone(const std::string& path, VerifiedStep& out) {
        Metabase* metabase = OpenMetabase(out.why);
        if (!metabase) return;
        MetadataHandle handle = 0;
        const HResult hr = metabase->OpenKey(kMetadataMasterRootHandle, Wide(path), kMetadataPermissionRead,
                                             kMetabaseTimeoutMs, handle);
        if (hr >= 0) {
            metabase->CloseKey(handle);
            return Set(out, false, "the key is still there");
        }
        if (hr == kMetabasePathNotFound || hr == kMetabaseFileNotFound) return Set(out, true, "");
        out.why = "the metabase answers " + Hex(static_cast<std::uint32_t>(hr));
    }

    void MetabaseDataSet(const PlanStep& step, VerifiedStep& out) {
        Metabase* metabase = OpenMetabase(out.why);
        if (!metabase) return;
        MetadataHandle handle = 0;
        HResult hr = metabase->OpenKey(kMetadataMasterRootHandle, Wide(step.target), kMetadataPermissionRead,
                                       kMetabaseTimeoutMs, handle);
        if (hr < 0) {
            out.why = "its key cannot be opened (" + Hex(static_cast<std::uint32_t>(hr)) + ")";
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
            out.why = "its value cannot be read (" + Hex(static_cast<std::uint32_t>(hr)) + ")";
            return;
        }
        // As the plan holds it: each character below 0x80 as itself, any other as '?'.
        std::string value;
        for (std::size_t i = 0; i + 1 < buffer.size() && i + 1 < record.dataLength; i += 2) {
            const char16_t c = static_cast<char16_t>(buffer[i] | buffer[i + 1] << 8);
            if (c == 0) break;
            value.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        Set(out, value == step.value, "it holds \"" + Visible(value) + "\"");
    }

    Platform& machine_;
    Metabase* metabase_ = nullptr;
    bool metabaseTried_ = false, comStarted_ = false;
    HResult metabaseResult_ = 0;
};

bool IsShownOrChanged(const std::string& kind) {
    return kind != "current-directory" && kind != "note" && kind != "exit";
}

PlannedStep AsPlanned(const PlanStep& step) {
    PlannedStep planned;
    planned.kind = step.kind;
    planned.target = step.target;
    planned.detail = step.detail;
    planned.style = step.style;
    planned.answer = step.answer == "yes" ? kIdYes : step.answer == "no" ? kIdNo : kIdOk;
    planned.value = step.value;
    return planned;
}

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
    default: return "not checkable";
    }
}

Verification Verify(Platform& machine, const Plan& plan) {
    Verification verification;
    if (!machine.system.GetComputerNameA(verification.machineName)) verification.machineName.clear();
    verification.sameMachine = FoldedCase(verification.machineName) == FoldedCase(plan.machineName);
    Checker checker(machine);
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        if (!IsShownOrChanged(plan.steps[i].kind)) continue;
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
    version.dwOSVersionInfoSize = 148;  // OSVERSIONINFOA
    const std::string windows = WindowsDirectory(machine);
    if (!windows.empty() && machine.system.GetVersionExA(version))
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
        out += "  " + state + Describe(AsPlanned(s.step)) + (s.why.empty() ? "" : ": " + s.why) + "\n";
    }
    out += "\nleftovers of the family: " + std::to_string(verification.leftovers.size()) + "\n";
    for (const Leftover& l : verification.leftovers) out += "  " + std::string(LeftoverName(l.kind)) + l.target + "\n";
    out += "\n" + std::to_string(counts[0]) + " done, " + std::to_string(counts[1]) + " not done, " +
           std::to_string(counts[2]) + " not checkable, " + std::to_string(verification.leftovers.size()) +
           " left over: " + (verification.Complete() ? "verified" : "needs a look") + "\n";
    return out;
}

int RunVerify(Platform& machine, FileSystem& files, const std::string& planFile, bool json, std::string& out) {
    std::string text, error;
    Plan plan;
    if (!ReadAll(files, planFile, text, kMaxPlanBytes)) {
        out = "cannot read the plan " + planFile + "\n";
        return 2;
    }
    if (!ReadPlan(text, plan, error)) {
        out = "the plan " + planFile + " cannot be used: " + Visible(error) + "\n";
        return 2;
    }
    try {
        const Verification verification = Verify(machine, plan);
        out = RenderVerification(plan, verification, planFile, json);
        return verification.Complete() ? 0 : 1;
    } catch (const std::exception& e) {  // out of memory, say: still one line, never a crash
        out = "cannot verify with the plan " + planFile + ": " + Visible(e.what()) + "\n";
        return 2;
    }
}

}  // namespace qv::check
