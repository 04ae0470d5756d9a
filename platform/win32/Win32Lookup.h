// Calls that older systems lack are looked up when first needed, so the
// program still starts where they are missing.
#pragma once

#include <windows.h>

#include <string>

namespace qv::win32 {

// A DLL is loaded from the system folder by its full path: by a bare name it
// would be looked for in the current directory too, the install directory.
inline HMODULE LoadFromSystemFolder(const char* module) {
    char folder[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return nullptr;
    return LoadLibraryA((std::string(folder) + "\\" + module).c_str());
}

template <typename Function>
Function Find(const char* module, const char* name) {
    HMODULE library = GetModuleHandleA(module);
    if (!library) library = LoadFromSystemFolder(module);
    return library ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name))) : nullptr;
}

}  // namespace qv::win32
