#include "check/Preview.h"

#include <algorithm>

#include "app/UninstallApp.h"
#include "check/MemorySource.h"
#include "check/Plan.h"
#include "check/ReadOnly.h"
#include "check/Warnings.h"
#include "platform/TextFile.h"
#include "record/Recorder.h"
#include "text/PathText.h"
#include "text/Text.h"
#include "uninstall/ClosingCleanup.h"
#include "uninstall/FolderGuard.h"
#include "uninstall/InstallRoot.h"
#include "uninstall/UninstallList.h"

namespace qv::check {

namespace {

// The pieces as the uninstaller's own reading gives them, with their lines.
std::vector<PiecePreview> Pieces(const std::string& bytes) {
    std::vector<PiecePreview> pieces;
    TextModeReader reader(std::make_unique<MemorySource>(bytes));
    std::string piece;
    int line = 1, inLine = 1;
    while (reader.ReadPiece(piece, kListLineBuffer)) {
        PiecePreview preview;
        preview.line = line;
        preview.piece = inLine;
        preview.bytes = piece;
        preview.endsLine = piece.back() == '\n';
        pieces.push_back(preview);
        if (preview.endsLine) {
            ++line;
            inLine = 1;
        } else {
            ++inLine;
        }
    }
    return pieces;
}

std::string RecordedOf(int row, const CleanupState& state) {
    switch (row) {
    case kRowFilter: return state.isapiFilterPath;
    case kRowIis: return std::to_string(state.iisVersion);
    case kRowNetscapeService: return state.netscapeService;
    case kRowInstallShield: return state.isuLogPath;
    case kRowDirectory: return state.installDir;
    default: return std::string();
    }
}

// The plan as the recorder hands it on over the simulated machine: each step
// with the piece it belongs to, and each piece as the driver carried it out.
class Planner : public RecordSink {
public:
    Planner(SimulatedMachine& machine, Preview& preview) : machine_(machine), preview_(preview) {
        machine_.onCaption = [this](const std::string& caption) { Captioned(caption); };
    }
    const std::vector<Step>& Steps() const { return steps_; }

    void Piece(int, int, int row, const std::string&) override {
        piece_ = static_cast<int>(next_);
        if (next_ < preview_.pieces.size()) {
            preview_.pieces[next_].carriedOut = true;
            preview_.pieces[next_].row = row;
        }
    }
    void PieceDone(const CleanupState& state) override {
        if (next_ < preview_.pieces.size())
            preview_.pieces[next_].recorded = RecordedOf(preview_.pieces[next_].row, state);
        ++next_;
    }
    void CleanupBegins() override {
        piece_ = kPieceCleanup;
        preview_.cleanupRan = true;
    }
    void Took(const qv::Recorded& recorded) override {
        Step step = recorded.step;
        step.piece = piece_;
        if (recorded.outcome == Outcome::Ended || recorded.outcome == Outcome::WaitEnded) return;
        if (recorded.outcome == Outcome::Failed || recorded.outcome == Outcome::CannotRun)
            step.fails = machine_.TakeFailure();
        // Entering a folder the run has removed, or that is not there, is taken as its removal done.
        if (step.kind == StepKind::CurrentDirectory && recorded.outcome == Outcome::Failed) {
            step.kind = StepKind::Note;
            step.detail = step.fails;
            step.fails.clear();
            step.fullTarget.clear();
        }
        steps_.push_back(step);
        if (step.kind == StepKind::Run)
            for (Step assumed : machine_.TakeAssumed()) {
                assumed.piece = piece_;
                steps_.push_back(assumed);
            }
    }
    int Exiting(int status, const std::string&) override {
        Step exit;
        exit.kind = StepKind::Exit;
        exit.target = std::to_string(status);
        exit.piece = piece_;
        steps_.push_back(exit);
        return status;
    }

private:
    // The progress dialog's caption goes to the command it shows, started just before.
    void Captioned(const std::string& caption) {
        for (auto step = steps_.rbegin(); step != steps_.rend(); ++step)
            if (step->kind == StepKind::Run) return void(step->detail = caption);
    }

    SimulatedMachine& machine_;
    Preview& preview_;
    std::vector<Step> steps_;
    int piece_ = kPieceStartup;
    std::size_t next_ = 0;
};

// The steps as a plan keeps them: each change with the question whose Yes it
// needs (the one just before it, or else the confirmation at the start).
std::vector<Step> Attributed(std::vector<Step> steps) {
    std::string confirmation, pending;
    for (Step& step : steps) {
        if (step.kind == StepKind::Box && (step.style & kMbTypeMask) == kMbYesNo && step.answer == kIdYes) {
            (step.piece == kPieceStartup && confirmation.empty() ? confirmation : pending) = step.target;
            continue;
        }
        if (RoleOf(step.kind) != StepRole::Change) continue;
        step.question = pending.empty() ? confirmation : pending;
        pending.clear();
    }
    return steps;
}

// The product's folders that the run leaves where they are: the install
// directory it entered, and the install root it may offer, when no deletion
// takes them. `installDir` and `root` are as the run names them.
std::vector<KeptFolder> Kept(const std::vector<Step>& steps, const std::string& installDir, const std::string& root,
                             const std::string& fullRoot, const FolderRefusals& refusals, bool silent) {
    const auto deleted = [&](const std::string& folder, const std::string& full) {
        return std::any_of(steps.begin(), steps.end(), [&](const Step& step) {
            return step.kind == StepKind::DeleteFolder &&
                   (SamePath(step.target, folder) ||
                    (!full.empty() && !step.fullTarget.empty() && PathWithin(full, step.fullTarget)));
        });
    };
    const auto why = [&](const std::string& folder, const std::string& refusal) -> std::string {
        if (silent) return "a silent run never removes it";
        if (!refusal.empty()) return "it " + refusal + ": the run never offers it";
        for (const Step& step : steps)
            if (step.kind == StepKind::Box && step.answer == kIdNo && step.target.find(" " + folder + " ") != std::string::npos)
                return "its question is answered No";
        return "the run does not offer it";
    };
    std::vector<KeptFolder> kept;
    const auto entered = std::find_if(steps.begin(), steps.end(), [&](const Step& step) {
        return step.kind == StepKind::CurrentDirectory && !installDir.empty() && step.target == installDir;
    });
    if (entered != steps.end() && !deleted(installDir, entered->fullTarget))
        kept.push_back({installDir, entered->fullTarget, why(installDir, refusals.installDir)});
    if (refusals.installRoot.empty() && !deleted(root, fullRoot) &&
        (kept.empty() || !SamePath(kept[0].fullTarget, fullRoot)))
        kept.push_back({root, fullRoot, why(root, refusals.installRoot)});
    return kept;
}

}  // namespace

Preview MakePreview(Platform& reading, const PreviewOptions& options) {
    Preview preview;
    if (!ReadAll(reading.files, options.listFile, preview.bytes)) return preview;
    preview.readable = true;
    preview.pieces = Pieces(preview.bytes);

    // Named where the run starts, before it enters any folder.
    preview.installRoot = InstallRoot(options.listPath, reading.codePage);
    const std::string fullRoot = FullPathNow(preview.installRoot, reading.system);
    const std::string fullList = preview.fullListPath = FullPathNow(options.listPath, reading.system);

    SimulatedMachine machine(reading, options);
    Planner planner(machine, preview);
    RunVerdict verdict(planner);
    Recorder recorder(machine.Get(), verdict);

    UninstallApp app(recorder.Get());
    app.observer = &recorder.Lines();
    app.verdict = &verdict;
    std::vector<std::string> arguments = {"QvUnInstall.exe", "-p", options.listPath};
    if (options.silent) arguments.push_back(options.quiet ? "-q" : "-a");
    app.SetArguments(arguments);
    try {
        app.InitInstance();
    } catch (const PlannedExit&) {  // the uninstaller ends the program here; the steps so far stand
    }
    if (options.quiet) {
        preview.exitStatus = verdict.Status();
        preview.exitWhy = verdict.Why();
    }

    const std::vector<Step> steps = Attributed(planner.Steps());
    for (const Step& step : steps) {
        if (step.piece >= 0 && static_cast<std::size_t>(step.piece) < preview.pieces.size())
            preview.pieces[static_cast<std::size_t>(step.piece)].steps.push_back(step);
        else if (step.piece == kPieceCleanup)
            preview.cleanup.push_back(step);
        else
            preview.startup.push_back(step);
        if (DeletesList(step, options.listPath, fullList)) preview.listDeleted = true;
    }
    preview.removedLogs.assign(machine.RemovedLogs().begin(), machine.RemovedLogs().end());
    std::string windows;
    ReadWindowsDirectory(reading, windows);
    // The guard's word on each folder, as the run meets it: the machine read, nothing taken away yet.
    FolderRefusals refusals;
    refusals.installRoot = JudgeFolder(preview.installRoot, fullRoot, windows, reading).refusal;
    std::string installDir;
    for (const PiecePreview& piece : preview.pieces)
        if (piece.carriedOut && piece.row == kRowDirectory) installDir = piece.recorded;
    for (const Step& step : steps)
        if (step.kind == StepKind::CurrentDirectory && !installDir.empty() && step.target == installDir)
            refusals.installDir = JudgeFolder(installDir, step.fullTarget, std::string(), reading).refusal;
    if (preview.cleanupRan)
        preview.kept = Kept(steps, installDir, preview.installRoot, fullRoot, refusals, options.silent);
    preview.warnings = FindWarnings(preview.pieces, preview.bytes, preview.installRoot, refusals);
    if (!reading.system.GetComputerNameA(preview.machineName)) preview.machineName.clear();
    return preview;
}

namespace {

std::string Answers(const PreviewOptions& options) {
    std::string answers;
    for (int answer : options.answers) answers += answer == kIdYes ? 'Y' : 'N';
    return answers;
}

std::string Assumption(const Preview& preview, const PreviewOptions& options) {
    if (options.logStays) return "the InstallShield uninstaller leaves its log behind (--log-stays)";
    if (preview.removedLogs.empty()) return "no InstallShield uninstaller runs";
    return "the InstallShield uninstaller removes the log it is given (" + preview.removedLogs.front() + ")";
}

std::string Machine(const PreviewOptions& options) {
    return options.machine ? "this machine, read as it is now"
                           : "an empty one: Windows NT in C:\\WINDOWS, no keys, no folders, only the list";
}

}  // namespace

std::string RenderPlain(const Preview& preview, const PreviewOptions& options) {
    std::string out = "QvUnInstall " + std::string(options.quiet ? "-q " : options.silent ? "-a " : "") + "-p " +
                      options.listPath + "\n";
    out += "  list read from " + options.listFile + "\n  machine: " + Machine(options) + "\n  assumed: " +
           Assumption(preview, options) + "\n  outside programs are taken to succeed" +
           (options.machine ? " where their program files are there\n" : "\n");
    for (const Step& step : preview.startup) out += "  " + Describe(step) + "\n";
    for (const PiecePreview& piece : preview.pieces) {
        out += "\nline " + std::to_string(piece.line) + (piece.piece > 1 ? " piece " + std::to_string(piece.piece) : "") +
               ": " + Visible(piece.bytes) + "\n";
        if (!piece.carriedOut) {
            out += "  not read\n";
            continue;
        }
        out += "  row " + std::to_string(piece.row) + ", " + RowName(piece.row);
        if (!piece.recorded.empty()) out += ": records \"" + Visible(piece.recorded) + "\"";
        out += "\n";
        for (const Step& step : piece.steps) out += "  " + Describe(step) + "\n";
    }
    if (preview.cleanupRan) {
        out += "\nclosing clean-up:\n";
        for (const Step& step : preview.cleanup) out += "  " + Describe(step) + "\n";
    }
    out += std::string("\nthe uninstall list ") + (preview.listDeleted ? "would be deleted" : "would stay") + "\n";
    if (!preview.kept.empty()) out += "\nthe product's folders that would stay:\n";
    for (const KeptFolder& folder : preview.kept)
        out += "  " + Spelt(folder.target, folder.fullTarget) + ": " + folder.why + "\n";
    if (options.quiet)
        out += "\nexit status " + std::to_string(preview.exitStatus) + ", decided by " + Visible(preview.exitWhy) + "\n";
    out += "\nwarnings: " + std::to_string(preview.warnings.size()) + "\n";
    for (const Warning& warning : preview.warnings)
        out += "  " + (warning.line ? "line " + std::to_string(warning.line) + " " : std::string()) + warning.code +
               ": " + warning.message + "\n";
    return out;
}

std::string RenderJson(const Preview& preview, const PreviewOptions& options) {
    using Json = nlohmann::ordered_json;
    Json out = {{"plan", kPlanVersion},
                {"list", JsonText(options.listFile)},
                {"listPath", JsonText(options.listPath)},
                {"fullListPath", JsonText(preview.fullListPath)},
                {"silent", options.silent},
                {"quiet", options.quiet},
                {"answers", Answers(options)},
                {"defaultAnswer", AnswerName(options.defaultAnswer)},
                {"logStays", options.logStays},
                {"machineName", JsonText(preview.machineName)},
                {"time", options.time},
                {"machine", JsonText(Machine(options))},
                {"assumed", JsonText(Assumption(preview, options))},
                {"startup", preview.startup}};
    Json pieces = Json::array();
    for (const PiecePreview& piece : preview.pieces) {
        const Step* command = nullptr;
        for (const Step& step : piece.steps)
            if (step.kind == StepKind::Run && !command) command = &step;
        Json warnings = Json::array();
        for (const Warning& warning : piece.warnings) warnings.push_back(warning.code);
        pieces.push_back({{"line", piece.line},
                          {"piece", piece.piece},
                          {"text", JsonText(piece.bytes)},
                          {"row", piece.carriedOut ? Json(piece.row) : Json()},
                          {"kind", piece.carriedOut ? RowName(piece.row) : "not read"},
                          {"command", command ? Json(JsonText(command->target)) : Json()},
                          {"caption", command ? Json(JsonText(command->detail)) : Json()},
                          {"recorded", piece.recorded.empty() ? Json() : Json(JsonText(piece.recorded))},
                          {"steps", piece.steps},
                          {"warnings", warnings}});
    }
    out["pieces"] = pieces;
    out["cleanup"] = preview.cleanup;
    out["listDeleted"] = preview.listDeleted;
    out["kept"] = preview.kept;
    out["exitStatus"] = preview.exitStatus;
    out["exitDecidedBy"] = options.quiet ? Json(JsonText(preview.exitWhy)) : Json();
    out["warnings"] = preview.warnings;
    return out.dump(-1, ' ', true) + "\n";  // ASCII only: code-page bytes as \u00XX
}

int RunCheck(Platform& reading, const PreviewOptions& options, std::string& out) {
    const Preview preview = MakePreview(reading, options);
    if (!preview.readable) {
        out = "qvuninst-check: cannot read the uninstall list " + options.listFile +
              (options.quiet ? "; QvUnInstall -q would end with 1605 (nothing to uninstall)\n" : "\n");
        return 2;
    }
    out = options.json ? RenderJson(preview, options) : RenderPlain(preview, options);
    return preview.warnings.empty() ? 0 : 1;
}

}  // namespace qv::check
