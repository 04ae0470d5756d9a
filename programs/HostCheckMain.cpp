// qvuninst-check on the host: previews an uninstall list on an empty machine.
#include <string>
#include <vector>

#include "check/CheckProgram.h"
#include "check/HostFiles.h"

int main(int argc, char** argv) {
    qv::check::HostFiles files;
    return qv::check::CheckProgram("qvuninst-check", std::vector<std::string>(argv + 1, argv + argc), files, nullptr);
}
