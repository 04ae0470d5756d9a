#include "check/CheckProgram.h"

#include <cstdio>
#include <ctime>

#include "check/EmptyMachine.h"
#include "check/Verify.h"

namespace qv::check {

namespace {

// The usage, naming the program that prints it.
std::string Usage(const std::string& program) {
    const std::string indent(program.size(), ' ');
    return "usage: " + program + " [--json] [--silent] [--quiet] [--answer yes|no] [--answers YN...] [--log-stays] [--machine]\n" +
           "       " + indent + " LIST [LIST_PATH_AS_GIVEN]\n" +
           "       " + program + " [--json] --verify PLAN [--log RUN_LOG]\n" +
           "Shows what QvUnInstall -p LIST_PATH_AS_GIVEN would do with the uninstall list LIST, changing nothing;\n"
           "--quiet previews QvUnInstall -q: no box shown, and the exit status it ends with;\n"
           "with --json the preview is a plan to keep. --verify tells which of a kept plan's changes this machine shows;\n"
           "with --log, the line of the run's log (QvUnInstall -l) that says why a step is not done.\n";
}

// When the plan is made, in UTC.
std::string Now() {
    const std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);
    char text[32] = {};
    if (!utc || !std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc)) return std::string();
    return text;
}

}  // namespace

CheckCommand ParseCheckArguments(const std::vector<std::string>& arguments) {
    CheckCommand command;
    PreviewOptions& o = command.options;
    std::vector<std::string> paths;
    bool verifying = false, answered = false, logged = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (a == "--json") {
            o.json = true;
        } else if (a == "--verify" && hasValue) {
            verifying = true;
            o.verify = arguments[++i];
        } else if (a == "--log" && hasValue) {
            logged = true;
            o.runLog = arguments[++i];
        } else if (a == "--silent") {
            o.silent = true;
        } else if (a == "--quiet") {
            o.silent = o.quiet = true;
        } else if (a == "--machine") {
            o.machine = true;
        } else if (a == "--log-stays") {
            o.logStays = true;
        } else if (a == "--answer" && hasValue && (arguments[i + 1] == "yes" || arguments[i + 1] == "no")) {
            o.defaultAnswer = arguments[++i] == "yes" ? kIdYes : kIdNo;
            answered = true;
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
    if (verifying) {
        if (o.verify.empty())
            command.error = "--verify needs the path of a plan";
        else if (logged && o.runLog.empty())
            command.error = "--log needs the path of a run's log";
        else if (!paths.empty() || o.silent || o.logStays || answered || !o.answers.empty())
            command.error = "--verify takes a plan and nothing but --json, --machine and --log";
        return command;
    }
    if (logged) {
        command.error = "--log goes with --verify";
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

int CheckProgram(const char* program, const std::vector<std::string>& arguments, FileSystem& listFiles,
                 Platform* machine) {
    const CheckCommand command = ParseCheckArguments(arguments);
    if (!command.error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", program, command.error.c_str(), Usage(program).c_str());
        return 2;
    }
    if (command.options.machine && !machine) {
        std::fprintf(stderr, "%s: --machine reads a Windows machine; run QvUninstCheck.exe there\n", program);
        return 2;
    }
    EmptyMachine empty(listFiles, command.options.listFile, command.options.listPath);
    std::string out;
    int status;
    if (!command.options.verify.empty()) {
        // Where there is no machine to read, the empty one stands in: every change shows as made.
        status = RunVerify(machine ? *machine : empty.Get(), listFiles, command.options.verify,
                           command.options.runLog, command.options.json, out);
        if (status == 2) out = program + (": " + out);
    } else {
        PreviewOptions options = command.options;
        options.time = Now();
        status = RunCheck(command.options.machine ? *machine : empty.Get(), options, out);
    }
    std::fwrite(out.data(), 1, out.size(), status == 2 ? stderr : stdout);
    return status;
}

}  // namespace qv::check
