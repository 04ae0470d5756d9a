#include "check/Verify.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

#include "platform/FullPathModel.h"
#include "check/ReadOnly.h"
#include "check/RunLogReasons.h"
#include "record/LogLine.h"
#include "runner/ShowLastError.h"
#include "text/PathText.h"
#include "text/Text.h"
#include "uninstall/ClosingCleanup.h"
#include "uninstall/FolderGuard.h"
#include "webserver/Metabase.h"
#include "webserver/NetscapeConfig.h"

namespace qv::check {

namespace {

constexpr unsigned long kMetabaseTimeoutMs = 1000;
constexpr std::size_t kMaxPlanBytes = 16 << 20;

// What a look at a path or a key found.
enum class Found { There, Absent, Unknown };

// The path the run used: the full path the plan keeps, or the target when it
// names its drive itself. Empty when neither: the current directory the run
// had can't be known here, and this program's own is no stand-in for it.
std::string RunPath(const std::string& target, const std::string& full) {
    return !full.empty() ? full : IsFullPath(target) ? target : std::string();
}

std::string Unlocated(const std::string& target) {
    return "the plan keeps no full path for " + target +
           ", which names no drive or is relative: where the run found it can't be told from here";
}

// RunPath, or empty with `why` saying that it can't be told.
std::string Located(const std::string& target, const std::string& full, std::string& why) {
    const std::string path = RunPath(target, full);
    if (path.empty()) why = Unlocated(target);
    return path;
}

class Checker {
public:
    explicit Checker(Platform& machine) : machine_(machine) {}
    ~Checker() {
        if (metabase_) metabase_->Release();
        if (comStarted_) machine_.com.CoUninitialize();
    }

    // A step the plan foresaw failing is looked for like any other: the
    // machine, not the foresight, says whether it was made.
    void Check(const Plan& plan, std::size_t index, VerifiedStep& out) {
        const Step& step = plan.steps[index];
        out.needed = RoleOf(step.kind) == StepRole::Change;
        CheckMade(plan, index, out);
        if (!step.fails.empty())
            out.why += (out.why.empty() ? "though" : "; as") + std::string(" the plan foresaw that it fails: ") + step.fails;
        if (out.state == StepState::NotDone && !step.question.empty())
            out.why += "; it needed the answer Yes to \"" + Visible(step.question) + "\"";
    }

    Found Key(const std::string& key, std::string& why) {
        Handle handle = 0;
        const long status = machine_.registry.OpenKey(key, kKeyRead, handle);
        if (status == kErrorSuccess) {
            machine_.registry.CloseKey(handle);
            return Found::There;
        }
        if (status == kErrorFileNotFound) return Found::Absent;
        why = "it cannot be read: " + ErrorText(static_cast<unsigned long>(status));
        return Found::Unknown;
    }

    // `path` is full. Not there counts as gone only where the volume could be
    // looked at: a drive the verification's session lacks hides what is on it.
    Found Path(const std::string& path, std::string& why, unsigned long* attributes = nullptr) {
        const std::string local = Lookable(path, why);
        if (local.empty()) return Found::Unknown;
        const unsigned long found = machine_.files.GetFileAttributesA(local);
        if (found != kInvalidFileAttributes) {
            if (attributes) *attributes = found;
            return Found::There;
        }
        const unsigned long error = machine_.errors.GetLastError();
        if (IsNotFound(error)) return AboveSeen(local, why) ? Found::Absent : Found::Unknown;
        why = "it cannot be looked at: " + ErrorText(error);
        return Found::Unknown;
    }

private:
    void CheckMade(const Plan& plan, std::size_t index, VerifiedStep& out) {
        const Step& step = plan.steps[index];
        switch (step.kind) {
        case StepKind::Box: out.why = "a box shown leaves nothing behind"; return;
        case StepKind::Run: out.why = "what an outside program does is its own"; return;
        case StepKind::DeleteFolder:
        case StepKind::RemoveFolder:
        case StepKind::DeleteFile:
        case StepKind::RemoveLog: return PathGone(step, out);
        case StepKind::WriteFile: return Written(plan, index, out);
        // What stood there is kept under the new name; the old one may be written again.
        case StepKind::Rename: return Renamed(step, out);
        case StepKind::RewriteConfig: return Rewritten(step, out);
        case StepKind::DeleteKey: return KeyGone(step.target, out);
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

    std::string ErrorText(unsigned long code) { return qv::ErrorText(machine_.errors, code); }

    // The drive path to look at, or empty with `why` set: a share is never
    // looked at (that would hand this user's credentials to its server).
    std::string Lookable(const std::string& path, std::string& why) {
        const std::string local = WithoutLongPrefix(path);
        if (OnNetwork(local, machine_.system)) why = "on the network";
        else if (local.size() < 3 || !std::isalpha(static_cast<unsigned char>(local[0])) || local[1] != ':' ||
                 local[2] != '\\')
            why = "it names no folder of a drive";
        else return local;
        return std::string();
    }

    // Walks up from a path not found to the first folder that is there; false,
    // with `why`, when the drive is not there or a folder above can't be looked at.
    bool AboveSeen(const std::string& path, std::string& why) {
        for (std::string above = ParentOf(path);; above = ParentOf(above)) {
            const bool top = above.size() <= 3;
            if (machine_.files.GetFileAttributesA(above) != kInvalidFileAttributes) return true;
            const unsigned long error = machine_.errors.GetLastError();
            if (top) {
                const std::string drive = "drive " + above.substr(0, 2);
                why = IsNotFound(error) || error == kErrorInvalidDrive ? drive + " is not there"
                                                                       : drive + " cannot be read: " + ErrorText(error);
                return false;
            }
            if (!IsNotFound(error)) {
                why = "the folder " + above + " above it cannot be looked at: " + ErrorText(error);
                return false;
            }
        }
    }

    // "C:\a\b" -> "C:\a", "C:\a" -> "C:\".
    static std::string ParentOf(const std::string& path) {
        const std::string trimmed = WithoutTrailingSeparators(path);
        const std::size_t slash = trimmed.find_last_of('\\');
        return slash == std::string::npos || slash <= 2 ? trimmed.substr(0, 2) + "\\" : trimmed.substr(0, slash);
    }

    void PathGone(const Step& step, VerifiedStep& out) {
        const std::string path = Located(step.target, step.fullTarget, out.why);
        if (path.empty()) return;
        switch (Path(path, out.why)) {
        case Found::Absent: return Set(out, true, "");
        case Found::There: return Set(out, false, "it is still there");
        case Found::Unknown: return;
        }
    }

    // A file the run wrote and then removed again (obj.conf's copy) leaves nothing to look for.
    void Written(const Plan& plan, std::size_t index, VerifiedStep& out) {
        const Step& step = plan.steps[index];
        const std::string path = RunPath(step.target, step.fullTarget);
        for (std::size_t later = index + 1; later < plan.steps.size(); ++later) {
            const Step& next = plan.steps[later];
            if (next.kind == StepKind::DeleteFile &&
                (SamePath(next.target, step.target) ||
                 (!path.empty() && SamePath(RunPath(next.target, next.fullTarget), path)))) {
                out.why = "the run writes it and removes it again";
                out.needed = false;
                return;
            }
        }
        if (path.empty()) {
            out.why = Unlocated(step.target);
            return;
        }
        unsigned long attributes = 0;
        switch (Path(path, out.why, &attributes)) {
        case Found::There: return Set(out, !(attributes & kFileAttributeDirectory), "a folder stands there");
        case Found::Absent: return Set(out, false, "it is not there");
        case Found::Unknown: return;
        }
    }

    void Renamed(const Step& step, VerifiedStep& out) {
        const std::string path = Located(step.detail, step.fullDetail, out.why);
        if (path.empty()) return;
        switch (Path(path, out.why)) {
        case Found::There: return Set(out, true, "");
        case Found::Absent: return Set(out, false, step.detail + " is not there");
        case Found::Unknown: return;
        }
    }

    // The restore's own rule: whatever follows a begin line goes, and an end
    // line outside a block stays. So no line holds a begin marker once it is done.
    void Rewritten(const Step& step, VerifiedStep& out) {
        const std::string path = Located(step.target, step.fullTarget, out.why);
        if (path.empty()) return;
        switch (Path(path, out.why)) {
        case Found::There: break;
        case Found::Absent: return Set(out, false, "it is not there");
        case Found::Unknown: return;
        }
        std::string text;
        if (!ReadAll(machine_.files, path, text, kMaxPlanBytes)) {
            out.why = "it cannot be read: " + ErrorText(machine_.errors.GetLastError());
            return;
        }
        Set(out, text.find(kBeginMarker) == std::string::npos, "a line still holds the web gateway's begin marker");
    }

    void KeyGone(const std::string& key, VerifiedStep& out) {
        switch (Key(key, out.why)) {
        case Found::Absent: return Set(out, true, "");
        case Found::There: return Set(out, false, "the key is still there");
        case Found::Unknown: return;
        }
    }

    void ValueSet(const Step& step, VerifiedStep& out) {
        const std::size_t slash = step.target.find_last_of('\\');
        if (slash == std::string::npos) {
            out.why = "the plan names no key";
            return;
        }
        Handle key = 0;
        const long opened = machine_.registry.OpenKey(step.target.substr(0, slash), kKeyRead, key);
        if (opened == kErrorFileNotFound) return Set(out, false, "its key is not there");
        if (opened != kErrorSuccess) {
            out.why = "its key cannot be read: " + ErrorText(static_cast<unsigned long>(opened));
            return;
        }
        std::vector<char> data(1024);
        unsigned long size = static_cast<unsigned long>(data.size());
        long status = machine_.registry.QueryValue(key, step.target.substr(slash + 1), data.data(), size);
        if (status == kErrorMoreData && size < (1u << 20)) {
            data.assign(size, '\0');
            status = machine_.registry.QueryValue(key, step.target.substr(slash + 1), data.data(), size);
        }
        machine_.registry.CloseKey(key);
        if (status == kErrorFileNotFound) return Set(out, false, "the value is not there");
        if (status != kErrorSuccess) {
            out.why = "the value cannot be read: " + ErrorText(static_cast<unsigned long>(status));
            return;
        }
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
        if (hr == kHresultPathNotFound || hr == kHresultFileNotFound) return Set(out, true, "");
        out.why = "the metabase answers " + Hex(static_cast<std::uint32_t>(hr), 8);
    }

    void MetabaseDataSet(const Step& step, VerifiedStep& out) {
        Metabase* metabase = OpenMetabase(out.why);
        if (!metabase) return;
        MetadataHandle handle = 0;
        HResult hr = metabase->OpenKey(kMetadataMasterRootHandle, Widened(step.target), kMetadataPermissionRead,
                                       kMetabaseTimeoutMs, handle);
        if (hr == kHresultPathNotFound || hr == kHresultFileNotFound) return Set(out, false, "its key is not there");
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
            if (hr != kHresultInsufficientBuffer || required <= buffer.size() || required > (1u << 20)) break;
            buffer.assign(required, 0);
        }
        metabase->CloseKey(handle);
        if (hr == kMdErrorDataNotFound) return Set(out, false, "the value is not there");
        if (hr < 0) {
            out.why = "its value cannot be read (" + Hex(static_cast<std::uint32_t>(hr), 8) + ")";
            return;
        }
        record.dataLength = std::min(record.dataLength, static_cast<unsigned long>(buffer.size()));
        const std::string value = Narrowed(RecordText(record));  // as the plan holds it
        Set(out, value == step.value, "it holds \"" + Visible(value) + "\"");
    }

    Platform& machine_;
    Metabase* metabase_ = nullptr;
    bool metabaseTried_ = false, comStarted_ = false;
    HResult metabaseResult_ = 0;
};

// The report's JSON with each text's control bytes as the log shows them.
nlohmann::ordered_json Shown(nlohmann::ordered_json json) {
    if (json.is_string()) return VisibleControls(json.get<std::string>());  // UTF-8 bytes stand as they are
    if (json.is_object() || json.is_array())
        for (auto& field : json) field = Shown(field);
    return json;
}

// How the plain report names a leftover's place.
const char* LeftoverName(LeftoverKind kind) {
    switch (kind) {
    case LeftoverKind::ProductKey: return "product key HKLM\\";
    case LeftoverKind::FamilyKey: return "family key HKLM\\";
    case LeftoverKind::StartMenuFolder: return "start-menu folder ";
    }
    return "";  // not reached: every kind is named above
}

void AddLeftover(Verification& verification, LeftoverKind kind, const std::string& target, Found found,
                 const std::string& why) {
    if (found != Found::Absent) verification.leftovers.push_back({kind, target, found == Found::Unknown, why});
}

// What the disk cannot tell, the log may: each box and program it saw, and
// the failure of a change that can't be looked at. A step not done gets the
// log's word on why.
void SettleByTheLog(const RunLogLines& log, Verification& verification) {
    int status = 0;
    if (ReadExitStatus(EventOf(log.lines.back()), status, verification.exitStatus.decidedBy))
        verification.exitStatus.logged = status;
    SettledByTheLog settled(log);
    for (VerifiedStep& step : verification.steps) {
        if (step.state == StepState::NotDone) {
            step.log = WhatTheLogSays(log, step.step);
        } else if (step.state == StepState::NotCheckable && RoleOf(step.step.kind) == StepRole::Shown) {
            bool done = false;
            if (settled.Settle(step.step, done, step.why)) step.state = done ? StepState::Done : StepState::NotDone;
        } else if (step.state == StepState::NotCheckable) {
            step.log = FailureInTheLog(log, step.step);
        }
    }
}

}  // namespace

bool Verification::Complete() const {
    if (!leftovers.empty() || exitStatus.Differs()) return false;
    for (const VerifiedStep& step : steps)
        if (step.needed && step.state != StepState::Done) return false;
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

const char* KeptStateName(KeptState state) {
    switch (state) {
    case KeptState::StillThere: return "still there";
    case KeptState::NotThere: return "not there";
    case KeptState::Unknown: return "unknown";
    }
    return "unknown";  // not reached: every state is named above
}

const char* LeftoverKindName(LeftoverKind kind) {
    switch (kind) {
    case LeftoverKind::ProductKey: return "product-key";
    case LeftoverKind::FamilyKey: return "family-key";
    case LeftoverKind::StartMenuFolder: return "start-menu-folder";
    }
    return "";  // not reached: every kind is named above
}

Verification Verify(Platform& machine, const Plan& plan) {
    Verification verification;
    if (!machine.system.GetComputerNameA(verification.machineName)) verification.machineName.clear();
    verification.sameMachine = FoldedCase(verification.machineName) == FoldedCase(plan.machineName);
    verification.exitStatus.planned = plan.exitStatus;
    Checker checker(machine);
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        if (RoleOf(plan.steps[i].kind) == StepRole::Note) continue;
        VerifiedStep verified;
        verified.step = plan.steps[i];
        checker.Check(plan, i, verified);
        verification.steps.push_back(verified);
    }
    std::string why;
    for (const char* key : kProductKeys) AddLeftover(verification, LeftoverKind::ProductKey, key, checker.Key(key, why), why);
    for (const char* key : kFamilyKeys) AddLeftover(verification, LeftoverKind::FamilyKey, key, checker.Key(key, why), why);
    OsVersionInfo version;
    version.dwOSVersionInfoSize = kOsVersionInfoSize;
    std::string windows;
    if (ReadWindowsDirectory(machine, windows) && !windows.empty() && machine.system.GetVersionExA(version))
        for (const std::string& folder : StartMenuFolders(windows, version.dwPlatformId))
            AddLeftover(verification, LeftoverKind::StartMenuFolder, folder, checker.Path(folder, why), why);
    for (const KeptFolder& folder : plan.kept) {
        KeptFound found{folder, KeptState::Unknown, ""};
        const std::string path = RunPath(folder.target, folder.fullTarget);
        if (path.empty()) {
            found.why = Unlocated(folder.target);
        } else {
            switch (checker.Path(path, found.why)) {
            case Found::There: found.state = KeptState::StillThere; break;
            case Found::Absent: found.state = KeptState::NotThere; break;
            case Found::Unknown: break;
            }
        }
        verification.kept.push_back(found);
    }
    return verification;
}

std::string RenderVerification(const Plan& plan, const Verification& verification, const std::string& planFile,
                               bool json) {
    if (json) {
        using Json = nlohmann::ordered_json;
        Json steps = Json::array(), leftovers = Json::array(), kept = Json::array();
        for (const VerifiedStep& s : verification.steps) {
            Json step = s.step;  // as the plan keeps it, then what was found
            step["state"] = StateName(s.state);
            if (!s.why.empty()) step["why"] = JsonText(s.why);
            if (!s.log.empty()) step["log"] = JsonText(s.log);
            steps.push_back(step);
        }
        for (const Leftover& l : verification.leftovers) {
            Json leftover = {{"kind", LeftoverKindName(l.kind)}, {"target", JsonText(l.target)}, {"state", l.unknown ? "unknown" : "there"}};
            if (!l.why.empty()) leftover["why"] = JsonText(l.why);
            leftovers.push_back(leftover);
        }
        for (const KeptFound& k : verification.kept) {
            Json folder = {{"target", JsonText(k.folder.target)}};
            if (!k.folder.fullTarget.empty()) folder["fullTarget"] = JsonText(k.folder.fullTarget);
            folder["state"] = KeptStateName(k.state);
            if (!k.why.empty()) folder["why"] = JsonText(k.why);
            folder["keptBecause"] = JsonText(k.folder.why);
            kept.push_back(folder);
        }
        Json out = {{"verified", verification.Complete()},
                          {"plan", JsonText(planFile)},
                          {"listPath", JsonText(plan.listPath)},
                          {"plannedOn", JsonText(plan.machineName)},
                          {"plannedAt", JsonText(plan.time)},
                          {"machineName", JsonText(verification.machineName)},
                          {"sameMachine", verification.sameMachine},
                          {"steps", steps},
                          {"leftovers", leftovers},
                          {"kept", kept}};
        const ExitStatusHeld& status = verification.exitStatus;
        const auto known = [](int value) { return value >= 0 ? Json(value) : Json(); };
        out["exitStatus"] = {{"planned", known(status.planned)}, {"logged", known(status.logged)}, {"held", !status.Differs()}};
        if (!status.decidedBy.empty()) out["exitStatus"]["decidedBy"] = JsonText(status.decidedBy);
        return Shown(out).dump(-1, ' ', true) + "\n";
    }
    // Each text of the plan and the machine as the log shows it: no byte of theirs starts a line of its own.
    std::string out;
    const auto line = [&out](const std::string& text) { out += VisibleControls(text) + "\n"; };
    if (!verification.sameMachine)
        line("the plan was made on " + plan.machineName + ", not on this machine (" + verification.machineName +
             "): this machine is held to it all the same");
    line("QvUnInstall " + std::string(plan.quiet ? "-q " : plan.silent ? "-a " : "") + "-p " + plan.listPath);
    line("  plan " + planFile + ", made on " + plan.machineName + (plan.time.empty() ? "" : " at " + plan.time));
    line("  this machine: " + verification.machineName + ", read as it is now");
    line("");
    int counts[3] = {0, 0, 0};
    for (const VerifiedStep& s : verification.steps) {
        ++counts[static_cast<int>(s.state)];
        std::string state = StateName(s.state);
        state.resize(15, ' ');
        Step step = s.step;
        step.fails.clear();  // the why tells the failure the plan foresaw
        line("  " + state + Describe(step) + (s.why.empty() ? "" : ": " + s.why));
        if (!s.log.empty()) line(std::string(17, ' ') + Visible(s.log));
    }
    line("");
    line("leftovers of the family: " + std::to_string(verification.leftovers.size()));
    for (const Leftover& l : verification.leftovers)
        line("  " + std::string(LeftoverName(l.kind)) + l.target + (l.unknown ? ": unknown, " + l.why : ""));
    line("");
    line("kept as planned: " + std::to_string(verification.kept.size()));
    for (const KeptFound& k : verification.kept)
        line("  " + Spelt(k.folder.target, k.folder.fullTarget) + ": " + KeptStateName(k.state) + (k.why.empty() ? "" : ", " + k.why) +
             (k.folder.why.empty() ? "" : " (" + k.folder.why + ")"));
    line("");
    const ExitStatusHeld& status = verification.exitStatus;
    if (status.planned >= 0 || status.logged >= 0) {
        line("exit status: " + (status.planned >= 0 ? std::to_string(status.planned) : "none") + " planned, " +
             (status.logged >= 0 ? std::to_string(status.logged) + " in the log" : "none in the log") +
             (status.Differs() ? ": not as planned" : "") +
             (status.decidedBy.empty() ? "" : " (decided by " + Visible(status.decidedBy) + ")"));
        line("");
    }
    line(std::to_string(counts[0]) + " done, " + std::to_string(counts[1]) + " not done, " +
         std::to_string(counts[2]) + " not checkable, " + std::to_string(verification.leftovers.size()) +
         " left over: " + (verification.Complete() ? "verified" : "needs a look"));
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
        if (!log.lines.empty()) SettleByTheLog(log, verification);
        out = RenderVerification(plan, verification, planFile, json);
        return verification.Complete() ? 0 : 1;
    } catch (const std::exception& e) {  // out of memory, say: still one line, never a crash
        out = "cannot verify with the plan " + planFile + ": " + Visible(e.what()) + "\n";
        return 2;
    }
}

}  // namespace qv::check
