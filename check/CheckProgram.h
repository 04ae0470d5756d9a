// The companion's command line: a preview of a list, or with --verify a
// machine held to a kept plan.
#pragma once

#include <string>
#include <vector>

#include "check/Preview.h"
#include "platform/Platform.h"

namespace qv::check {

// Parses the command line (without the program's name).
struct CheckCommand {
    PreviewOptions options;
    std::string error;  // why the command line can't be used
};
CheckCommand ParseCheckArguments(const std::vector<std::string>& arguments);

// The whole program, named `program` in what it prints: the command line, then
// the preview on an empty machine whose one file `listFiles` reads or, with
// --machine, on `machine` (null where there is no machine to read). The
// preview goes to standard output, what stops it to standard error; the exit
// status is RunCheck's or RunVerify's, 2 for a command line that can't be used.
int CheckProgram(const char* program, const std::vector<std::string>& arguments, FileSystem& listFiles,
                 Platform* machine);

}  // namespace qv::check
