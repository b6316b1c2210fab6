#include <windows.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "LogFolder.h"
#include "ProcUtil.h"
#include "Utf8_win.h"

namespace orvel_public {

namespace {

// Past this size, the output file of a program's runs is moved to <name>.1
// (replacing the one before) at its next run, and started afresh.
constexpr LONGLONG kMaxOutputSize = 10LL * 1024 * 1024;

// The stem of a path's file name: "sys_ctrl" for C:\Platform\bin\sys_ctrl.exe.
std::string stemOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string::size_type dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The file a run of program writes its standard output and error to, opened
// for appending and inheritable, with the run's heading written; null where
// the log system has no folder or the file cannot be opened. A service has
// no console: without it the program's own words would be lost.
HANDLE openOutput(const std::string& program, const std::string& args) {
    const std::string stem = stemOf(program);
    const std::string path = detail::logFileFor(stem);
    if (path.empty()) {
        return nullptr;
    }
    const std::wstring wide = detail::widen(path);
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &info) &&
        (static_cast<LONGLONG>(info.nFileSizeHigh) << 32 | info.nFileSizeLow) > kMaxOutputSize) {
        (void)MoveFileExW(wide.c_str(), (wide + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    // Shared for deleting too, so that it can be moved aside while daemons
    // that the program left running still write to it.
    const HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char stamp[32];
    (void)std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth,
                        now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    const std::string heading = std::string("---- ") + stamp + " " + stem + " " + args + "\r\n";
    DWORD written = 0;
    (void)WriteFile(file, heading.data(), static_cast<DWORD>(heading.size()), &written, nullptr);
    return file;
}

// The attribute list that lets the child inherit one handle and no other.
class InheritOnly {
public:
    explicit InheritOnly(HANDLE handle) : handle_(handle) {
        SIZE_T size = 0;
        (void)InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (!InitializeProcThreadAttributeList(list_, 1, 0, &size)) {
            list_ = nullptr;
            return;
        }
        if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_, sizeof handle_,
                                       nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
        }
    }
    ~InheritOnly() {
        if (list_ != nullptr) {
            DeleteProcThreadAttributeList(list_);
        }
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

private:
    HANDLE handle_;
    std::vector<char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

int32_t runProgram(const std::string& program, const std::string& args) {
    std::string commandLine = detail::quoteWindowsArg(program);
    for (const std::string& word : detail::splitArgs(args)) {
        commandLine += ' ';
        commandLine += detail::quoteWindowsArg(word);
    }
    const std::wstring application = detail::widen(program);
    std::wstring command = detail::widen(commandLine);  // CreateProcessW may write into it

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    const HANDLE output = openOutput(program, args);
    const InheritOnly only(output);
    DWORD flags = CREATE_NO_WINDOW;
    BOOL inherit = FALSE;
    if (output != nullptr && only.get() != nullptr) {
        // Standard output and error to the file; that handle alone is
        // inherited (it is listed once: CreateProcess refuses a handle listed
        // twice), and the log file and all else stays ours. Nothing here
        // reads the output, so nothing waits on daemons that keep it open.
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdOutput = output;
        startup.StartupInfo.hStdError = output;
        startup.lpAttributeList = only.get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
        inherit = TRUE;
    }
    PROCESS_INFORMATION info{};
    const BOOL created = CreateProcessW(application.c_str(), command.data(), nullptr, nullptr, inherit, flags,
                                        nullptr, nullptr, &startup.StartupInfo, &info);
    if (output != nullptr) {
        CloseHandle(output);
    }
    if (!created) {
        return -1;
    }
    CloseHandle(info.hThread);
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    const BOOL got = GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    return got ? static_cast<int32_t>(code) : -1;
}

}  // namespace

int32_t CProcUtil::execScript(const std::string& program, const std::string& args) {
    // Out of memory before the child exists: a run that could not be made.
    try {
        return runProgram(program, args);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

}  // namespace orvel_public
