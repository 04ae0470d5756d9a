// QvUninstCheck.exe: previews an uninstall list on an empty machine or,
// with --machine, on this one, read as it is and never changed.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check/EmptyMachine.h"
#include "check/Preview.h"
#include "platform/win32/Win32Platform.h"

int main(int argc, char** argv) {
    const qv::check::CheckCommand command =
        qv::check::ParseCheckArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!command.error.empty()) {
        std::fprintf(stderr, "QvUninstCheck: %s\n%s", command.error.c_str(), qv::check::kCheckUsage);
        return 2;
    }
    qv::win32::Win32Platform live;
    qv::check::EmptyMachine empty(live.Get().files, command.options.listFile);
    std::string out;
    const int status = qv::check::RunCheck(command.options.machine ? live.Get() : empty.Get(), command.options, out);
    std::fwrite(out.data(), 1, out.size(), status == 2 ? stderr : stdout);
    return status;
}
