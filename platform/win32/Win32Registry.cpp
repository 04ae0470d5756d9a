// The registry under HKEY_LOCAL_MACHINE.
#include <windows.h>

#include "platform/win32/Win32Platform.h"

namespace qv::win32 {

namespace {
HKEY ToKey(Handle key) { return reinterpret_cast<HKEY>(key); }
}  // namespace

long Win32Registry::OpenKey(const std::string& subKey, unsigned long access, Handle& key) {
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, access, &opened);
    key = status == ERROR_SUCCESS ? reinterpret_cast<Handle>(opened) : 0;
    return status;
}

long Win32Registry::CloseKey(Handle key) { return RegCloseKey(ToKey(key)); }

long Win32Registry::QueryValue(Handle key, const std::string& name, char* data, unsigned long& size) {
    DWORD bytes = size;
    const LONG status =
        RegQueryValueExA(ToKey(key), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data), &bytes);
    size = bytes;
    return status;
}

long Win32Registry::SetValue(Handle key, const std::string& name, unsigned long type, const char* data,
                             unsigned long size) {
    return RegSetValueExA(ToKey(key), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data), size);
}

long Win32Registry::DeleteKey(const std::string& subKey) { return RegDeleteKeyA(HKEY_LOCAL_MACHINE, subKey.c_str()); }

}  // namespace qv::win32
