// Text operations on one line of the uninstall list, as it was read.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv {

// Case-sensitive search for an ASCII keyword. In a double-byte code page a
// match may only begin at a character boundary, never on a trail byte.
bool ContainsKeyword(const std::string& line, const std::string& keyword, CodePage& codePage);

// The line with every double quote and every line feed taken out.
std::string WithoutQuotesAndLineFeeds(const std::string& line);

// The decimal number at the start of `text`, read as atoi does: white space
// skipped, an optional sign, digits up to the first other character; no
// digits give 0. Numbers beyond the int range stop at its ends.
int ReadDecimal(const std::string& text);

}  // namespace qv
