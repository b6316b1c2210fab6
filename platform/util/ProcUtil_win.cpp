#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "ProcUtil.h"
#include "RunHooks.h"
#include "Utf8_win.h"

namespace orvel_public {

namespace {

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
    const OutputHandle given = detail::runStarting(program, args);
    const HANDLE output = given == kNoOutput ? nullptr : reinterpret_cast<HANDLE>(given);
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
    int32_t status = -1;
    try {
        status = runProgram(program, args);
    } catch (const std::bad_alloc&) {
    }
    detail::runEnded(program, args, status);
    return status;
}

}  // namespace orvel_public
