#include "check/Preview.h"

#include <cstdio>

#include "app/UninstallApp.h"
#include "check/EmptyMachine.h"
#include "check/MemorySource.h"
#include "check/Warnings.h"
#include "platform/TextFile.h"
#include "uninstall/InstallRoot.h"
#include "uninstall/UninstallList.h"

namespace qv::check {

const char kCheckUsage[] =
    "usage: qvuninst-check [--json] [--silent] [--answer yes|no] [--answers YN...] [--log-stays] [--machine]\n"
    "                      LIST [LIST_PATH_AS_GIVEN]\n"
    "Shows what QvUnInstall -p LIST_PATH_AS_GIVEN would do with the uninstall list LIST, changing nothing.\n";

namespace {

bool ReadAll(Platform& reading, const std::string& path, std::string& bytes) {
    std::unique_ptr<ByteSource> file = reading.files.OpenForReading(path);
    if (!file) return false;
    char buffer[65536];
    for (long got; (got = file->Read(buffer, sizeof buffer)) != 0;) {
        if (got < 0) return false;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

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
    void OnPiece(int row) override {
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

std::string WindowsDirectory(Platform& reading) {
    char buffer[1024] = {};
    const unsigned length = reading.system.GetWindowsDirectoryA(buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
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
    if (!ReadAll(reading, options.listFile, preview.bytes)) return preview;
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

    for (const PlannedStep& step : plan.Steps()) {
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
    return preview;
}

namespace {

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

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04X", c);  // bytes of the code page, shown as Latin-1
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

std::string Answer(int answer) { return answer == kIdYes ? "yes" : answer == kIdNo ? "no" : "ok"; }

std::string Describe(const PlannedStep& step) {
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
    if (k == "rename") return "rename " + step.target + " to " + step.detail;
    if (k == "set-value") return "set HKLM\\" + step.target + " to \"" + Visible(step.detail) + "\"";
    if (k == "delete-key") return "delete key HKLM\\" + step.target;
    if (k == "metabase-delete-key") return "delete metabase key " + step.target;
    if (k == "metabase-set-data") return "set metabase " + step.target + " " + step.detail;
    if (k == "current-directory") return "enter folder " + step.target;
    if (k == "note") return step.target + " " + step.detail;
    return k + " " + step.target;
}

std::string StepJson(const PlannedStep& step) {
    std::string out = "{\"kind\":" + Json(step.kind) + ",\"target\":" + Json(step.target);
    if (!step.detail.empty()) out += ",\"detail\":" + Json(step.detail);
    if (step.kind == "box") out += ",\"style\":" + std::to_string(step.style) + ",\"answer\":" + Json(Answer(step.answer));
    return out + "}";
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
    std::string out = "{\"list\":" + Json(options.listFile) + ",\"listPath\":" + Json(options.listPath) +
                      ",\"silent\":" + (options.silent ? "true" : "false") + ",\"machine\":" + Json(Machine(options)) +
                      ",\"assumed\":" + Json(Assumption(preview, options)) + ",\"startup\":[";
    for (std::size_t i = 0; i < preview.startup.size(); ++i) out += (i ? "," : "") + StepJson(preview.startup[i]);
    out += "],\"pieces\":[";
    for (std::size_t i = 0; i < preview.pieces.size(); ++i) {
        const PiecePreview& piece = preview.pieces[i];
        const PlannedStep* command = nullptr;
        for (const PlannedStep& step : piece.steps)
            if (step.kind == "run" && !command) command = &step;
        out += std::string(i ? "," : "") + "{\"line\":" + std::to_string(piece.line) +
               ",\"piece\":" + std::to_string(piece.piece) + ",\"text\":" + Json(piece.bytes) +
               ",\"row\":" + (piece.carriedOut ? std::to_string(piece.row) : "null") +
               ",\"kind\":" + Json(piece.carriedOut ? RowName(piece.row) : "not read") +
               ",\"command\":" + (command ? Json(command->target) : "null") +
               ",\"caption\":" + (command ? Json(command->detail) : "null") +
               ",\"recorded\":" + (piece.recorded.empty() ? "null" : Json(piece.recorded)) + ",\"steps\":[";
        for (std::size_t j = 0; j < piece.steps.size(); ++j) out += (j ? "," : "") + StepJson(piece.steps[j]);
        out += "],\"warnings\":[";
        for (std::size_t j = 0; j < piece.warnings.size(); ++j) out += (j ? "," : "") + Json(piece.warnings[j].code);
        out += "]}";
    }
    out += "],\"cleanup\":[";
    for (std::size_t i = 0; i < preview.cleanup.size(); ++i) out += (i ? "," : "") + StepJson(preview.cleanup[i]);
    out += std::string("],\"listDeleted\":") + (preview.listDeleted ? "true" : "false") + ",\"warnings\":[";
    for (std::size_t i = 0; i < preview.warnings.size(); ++i) {
        const Warning& w = preview.warnings[i];
        out += std::string(i ? "," : "") + "{\"code\":" + Json(w.code) + ",\"line\":" + std::to_string(w.line) +
               ",\"message\":" + Json(w.message) + "}";
    }
    return out + "]}\n";
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
    const int status = RunCheck(command.options.machine ? *machine : empty.Get(), command.options, out);
    std::fwrite(out.data(), 1, out.size(), status == 2 ? stderr : stdout);
    return status;
}

}  // namespace qv::check
