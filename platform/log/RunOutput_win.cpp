// A service has no console: on Windows, what the programs the process runs
// say on their standard output and error goes to
// <log folder>\<process>.<program's stem>.log, appended run after run, each
// run under a heading of its own, and moved to .1 at the next run once past
// 10 MB. The log system hands the runner this source while it has a folder.
#include <windows.h>
#include <winsock2.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "ChildOutput.h"
#include "LogPlatform.h"
#include "Paths.h"
#include "RollOver.h"
#include "Utf8_win.h"

namespace orvel_public::detail {

namespace {

constexpr LONGLONG kMaxOutputSize = 10LL * 1024 * 1024;

std::mutex g_lock;
std::string g_folder;  // "" while the log system has no folder
std::string g_process;

// The stem of a path's file name: "sys_ctrl" for C:\Platform\bin\sys_ctrl.exe.
std::string stemOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string::size_type dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The file opened for appending and inheritable, with the run's heading
// written; kNoOutput where it cannot be opened.
OutputHandle openRunOutput(const std::string& program, const std::string& args) {
    const std::string stem = stemOf(program);
    std::string path;
    {
        std::lock_guard<std::mutex> held(g_lock);
        if (g_folder.empty()) {
            return kNoOutput;
        }
        path = g_folder + pathSeparator() + g_process + "." + stem + ".log";
    }
    const std::wstring wide = widen(path);
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &info) &&
        (static_cast<LONGLONG>(info.nFileSizeHigh) << 32 | info.nFileSizeLow) > kMaxOutputSize) {
        (void)rollOver(std::filesystem::path(wide), 1);
    }
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    // Shared for deleting too, so that it can be moved aside while daemons
    // that the program left running still write to it.
    const HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return kNoOutput;
    }
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char stamp[32];
    (void)std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth,
                        now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    const std::string heading = std::string("---- ") + stamp + " " + stem + " " + args + "\r\n";
    DWORD written = 0;
    (void)WriteFile(file, heading.data(), static_cast<DWORD>(heading.size()), &written, nullptr);
    return reinterpret_cast<OutputHandle>(file);
}

}  // namespace

void keepChildOutput(const std::string& folder, const std::string& processName) {
    {
        std::lock_guard<std::mutex> held(g_lock);
        g_folder = folder;
        g_process = processName;
    }
    setChildOutputSource(openRunOutput);
}

void dropChildOutput() {
    setChildOutputSource(nullptr);
    std::lock_guard<std::mutex> held(g_lock);
    g_folder.clear();
}

}  // namespace orvel_public::detail
