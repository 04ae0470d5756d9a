// Child processes.
#include <windows.h>

#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Text.h"

namespace qv::win32 {

bool Win32Processes::CreateProcessA(const std::string& commandLine, bool inheritHandles, unsigned long creationFlags,
                                    const StartupInfo& startup, ProcessInfo& info) {
    STARTUPINFOA startupInfo = {};
    startupInfo.cb = startup.cb;
    startupInfo.dwFlags = startup.dwFlags;
    startupInfo.wShowWindow = startup.wShowWindow;
    PROCESS_INFORMATION process = {};
    std::vector<char> line = Writable(commandLine);
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, inheritHandles ? TRUE : FALSE, creationFlags,
                          nullptr, nullptr, &startupInfo, &process))
        return false;
    info.process = FromHandle(process.hProcess);
    info.thread = FromHandle(process.hThread);
    info.processId = process.dwProcessId;
    info.threadId = process.dwThreadId;
    return true;
}

unsigned long Win32Processes::WaitForSingleObject(Handle process, unsigned long milliseconds) {
    return ::WaitForSingleObject(ToHandle(process), milliseconds);
}

bool Win32Processes::GetExitCodeProcess(Handle process, unsigned long& exitCode) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(ToHandle(process), &code)) return false;
    exitCode = code;
    return true;
}

bool Win32Processes::CloseHandle(Handle handle) { return ::CloseHandle(ToHandle(handle)) != 0; }

}  // namespace qv::win32
