// Arguments, one per NUL- or newline-separated piece of the input, given to
// the application as the C runtime would. A plain model of the five
// options says which tokens are refused and what the run may then do.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/UninstallApp.h"
#include "tests/FakePlatform.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using qvfuzz::StartsWith;

const char kUsagePrefix[] = "box Usage|Invalid command line option: ";
const char kConfirmPrefix[] = "box Confirm File Deletion|";

struct Expected {
    std::vector<std::string> refused;  // as the usage box names them: without the switch character
    std::string listPath, deleteDirectory;
    bool silent = false;
};

// -p, -d and -l take the next plain token, -a tolerates one, -q none; a
// switch replaces whatever was waiting.
Expected Model(const std::vector<std::string>& tokens) {
    enum { Nothing, List, AfterSilent, Directory, Log } waiting = Nothing;
    Expected e;
    for (const std::string& token : tokens) {
        if (!token.empty() && (token[0] == '-' || token[0] == '/')) {
            const std::string name = token.substr(1);
            if (name == "p") {
                waiting = List;
            } else if (name == "a") {
                waiting = AfterSilent;
                e.silent = true;
            } else if (name == "d") {
                waiting = Directory;
            } else if (name == "l") {
                waiting = Log;
            } else if (name == "q") {
                waiting = Nothing;
                e.silent = true;
            } else {
                e.refused.push_back(name);
            }
            continue;
        }
        if (waiting == List)
            e.listPath = token;
        else if (waiting == Directory)
            e.deleteDirectory = token;
        else if (waiting == Nothing)
            e.refused.push_back(token);
        waiting = Nothing;
    }
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> tokens(1);
    for (char c : input) {
        if (c == '\0' || c == '\n')
            tokens.emplace_back();
        else
            tokens.back().push_back(c);
    }
    if (input.empty()) tokens.clear();

    qvtest::FakePlatform fake;
    // Two lists that end at their InstallShield line; a product left keeps the clean-up short.
    fake.AddFile("a.txt", "a\\Uninst.isu\n");
    fake.AddFile("C:\\Quorvan\\QvUninst.txt", "C:\\Quorvan\\bin\nC:\\Quorvan\\Uninst.isu\n");
    fake.directories.insert("C:\\Quorvan\\bin");
    fake.directories.insert("C:\\empty");
    fake.AddKey("Software\\Quorvan\\Quorvan Kit");
    fake.boxAnswers.assign(8, qv::kIdYes);

    std::vector<std::string> arguments{"QvUnInstall.exe"};
    arguments.insert(arguments.end(), tokens.begin(), tokens.end());
    bool result = false;
    try {
        qv::UninstallApp app(fake.platform);
        app.SetArguments(arguments);
        result = app.InitInstance();
    } catch (const qvtest::ProgramExit&) {
    }

    qvfuzz::ShowLog(fake.log);
    const Expected expected = Model(tokens);
    const std::vector<std::string>& log = fake.log;

    std::vector<std::string> usage;
    std::size_t confirmations = 0, firstOpen = log.size(), firstConfirm = log.size();
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (StartsWith(log[i], "box Usage|")) usage.push_back(log[i]);
        if (StartsWith(log[i], kConfirmPrefix) && confirmations++ == 0) firstConfirm = i;
        if (StartsWith(log[i], "open ") && firstOpen == log.size()) firstOpen = i;
    }

    // Each refused token has exactly one usage box, in order, naming it.
    QV_PROPERTY(usage.size() == expected.refused.size());
    for (std::size_t i = 0; i < usage.size(); ++i)
        QV_PROPERTY_DETAIL(StartsWith(usage[i], kUsagePrefix + expected.refused[i] + "\n\nUsage: \n"), usage[i]);

    // After a usage box nothing else happens: no removal, no question, no list.
    if (!usage.empty()) {
        QV_PROPERTY(log.size() == usage.size());
        QV_PROPERTY(!result);
        return 0;
    }

    // -d removes its directory first, asking nothing, and only if named.
    std::size_t at = 0;
    if (!expected.deleteDirectory.empty()) {
        QV_PROPERTY(!log.empty() && log[0] == "rmdir " + expected.deleteDirectory);
        at = 1;
    }
    const bool runs = !expected.listPath.empty();
    if (!runs) {
        QV_PROPERTY_DETAIL(log.size() == at, log.back());
        QV_PROPERTY(!result);
        return 0;
    }

    // A list: one question unless silent, then the driver opens that list and no other first.
    QV_PROPERTY(confirmations == (expected.silent ? 0u : 1u));
    if (!expected.silent) QV_PROPERTY(firstConfirm == at++);
    QV_PROPERTY(firstOpen == at);
    QV_PROPERTY_DETAIL(log[firstOpen] == "open " + expected.listPath, log[firstOpen]);
    return 0;
}
