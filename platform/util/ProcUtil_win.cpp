#include <windows.h>

#include "ProcUtil.h"
#include "Utf8_win.h"

namespace orvel_public {

int32_t CProcUtil::execScript(const std::string& program, const std::string& args) {
    std::string commandLine = detail::quoteWindowsArg(program);
    for (const std::string& word : detail::splitArgs(args)) {
        commandLine += ' ';
        commandLine += detail::quoteWindowsArg(word);
    }
    const std::wstring application = detail::widen(program);
    std::wstring command = detail::widen(commandLine);  // CreateProcessW may write into it

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // No inherited handles: the log file and whatever else we hold stays ours.
    if (!CreateProcessW(application.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info)) {
        return -1;
    }
    CloseHandle(info.hThread);
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    const BOOL got = GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    return got ? static_cast<int32_t>(code) : -1;
}

}  // namespace orvel_public
