// One piece of the list as the preview shows it, and what it warns of.
#pragma once

#include <string>
#include <vector>

#include "check/Step.h"

namespace qv::check {

struct Warning {
    std::string code;
    int line;  // 0 when it concerns the list as a whole
    std::string message;
};

// A warning as a plan lists it.
void to_json(nlohmann::ordered_json& json, const Warning& warning);

// One piece of the list as the uninstaller reads it.
struct PiecePreview {
    int line = 0;   // 1-based
    int piece = 1;  // 1-based within its line
    std::string bytes;  // as read, NUL bytes included
    bool endsLine = false;
    bool carriedOut = false;
    int row = 0;  // of the line table, when carried out
    std::string recorded;
    std::vector<Step> steps;
    std::vector<Warning> warnings;
};

}  // namespace qv::check
