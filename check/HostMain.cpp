// qvuninst-check on the host: previews an uninstall list on an empty machine.
#include <cstdio>
#include <string>
#include <vector>

#include "check/EmptyMachine.h"
#include "check/HostFiles.h"
#include "check/Preview.h"

int main(int argc, char** argv) {
    const qv::check::CheckCommand command =
        qv::check::ParseCheckArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!command.error.empty()) {
        std::fprintf(stderr, "qvuninst-check: %s\n%s", command.error.c_str(), qv::check::kCheckUsage);
        return 2;
    }
    if (command.options.machine) {
        std::fprintf(stderr, "qvuninst-check: --machine reads a Windows machine; run QvUninstCheck.exe there\n");
        return 2;
    }
    qv::check::HostFiles files;
    qv::check::EmptyMachine machine(files, command.options.listFile);
    std::string out;
    const int status = qv::check::RunCheck(machine.Get(), command.options, out);
    std::fwrite(out.data(), 1, out.size(), status == 2 ? stderr : stdout);
    return status;
}
