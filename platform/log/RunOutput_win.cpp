// A service has no console: on Windows, what the programs the process runs
// say on their standard output and error goes to
// <log folder>\<process>.<program's stem>.log, appended run after run, each
// run under a heading of its own, and moved to .1 at the next run once past
// 10 MB. The log system hands the runner this through its hooks while it has
// a folder; the file is opened through the folder's own handles, as the log
// file is.
// Winsock 2 before <windows.h>, as log4cplus's headers (through LogPlatform.h) need.
#include <winsock2.h>

#include <windows.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "LogFolder.h"
#include "LogPlatform.h"
#include "RollOver.h"
#include "RunHooks.h"

namespace orvel_public::detail {

namespace {

constexpr std::uint64_t kMaxOutputSize = 10ULL * 1024 * 1024;

std::mutex g_lock;
std::shared_ptr<const Folder> g_folder;  // null while the log system has no folder
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
    std::shared_ptr<const Folder> folder;
    std::string name;
    {
        std::lock_guard<std::mutex> held(g_lock);
        if (!g_folder) {
            return kNoOutput;
        }
        folder = g_folder;
        name = g_process + "." + stem + ".log";
    }
    FileHandle file = kNoFile;
    if (folder->openFile(name, false, true, file) != OpenResult::Opened) {
        return kNoOutput;
    }
    if (sizeOf(file) > kMaxOutputSize) {
        closeFile(file);
        file = kNoFile;
        (void)rollOver(*folder, name, 1);
        if (folder->openFile(name, false, true, file) != OpenResult::Opened) {
            return kNoOutput;
        }
    }
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char stamp[32];
    (void)std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth,
                        now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    (void)writeAll(file, std::string("---- ") + stamp + " " + stem + " " + args + "\r\n");
    return static_cast<OutputHandle>(file);
}

const RunHooks kHooks{openRunOutput, nullptr};

}  // namespace

void keepRunRecords(const std::shared_ptr<const Folder>& folder, const std::string& processName) {
    {
        std::lock_guard<std::mutex> held(g_lock);
        g_folder = folder;
        g_process = processName;
    }
    setRunHooks(&kHooks);
}

void dropRunRecords() {
    setRunHooks(nullptr);
    std::lock_guard<std::mutex> held(g_lock);
    g_folder.reset();
}

}  // namespace orvel_public::detail
