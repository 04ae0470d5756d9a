// What in a list will not do what its author meant, each with a stable code.
#pragma once

#include <string>
#include <vector>

#include "check/Preview.h"

namespace qv::check {

// Fills each piece's warnings and returns them all, in line order.
// `sharedRoot` tells whether the install root is a folder of the system.
std::vector<Warning> FindWarnings(std::vector<PiecePreview>& pieces, const std::string& bytes,
                                  const std::string& installRoot, bool sharedRoot);

}  // namespace qv::check
