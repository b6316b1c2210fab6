// Under systemd, what the process ran last, for the unit's stop
// (packaging/systemd/stop-platform): in the runtime folder systemd makes for
// each start of the unit and removes at its stop (RuntimeDirectory=, named
// by RUNTIME_DIRECTORY), the file last-run holds "none" from the start of
// the log system, "<args> running" while a program runs, and "<args>
// <status>" once it has ended. The stop decides from it whether the platform
// may be up. A record that cannot be kept is emptied, or removed, so that
// the stop does not take a stale one for the last word (it then stops the
// platform whatever ran), and the operator is told once.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>

#include "LogPlatform.h"
#include "RunHooks.h"

namespace orvel_public::detail {

namespace {

// Fixed, so that one write replaces the whole record.
constexpr size_t kRecordSize = 64;

std::mutex g_lock;
std::string g_path;  // "" where there is no runtime folder
int g_fd = -1;
bool g_told = false;

void writeLocked(const std::string& text) {
    if (g_path.empty()) {
        return;
    }
    if (g_fd < 0) {
        g_fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    std::string record = text.substr(0, kRecordSize - 1);
    record.resize(kRecordSize - 1, ' ');
    record += '\n';
    const ssize_t written = g_fd >= 0 ? pwrite(g_fd, record.data(), record.size(), 0) : -1;
    if (written == static_cast<ssize_t>(record.size())) {
        return;
    }
    const int error = written < 0 ? errno : EIO;  // a short write sets no errno
    if (g_fd < 0 || ftruncate(g_fd, 0) != 0) {
        (void)unlink(g_path.c_str());
    }
    if (!g_told) {
        g_told = true;
        warnOperator("log system: cannot keep the run record " + g_path + " (" +
                     std::generic_category().message(error) +
                     "): the unit's stop will run sys_ctrl -s whatever this start did");
    }
}

OutputHandle starting(const std::string& /*program*/, const std::string& args) {
    std::lock_guard<std::mutex> held(g_lock);
    writeLocked(args + " running");
    return kNoOutput;  // the child keeps the process's own streams: under systemd, the journal
}

void ended(const std::string& /*program*/, const std::string& args, int32_t status) {
    std::lock_guard<std::mutex> held(g_lock);
    writeLocked(args + " " + std::to_string(status));
}

const RunHooks kHooks{starting, ended};

}  // namespace

void keepRunRecords(const std::shared_ptr<const Folder>& /*folder*/, const std::string& /*processName*/) {
    {
        std::lock_guard<std::mutex> held(g_lock);
        // The first of several folders systemd may name is the unit's own.
        // Read while the process has no second thread.
        const char* folders = std::getenv("RUNTIME_DIRECTORY");  // NOLINT(concurrency-mt-unsafe)
        const std::string folder =
            folders != nullptr ? std::string(folders).substr(0, std::strcspn(folders, ":")) : "";
        g_path = !folder.empty() && folder[0] == '/' ? folder + "/last-run" : "";
        g_told = false;
        writeLocked("none");
    }
    setRunHooks(&kHooks);
}

void dropRunRecords() {
    setRunHooks(nullptr);
    std::lock_guard<std::mutex> held(g_lock);
    if (g_fd >= 0) {
        close(g_fd);
        g_fd = -1;
    }
    g_path.clear();
}

}  // namespace orvel_public::detail
