// Small conversions shared by the Windows wrappers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qv::win32 {

inline HANDLE ToHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
inline Handle FromHandle(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

// A C string in a buffer the system may write to.
inline std::vector<char> Writable(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return buffer;
}

// UTF-16 texts of the logic as the system's wide strings (wchar_t is 16 bits here).
inline const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

}  // namespace qv::win32
