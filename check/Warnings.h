// What in a list will not do what its author meant, each with a stable code.
#pragma once

#include <string>
#include <vector>

#include "check/PiecePreview.h"

namespace qv::check {

// What the guard said of the folders a Yes could delete: why each is never
// offered, said of it; empty when it may be.
struct FolderRefusals {
    std::string installRoot;
    std::string installDir;  // the last directory line's, once the run enters it
};

// Fills each piece's warnings and returns them all, in line order.
std::vector<Warning> FindWarnings(std::vector<PiecePreview>& pieces, const std::string& bytes,
                                  const std::string& installRoot, const FolderRefusals& refusals);

}  // namespace qv::check
