#include "check/Preview.h"

#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

#include "app/UninstallApp.h"
#include "check/EmptyMachine.h"
#include "check/MachineReads.h"
#include "check/MemorySource.h"
#include "check/Plan.h"
#include "check/Verify.h"
#include "check/Warnings.h"
#include "platform/TextFile.h"
#include "text/Text.h"
#include "uninstall/InstallRoot.h"
#include "uninstall/UninstallList.h"

namespace qv::check {

const char kCheckUsage[] =
    "usage: qvuninst-check [--json] [--silent] [--answer yes|no] [--answers YN...] [--log-stays] [--machine]\n"
    "                      LIST [LIST_PATH_AS_GIVEN]\n"
    "       qvuninst-check [--json] --verify PLAN\n"
    "Shows what QvUnInstall -p LIST_PATH_AS_GIVEN would do with the uninstall list LIST, changing nothing;\n"
    "with --json the preview is a plan to keep. --verify tells which of a kept plan's changes this machine shows.\n";

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

std::string Recorded(int row, const CleanupState& state) {
    switch (row) {
    case kRowFilter: return state.isapiFilterPath;
    case kRowIis: return std::to_string(state.iisVersion);
    case kRowNetscapeService: return state.netscapeService;
    case kRowInstallShield: return state.isuLogPath;
    case kRowDirectory: return state.installDir;
    default: return std::string();
    }
}

class Watcher : public ListObserver {
public:
    Watcher(PlanningPlatform& plan, Preview& preview) : plan_(plan), preview_(preview) {}
    void OnPiece(int row, const std::string&) override {
        plan_.SetPiece(static_cast<int>(next_));
        if (next_ < preview_.pieces.size()) {
            preview_.pieces[next_].carriedOut = true;
            preview_.pieces[next_].row = row;
        }
    }
    void OnPieceDone(const CleanupState& state) override {
        if (next_ < preview_.pieces.size())
            preview_.pieces[next_].recorded = Recorded(preview_.pieces[next_].row, state);
        ++next_;
    }
    void OnCleanup() override {
        plan_.SetPiece(-2);
        preview_.cleanupRan = true;
    }

private:
    PlanningPlatform& plan_;
    Preview& preview_;
    std::size_t next_ = 0;
};

// The changes a verification can look for, as opposed to what is shown or started.
bool IsChange(const std::string& kind) {
    return kind != "box" && kind != "run" && kind != "current-directory" && kind != "note" && kind != "exit";
}

// The steps as a plan keeps them: obj.conf's rewrite named as such, and each
// change with the question whose Yes it needs (the one just before it, or
// else the confirmation at the start).
std::vector<PlannedStep> Attributed(std::vector<PlannedStep> steps, const std::vector<PiecePreview>& pieces) {
    std::string confirmation, pending;
    for (PlannedStep& step : steps) {
        if (step.kind == "box" && (step.style & kMbTypeMask) == kMbYesNo && step.answer == kIdYes) {
            (step.piece == -1 && confirmation.empty() ? confirmation : pending) = step.target;
            continue;
        }
        if (step.kind == "write-file" && step.piece >= 0 && static_cast<std::size_t>(step.piece) < pieces.size()) {
            const PiecePreview& piece = pieces[static_cast<std::size_t>(step.piece)];
            if (piece.row == kRowNetscapeConfig && FoldedCase(step.target) == FoldedCase(WithoutLineFeed(piece.bytes)))
                step.kind = "rewrite-config";
        }
        if (!IsChange(step.kind)) continue;
        step.question = pending.empty() ? confirmation : pending;
        pending.clear();
    }
    return steps;
}

}  // namespace

const char* RowName(int row) {
    switch (row) {
    case kRowManagementServer: return "service (Management Server)";
    case kRowObjectStoreServer: return "service (Object Store Server)";
    case kRowJobServer: return "service (Job Server)";
    case kRowPortMapper: return "port mapper";
    case kRowFilter: return "IIS filter";
    case kRowIis: return "IIS version";
    case kRowNetscapeService: return "Netscape service";
    case kRowNetscapeConfig: return "Netscape configuration";
    case kRowInstallShield: return "InstallShield log";
    case kRowDirectory: return "install directory";
    case kRowIgnored: return "ignored";
    default: return "not read";
    }
}

Preview MakePreview(Platform& reading, const PreviewOptions& options) {
    Preview preview;
    if (!ReadAll(reading.files, options.listFile, preview.bytes)) return preview;
    preview.readable = true;
    preview.pieces = Pieces(preview.bytes);

    PlanningPlatform plan(reading, options);
    Watcher watcher(plan, preview);

    UninstallApp app(plan.Get());
    app.observer = &watcher;
    std::vector<std::string> arguments = {"QvUnInstall.exe", "-p", options.listPath};
    if (options.silent) arguments.push_back("-a");
    app.SetArguments(arguments);
    try {
        preview.result = app.InitInstance();
    } catch (const PlannedExit&) {
        preview.result = false;
    }

    for (const PlannedStep& step : Attributed(plan.Steps(), preview.pieces)) {
        if (step.piece >= 0 && static_cast<std::size_t>(step.piece) < preview.pieces.size())
            preview.pieces[static_cast<std::size_t>(step.piece)].steps.push_back(step);
        else if (step.piece == -2)
            preview.cleanup.push_back(step);
        else
            preview.startup.push_back(step);
        if (step.kind == "delete-file" && step.target == options.listPath) preview.listDeleted = true;
    }
    preview.removedLogs.assign(plan.RemovedLogs().begin(), plan.RemovedLogs().end());
    preview.installRoot = InstallRoot(options.listPath, reading.codePage);
    const bool shared = !preview.installRoot.empty() &&
                        IsSharedSystemFolder(preview.installRoot, WindowsDirectory(reading), reading);
    preview.warnings = FindWarnings(preview.pieces, preview.bytes, preview.installRoot, shared);
    if (!reading.system.GetComputerNameA(preview.machineName)) preview.machineName.clear();
    return preview;
}

// Text as it stands, with line feeds and other control bytes made visible.
std::string Visible(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

namespace {
std::string Answer(int answer) { return answer == kIdYes ? "yes" : answer == kIdNo ? "no" : "ok"; }
}  // namespace

std::string Describe(const PlannedStep& step) {
    if (!step.fails.empty()) {
        PlannedStep taken = step;
        taken.fails.clear();
        return Describe(taken) + ": fails, " + step.fails;
    }
    const std::string& k = step.kind;
    if (k == "box") {
        if ((step.style & kMbTypeMask) == kMbYesNo)
            return "question [" + step.detail + "] \"" + Visible(step.target) + "\" -> " + Answer(step.answer);
        return "box [" + step.detail + "] \"" + Visible(step.target) + "\"";
    }
    if (k == "run") return "run " + Visible(step.target) + "   (dialog \"" + step.detail + "\")";
    if (k == "delete-folder") return "delete folder " + step.target + " and all it holds (" + step.detail + ")";
    if (k == "remove-folder") return "remove folder " + step.target + " if it is empty";
    if (k == "delete-file") return "delete file " + step.target;
    if (k == "write-file") return "write file " + step.target;
    if (k == "rewrite-config") return "rewrite " + step.target + " without the web gateway's block";
    if (k == "remove-log") return "the InstallShield uninstaller removes " + step.target + " (assumed)";
    if (k == "rename") return "rename " + step.target + " to " + step.detail;
    if (k == "set-value") return "set HKLM\\" + step.target + " to \"" + Visible(step.detail) + "\"";
    if (k == "delete-key") return "delete key HKLM\\" + step.target;
    if (k == "metabase-delete-key") return "delete metabase key " + step.target;
    if (k == "metabase-set-data") return "set metabase " + step.target + " " + step.detail;
    if (k == "current-directory") return "enter folder " + step.target;
    if (k == "note") return step.target + " " + step.detail;
    return k + " " + step.target;
}

namespace {

nlohmann::ordered_json StepJson(const PlannedStep& step) {
    nlohmann::ordered_json out = {{"kind", step.kind}, {"target", JsonText(step.target)}};
    if (!step.detail.empty()) out["detail"] = JsonText(step.detail);
    if (step.kind == "box") {
        out["style"] = step.style;
        out["answer"] = Answer(step.answer);
    }
    if (step.kind == "set-value" || step.kind == "metabase-set-data") out["value"] = JsonText(step.value);
    if (step.kind == "metabase-set-data") out["identifier"] = step.identifier;
    if (!step.fails.empty()) out["fails"] = JsonText(step.fails);
    if (!step.question.empty()) out["question"] = JsonText(step.question);
    return out;
}

nlohmann::ordered_json StepsJson(const std::vector<PlannedStep>& steps) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const PlannedStep& step : steps) out.push_back(StepJson(step));
    return out;
}

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
    std::string out = "QvUnInstall " + std::string(options.silent ? "-a " : "") + "-p " + options.listPath + "\n";
    out += "  list read from " + options.listFile + "\n  machine: " + Machine(options) + "\n  assumed: " +
           Assumption(preview, options) + "\n  outside programs are taken to succeed\n";
    for (const PlannedStep& step : preview.startup) out += "  " + Describe(step) + "\n";
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
        for (const PlannedStep& step : piece.steps) out += "  " + Describe(step) + "\n";
    }
    if (preview.cleanupRan) {
        out += "\nclosing clean-up:\n";
        for (const PlannedStep& step : preview.cleanup) out += "  " + Describe(step) + "\n";
    }
    out += std::string("\nthe uninstall list ") + (preview.listDeleted ? "would be deleted" : "would stay") + "\n";
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
                {"silent", options.silent},
                {"answers", Answers(options)},
                {"defaultAnswer", Answer(options.defaultAnswer)},
                {"logStays", options.logStays},
                {"machineName", JsonText(preview.machineName)},
                {"time", options.time},
                {"machine", JsonText(Machine(options))},
                {"assumed", JsonText(Assumption(preview, options))},
                {"startup", StepsJson(preview.startup)}};
    Json pieces = Json::array();
    for (const PiecePreview& piece : preview.pieces) {
        const PlannedStep* command = nullptr;
        for (const PlannedStep& step : piece.steps)
            if (step.kind == "run" && !command) command = &step;
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
                          {"steps", StepsJson(piece.steps)},
                          {"warnings", warnings}});
    }
    out["pieces"] = pieces;
    out["cleanup"] = StepsJson(preview.cleanup);
    out["listDeleted"] = preview.listDeleted;
    Json warnings = Json::array();
    for (const Warning& w : preview.warnings)
        warnings.push_back({{"code", w.code}, {"line", w.line}, {"message", JsonText(w.message)}});
    out["warnings"] = warnings;
    return out.dump(-1, ' ', true) + "\n";  // ASCII only: code-page bytes as \u00XX
}

CheckCommand ParseCheckArguments(const std::vector<std::string>& arguments) {
    CheckCommand command;
    PreviewOptions& o = command.options;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (a == "--json") {
            o.json = true;
        } else if (a == "--verify" && hasValue) {
            o.verify = arguments[++i];
        } else if (a == "--silent") {
            o.silent = true;
        } else if (a == "--machine") {
            o.machine = true;
        } else if (a == "--log-stays") {
            o.logStays = true;
        } else if (a == "--answer" && hasValue && (arguments[i + 1] == "yes" || arguments[i + 1] == "no")) {
            o.defaultAnswer = arguments[++i] == "yes" ? kIdYes : kIdNo;
        } else if (a == "--answers" && hasValue &&
                   arguments[i + 1].find_first_not_of("YNyn") == std::string::npos) {
            for (char c : arguments[++i]) o.answers.push_back(c == 'Y' || c == 'y' ? kIdYes : kIdNo);
        } else if (a.compare(0, 2, "--") == 0) {
            command.error = "unknown or incomplete option " + a;
            return command;
        } else {
            paths.push_back(a);
        }
    }
    if (!o.verify.empty()) {
        if (!paths.empty() || o.silent || o.logStays || !o.answers.empty())
            command.error = "--verify takes a plan and nothing but --json and --machine";
        return command;
    }
    if (paths.empty() || paths.size() > 2) {
        command.error = paths.empty() ? "no list given" : "too many paths";
        return command;
    }
    o.listFile = paths[0];
    o.listPath = paths.size() == 2 ? paths[1] : paths[0];
    return command;
}

int RunCheck(Platform& reading, const PreviewOptions& options, std::string& out) {
    const Preview preview = MakePreview(reading, options);
    if (!preview.readable) {
        out = "qvuninst-check: cannot read the uninstall list " + options.listFile + "\n";
        return 2;
    }
    out = options.json ? RenderJson(preview, options) : RenderPlain(preview, options);
    return preview.warnings.empty() ? 0 : 1;
}

namespace {

// When the plan is made, in UTC.
std::string Now() {
    const std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);
    char text[32] = {};
    if (!utc || !std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc)) return std::string();
    return text;
}

}  // namespace

int CheckProgram(const char* program, const std::vector<std::string>& arguments, FileSystem& listFiles,
                 Platform* machine) {
    const CheckCommand command = ParseCheckArguments(arguments);
    if (!command.error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", program, command.error.c_str(), kCheckUsage);
        return 2;
    }
    if (command.options.machine && !machine) {
        std::fprintf(stderr, "%s: --machine reads a Windows machine; run QvUninstCheck.exe there\n", program);
        return 2;
    }
    EmptyMachine empty(listFiles, command.options.listFile);
    std::string out;
    if (!command.options.verify.empty()) {
        // Where there is no machine to read, the empty one stands in: every change shows as made.
        const int status = RunVerify(machine ? *machine : empty.Get(), listFiles, command.options.verify,
                                     command.options.json, out);
        if (status == 2) out = program + (": " + out);
        std::fwrite(out.data(), 1, out.size(), status == 2 ? stderr : stdout);
        return status;
    }
    PreviewOptions options = command.options;
    options.time = Now();
    const int status = RunCheck(command.options.machine ? *machine : empty.Get(), options, out);
    std::fwrite(out.data(), 1, out.size(), status == 2 ? stderr : stdout);
    return status;
}

}  // namespace qv::check
