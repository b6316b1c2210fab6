#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ProcUtil.h"
#include "RunHooks.h"

extern char** environ;

namespace orvel_public {

namespace {

// The child starts with default signal handling and nothing blocked: the
// service host blocks its stop signals in every thread, and a child must not
// inherit that.
class SpawnAttributes {
public:
    SpawnAttributes() {
        posix_spawnattr_init(&attr_);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr_, &none);
        sigset_t all;
        sigfillset(&all);
        posix_spawnattr_setsigdefault(&attr_, &all);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return &attr_; }

private:
    posix_spawnattr_t attr_;
};

// Only standard input, output and error reach the child: the log file and
// anything else the process holds open stays ours. Output and error are the
// descriptor given, where there is one (dup2 comes first: closefrom would
// close it).
class SpawnFileActions {
public:
    explicit SpawnFileActions(OutputHandle output) {
        posix_spawn_file_actions_init(&actions_);
        if (output != kNoOutput) {
            posix_spawn_file_actions_adddup2(&actions_, static_cast<int>(output), 1);
            posix_spawn_file_actions_adddup2(&actions_, static_cast<int>(output), 2);
        }
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    }
    ~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

// The process's environment without NOTIFY_SOCKET: the launcher's channel to
// systemd is its own, and a platform daemon started through sys_ctrl must not
// be able to report status in its name.
std::vector<char*> childEnvironment() {
    static const char kHidden[] = "NOTIFY_SOCKET=";
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, kHidden, sizeof kHidden - 1) != 0) {
            env.push_back(*e);
        }
    }
    env.push_back(nullptr);
    return env;
}

// A parent may have left SIGCHLD ignored (or SA_NOCLDWAIT set), and passed
// that on through exec: children are then reaped by the kernel and every
// status is lost to waitpid. The default takes it back, for the process's
// whole life; the child gets the default anyway.
void keepChildStatuses() {
    struct sigaction current {};
    if (sigaction(SIGCHLD, nullptr, &current) == 0 &&
        (current.sa_handler == SIG_IGN || (current.sa_flags & SA_NOCLDWAIT) != 0)) {
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigemptyset(&byDefault.sa_mask);
        (void)sigaction(SIGCHLD, &byDefault, nullptr);
    }
}

int32_t statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return 126;
}

int32_t runProgram(const std::string& program, const std::string& args) {
    std::vector<std::string> words = detail::splitArgs(args);
    std::vector<char*> argv;
    argv.reserve(words.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    keepChildStatuses();
    const SpawnAttributes attr;
    std::vector<char*> env = childEnvironment();
    const OutputHandle output = detail::runStarting(program, args);
    const SpawnFileActions actions(output);
    pid_t pid = 0;
    // glibc reports a failed exec here, so a missing program is told apart
    // from one that ran and exited 127.
    const int err = posix_spawn(&pid, program.c_str(), actions.get(), attr.get(), argv.data(), env.data());
    if (output != kNoOutput) {
        close(static_cast<int>(output));
    }
    if (err != 0) {
        return (err == ENOENT || err == ENOTDIR || err == ENAMETOOLONG || err == ELOOP) ? 127 : 126;
    }

    int status = 0;
    for (;;) {
        const pid_t got = waitpid(pid, &status, 0);
        if (got == pid) {
            return statusOf(status);
        }
        if (got < 0 && errno != EINTR) {
            return 126;
        }
    }
}

}  // namespace

int32_t CProcUtil::execScript(const std::string& program, const std::string& args) {
    // Out of memory before the child exists: a run that could not be made.
    int32_t status = 126;
    try {
        status = runProgram(program, args);
    } catch (const std::bad_alloc&) {
    }
    detail::runEnded(program, args, status);
    return status;
}

}  // namespace orvel_public
