// End to end on Linux: the installed ventrix, in a copy of the install tree
// with a scripted fake sys_ctrl in its bin/, started as systemd would start it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/NotifyListener.h"
#include "support/TestFiles.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Boot {
    fs::path root;
    fs::path bin;
    Clock::time_point started;
    pid_t pid = -1;
    std::unique_ptr<testsupport::NotifyListener> notify;

    // Milliseconds from the start to t.
    long msAt(Clock::time_point t) const {
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(t - started).count());
    }
};

// A private copy of the installed tree, so that parallel boots keep their
// logs and runs apart.
Boot prepare(const std::string& name, const std::string& plan) {
    Boot b;
    b.root = testsupport::freshDir("e2e-" + name);
    b.bin = b.root / "bin";
    fs::create_directories(b.bin);
    const fs::path installed = fs::path(ORVEL_E2E_INSTALL) / "bin" / "ventrix";
    fs::copy_file(installed, b.bin / "ventrix");
    fs::copy_file(testsupport::binDir() / "fake_sys_ctrl", b.bin / "sys_ctrl");
    testsupport::writeFile(b.bin / "sys_ctrl.plan", plan);
    b.notify = std::make_unique<testsupport::NotifyListener>(testsupport::utf8Of(b.root / "notify.sock"));
    return b;
}

void start(Boot& b) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("NOTIFY_SOCKET=", 0) != 0) {
            env.emplace_back(*e);
        }
    }
    env.push_back("NOTIFY_SOCKET=" + b.notify->path());
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = testsupport::utf8Of(b.root / "output.txt");
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const std::string program = testsupport::utf8Of(b.bin / "ventrix");
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    b.started = Clock::now();
    ASSERT_EQ(posix_spawn(&b.pid, program.c_str(), &actions, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
}

// The exit status, or -1 when it had not ended within the limit (it is then killed).
int waitExit(Boot& b, std::chrono::seconds limit) {
    const auto until = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < until) {
        if (waitpid(b.pid, &status, WNOHANG) == b.pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        b.notify->collect(50ms);
    }
    kill(b.pid, SIGKILL);
    waitpid(b.pid, &status, 0);
    return -1;
}

std::vector<std::string> messagesOf(const std::vector<testsupport::Notification>& ns) {
    std::vector<std::string> out;
    for (const auto& n : ns) {
        out.push_back(n.message);
    }
    return out;
}

// The log file's messages, without time stamps and writing sites.
std::vector<std::string> logMessages(const Boot& b) {
    std::vector<std::string> out;
    for (const std::string& line : testsupport::readLines(b.root / "log" / "BASE" / "ventrix.log")) {
        const std::string::size_type dash = line.find(" - ");
        out.push_back(dash == std::string::npos ? line : line.substr(dash + 3));
    }
    return out;
}

TEST(E2eBootTest, StartThatSucceeds) {
    Boot b = prepare("success", "-l 0\n");
    start(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    const auto notes = b.notify->collect(100ms);
    ASSERT_EQ(messagesOf(notes), (std::vector<std::string>{"STATUS=Service starting", "READY=1\nSTATUS=Service running",
                                                           "STATUS=Service stopped"}));
    EXPECT_LT(b.msAt(notes[1].at), 1000);
    EXPECT_GE(b.msAt(notes[2].at), 17000);
    EXPECT_LT(b.msAt(notes[2].at), 19500);

    const std::vector<std::string> runs = testsupport::readLines(b.bin / "sys_ctrl.runs");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].substr(runs[0].find(' ') + 1), "-l");
    EXPECT_EQ(logMessages(b), (std::vector<std::string>{"serviceMain(): Service starting .",
                                                        "serviceMain(): Service running .", "doStart(): 开始启动系统",
                                                        "doStart(): 启动系统成功", "serviceMain(): Service stopped ."}));
}

TEST(E2eBootTest, SigtermDuringTheSettleDelay) {
    Boot b = prepare("sigterm", "-l 0\n");
    start(b);
    ASSERT_TRUE(b.notify->waitFor("READY=1\nSTATUS=Service running", 5s));
    std::this_thread::sleep_for(2s);
    const auto signalled = Clock::now();
    kill(b.pid, SIGTERM);
    ASSERT_TRUE(b.notify->waitFor("STOPPING=1\nSTATUS=Service stop pending", 5s));
    const auto stopping = b.notify->collect().back().at;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(stopping - signalled).count(), 500);

    ASSERT_EQ(waitExit(b, 60s), 0);
    const auto notes = b.notify->collect(100ms);
    ASSERT_EQ(messagesOf(notes),
              (std::vector<std::string>{"STATUS=Service starting", "READY=1\nSTATUS=Service running",
                                        "STOPPING=1\nSTATUS=Service stop pending", "STATUS=Service stopped"}));
    EXPECT_GE(b.msAt(notes[3].at), 15000);  // the settle delay still runs to its end
    EXPECT_LT(b.msAt(notes[3].at), 17500);
    EXPECT_FALSE(fs::exists(b.bin / "sys_ctrl.runs"));
    EXPECT_EQ(logMessages(b), (std::vector<std::string>{"serviceMain(): Service starting .",
                                                        "serviceMain(): Service running .",
                                                        "serviceMain(): Service stopped ."}));
}

TEST(E2eBootTest, ThreeFailedStartsStillExitZero) {
    Boot b = prepare("three-failures", "-l 2\n-s 0\n");
    start(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    const auto notes = b.notify->collect(100ms);
    ASSERT_EQ(messagesOf(notes).back(), "STATUS=Service stopped");
    EXPECT_GE(b.msAt(notes.back().at), 24000);
    std::vector<std::string> options;
    for (const std::string& run : testsupport::readLines(b.bin / "sys_ctrl.runs")) {
        options.push_back(run.substr(run.find(' ') + 1));
    }
    EXPECT_EQ(options, (std::vector<std::string>{"-l", "-s", "-l", "-s", "-l", "-s"}));
    EXPECT_EQ(logMessages(b).size(), 2u + 3u * 6u + 1u);  // each failure record is three lines
}

}  // namespace
