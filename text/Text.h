// Text helpers that both the list driver and the web-server code use on
// paths and lines: nothing here knows of Windows or of the list's rows.
#pragma once

#include <string>

namespace qv {

// The line without its line feed. Only a line feed is dropped: the last line
// of a list may have none, and then every character of it is real.
std::string WithoutLineFeed(const std::string& line);

// The text with its ASCII letters upper-cased: Windows names a file the
// same in any letter case, so paths are compared in this form.
std::string FoldedCase(std::string text);

// Text as it stands, with line feeds and other control bytes made visible
// (\n, \r, \t, \xNN), so that any text takes one line.
std::string Visible(const std::string& text);

}  // namespace qv
