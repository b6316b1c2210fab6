#include "Boot.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestFiles.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace testsupport {

const std::vector<std::string> kSuccessfulBootRecords = {
    "serviceMain(): Service starting .", "serviceMain(): Service running .", "doStart(): 开始启动系统",
    "doStart(): 启动系统成功", "serviceMain(): Service stopped ."};

long Boot::msAt(Clock::time_point t) const {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(t - started).count());
}

std::vector<std::string> Boot::runs() const { return runsIn(bin); }

std::vector<std::string> Boot::logMessages() const {
    return testsupport::logMessages(root / "log" / "BASE" / "ventrix.log");
}

std::string Boot::output() const { return readFile(root / "output.txt"); }

std::string Boot::lastRun() const {
    const std::string record = readFile(root / "run" / "last-run");
    return record.substr(0, record.find_last_not_of(" \n") + 1);
}

Boot prepareBoot(const std::string& name, const std::string& plan, bool withControlProgram) {
    Boot b;
    b.root = freshDir("e2e-" + name);
    b.bin = b.root / "bin";
    fs::create_directories(b.bin);
    fs::copy_file(fs::path(ORVEL_E2E_INSTALL) / "bin" / "ventrix", b.bin / "ventrix");
    if (withControlProgram) {
        fs::copy_file(binDir() / "fake_sys_ctrl", b.bin / "sys_ctrl");
        writeFile(b.bin / "sys_ctrl.plan", plan);
    }
    b.notify = std::make_unique<NotifyListener>(utf8Of(b.root / "notify.sock"));
    return b;
}

void startBoot(Boot& b, Streams streams) {
    std::vector<std::string> env;
    const auto overridden = [&b](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        if (name == "NOTIFY_SOCKET=" || name == "RUNTIME_DIRECTORY=") return true;
        for (const std::string& extra : b.extraEnv) {
            if (extra.rfind(name, 0) == 0) return true;
        }
        return false;
    };
    for (char** e = environ; *e != nullptr; ++e) {
        if (!overridden(*e)) {
            env.emplace_back(*e);
        }
    }
    env.push_back("NOTIFY_SOCKET=" + b.notify->path());
    // The runtime folder systemd makes for the unit, unless the test names one.
    fs::create_directories(b.root / "run");
    env.push_back("RUNTIME_DIRECTORY=" + utf8Of(b.root / "run"));
    env.insert(env.end(), b.extraEnv.begin(), b.extraEnv.end());
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = utf8Of(b.root / "output.txt");
    int pipeFds[2] = {-1, -1};
    if (streams == Streams::Closed) {
        for (int fd = 0; fd <= 2; ++fd) {
            posix_spawn_file_actions_addclose(&actions, fd);
        }
    } else if (streams == Streams::BrokenPipe) {
        if (pipe2(pipeFds, O_CLOEXEC) == 0) {
            close(pipeFds[0]);  // the reader has gone before the first record
            posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
            posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
        }
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    std::vector<std::string> words = b.wrapper;
    words.push_back(utf8Of(b.bin / "ventrix"));
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    // An ignored signal stays ignored through exec; the test's own are restored at once.
    std::vector<struct sigaction> saved(b.ignoredSignals.size());
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    for (size_t i = 0; i < b.ignoredSignals.size(); ++i) sigaction(b.ignoredSignals[i], &ignore, &saved[i]);
    b.started = Clock::now();
    const int err = posix_spawn(&b.pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    for (size_t i = 0; i < b.ignoredSignals.size(); ++i) sigaction(b.ignoredSignals[i], &saved[i], nullptr);
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[1] >= 0) close(pipeFds[1]);
    if (err != 0) {
        b.pid = -1;
    }
}

int waitExit(Boot& b, std::chrono::seconds limit) {
    if (b.pid < 0) {
        return -1;
    }
    const auto until = Clock::now() + limit;
    int status = 0;
    rusage usage{};
    const auto cpuOf = [&usage] {
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000L +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000L;
    };
    while (Clock::now() < until) {
        if (wait4(b.pid, &status, WNOHANG, &usage) == b.pid) {
            b.cpuMs = cpuOf();
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        b.notify->collect(50ms);
    }
    kill(b.pid, SIGKILL);
    wait4(b.pid, &status, 0, &usage);
    b.cpuMs = cpuOf();
    return -1;
}

std::vector<std::string> messagesOf(const std::vector<Notification>& ns) {
    std::vector<std::string> out;
    for (const auto& n : ns) {
        out.push_back(n.message);
    }
    return out;
}

}  // namespace testsupport
