// Text helpers that the list driver, the web-server code and the companion
// share: nothing here knows of Windows or of the list's rows.
#pragma once

#include <string>

namespace qv {

// The line without its line feed. Only a line feed is dropped: the last line
// of a list may have none, and then every character of it is real.
std::string WithoutLineFeed(const std::string& line);

// The text with its ASCII letters upper-cased: Windows names a file the
// same in any letter case, so paths are compared in this form.
std::string FoldedCase(std::string text);

// `text` begins, or ends, with `part`.
bool StartsWith(const std::string& text, const std::string& part);
bool EndsWith(const std::string& text, const std::string& part);

// Text as it stands, with line feeds and other control bytes made visible.
std::string Visible(const std::string& text);
// Likewise, but bytes from 0x80 up stand as they are: a report's own texts
// keep the letters of a path, and no byte of it can start a line of its own.
std::string VisibleControls(const std::string& text);

// "0x" and the number in upper-case hexadecimal, at least `digits` of them.
std::string Hex(unsigned long value, int digits = 0);

// Each byte as the UTF-16 character of its number; the metabase's paths and
// messages are ASCII, for which that is exact.
std::u16string Widened(const std::string& text);
// Each character below 0x80 as itself, any other as '?'.
std::string Narrowed(const std::u16string& text);

}  // namespace qv
