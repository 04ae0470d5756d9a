#pragma once

#include <set>
#include <string>

#include "platform/Platform.h"

namespace qv {

// The lines that open and close the web gateway's block.
extern const char kBeginMarker[];
extern const char kEndMarker[];
// What the notice of an earlier copy moved aside says: no failure, the run goes on as it should.
extern const char kEarlierCopyKept[];  // " that an earlier restore left is kept as "

// Strips the web gateway's block from the Netscape configuration file named
// by the list line. 1 when the driver goes on, 0 when it must stop at once.
// A file already at the temporary path is first moved aside, never lost.
int RestoreNetscapeConfig(Platform& platform, const std::string& line);

// The same within one run of the list: `keptCopies` knows the temporary files
// that a failed copy-back left with the restored text, which a later line
// naming the same configuration, however spelt, must not touch.
int RestoreNetscapeConfig(Platform& platform, const std::string& line, std::set<std::string>& keptCopies);

}  // namespace qv
