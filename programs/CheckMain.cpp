// QvUninstCheck.exe: previews an uninstall list on an empty machine or,
// with --machine, on this one, read as it is and never changed.
#include <string>
#include <vector>

#include "check/CheckProgram.h"
#include "platform/win32/Win32Platform.h"

int main(int argc, char** argv) {
    qv::win32::Win32Platform live;
    return qv::check::CheckProgram("QvUninstCheck", std::vector<std::string>(argv + 1, argv + argc),
                                   live.Get().files, &live.Get());
}
