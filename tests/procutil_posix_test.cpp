// What only POSIX systems do: signals, descriptors, EINTR.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "ProcUtil.h"
#include "procutil_expect.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using orvel_public::CProcUtil;

namespace expect {
const int32_t kNotFound = 127;
const int32_t kCannotExecute = testsupport::underEmulation() ? 127 : 126;

orvel_public::OutputHandle openForChild(const fs::path& file) {
    return open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}
}  // namespace expect

namespace {

TEST(ExecScriptPosixTest, ChildKilledBySignalGives128PlusTheSignal) {
    for (const int sig : {SIGKILL, SIGTERM, SIGINT}) {
        EXPECT_EQ(CProcUtil::execScript(childPath(), "signal:" + std::to_string(sig)), 128 + sig) << sig;
    }
}

TEST(ExecScriptPosixTest, LargeExitCodesAreCutToEightBitsByTheSystem) {
    EXPECT_EQ(CProcUtil::execScript(childPath(), "exit:300"), 300 & 0xff);
    EXPECT_EQ(CProcUtil::execScript(childPath(), "exit:-1"), 255);
}

TEST(ExecScriptPosixTest, OnlyStandardDescriptorsReachTheChild) {
    const fs::path dir = testsupport::freshDir("fds");
    const int leaky = open("/dev/null", O_RDONLY);  // no close-on-exec, as log4cplus opens its file
    ASSERT_GE(leaky, 3);
    ASSERT_EQ(CProcUtil::execScript(childPath(), "fds:" + (dir / "fds.txt").string()), 0);
    close(leaky);
    std::vector<std::string> fds;
    for (const std::string& line : testsupport::readLines(dir / "fds.txt")) {
        fds.push_back(line.substr(0, line.find(' ')));
    }
    EXPECT_EQ(fds, (std::vector<std::string>{"0", "1", "2"}));
}

TEST(ExecScriptPosixTest, ChildDoesNotGetTheNotificationSocket) {
    const fs::path dir = testsupport::freshDir("env");
    setenv("NOTIFY_SOCKET", "/run/orvel-test/notify", 1);
    setenv("ORVEL_PASSED_ON", "yes", 1);
    ASSERT_EQ(CProcUtil::execScript(childPath(), "env:" + (dir / "env.txt").string()), 0);
    EXPECT_STREQ(getenv("NOTIFY_SOCKET"), "/run/orvel-test/notify");  // still the launcher's
    unsetenv("NOTIFY_SOCKET");
    unsetenv("ORVEL_PASSED_ON");
    const std::vector<std::string> env = testsupport::readLines(dir / "env.txt");
    EXPECT_NE(std::find(env.begin(), env.end(), "ORVEL_PASSED_ON=yes"), env.end());
    for (const std::string& var : env) {
        EXPECT_NE(var.rfind("NOTIFY_SOCKET=", 0), 0u) << var;
    }
}

TEST(ExecScriptPosixTest, ChildDoesNotInheritBlockedStopSignals) {
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &old);
    const int32_t result = CProcUtil::execScript(childPath(), "kill");
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    EXPECT_EQ(result, 128 + SIGTERM);
}

void onAlarm(int) {}

TEST(ExecScriptPosixTest, WaitIsResumedWhenASignalInterruptsIt) {
    struct sigaction sa {};
    sa.sa_handler = onAlarm;  // no SA_RESTART: waitpid sees EINTR
    struct sigaction old {};
    sigaction(SIGALRM, &sa, &old);
    itimerval every20ms{{0, 20000}, {0, 20000}};
    setitimer(ITIMER_REAL, &every20ms, nullptr);
    const int32_t result = CProcUtil::execScript(childPath(), "sleep:300");
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_EQ(result, 0);
}

TEST(ExecScriptPosixTest, ProgramIsNeverSearchedOnThePath) {
    EXPECT_EQ(CProcUtil::execScript("true", ""), 127);
    EXPECT_EQ(CProcUtil::execScript("fake_sys_ctrl", "exit:0"), 127);
}

}  // namespace
