// Faults on a real host at boot, on the installed Linux build: each boot must
// complete with exit code 0, leave the operator a clear record, lose nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/Boot.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace testsupport;

namespace {

const std::vector<std::string> kSixRuns = {"-l", "-s", "-l", "-s", "-l", "-s"};

size_t count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

TEST(E2eFaultTest, LogFolderThatCannotBeCreated) {
    Boot b = prepareBoot("no-log-folder", "-l 0\n");
    writeFile(b.root / "log", "a file where the log folder should be");
    startBoot(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    EXPECT_EQ(b.runs(), std::vector<std::string>{"-l"});
    const std::string out = b.output();
    EXPECT_NE(out.find("log system: cannot create the log folder"), std::string::npos) << out;
    for (const char* record : {"serviceMain(): Service running .", "doStart(): 启动系统成功", "serviceMain(): Service stopped ."}) {
        EXPECT_NE(out.find(std::string(" - ") + record + "\n"), std::string::npos) << record;
    }
}

TEST(E2eFaultTest, LogFileOnAFullDisk) {
    Boot b = prepareBoot("disk-full", "-l 0\n");
    fs::create_directories(b.root / "log" / "BASE");
    fs::create_symlink("/dev/full", b.root / "log" / "BASE" / "ventrix.log");
    startBoot(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    EXPECT_EQ(b.runs(), std::vector<std::string>{"-l"});
    EXPECT_EQ(messagesOf(b.notify->collect(100ms)).back(), "STATUS=Service stopped");
    const std::string out = b.output();
    EXPECT_NE(out.find(" - serviceMain(): Service stopped .\n"), std::string::npos);
    // Told once, where the operator looks, that the log file takes nothing.
    const std::string warning = "log system: cannot write the log file " + utf8Of(b.root / "log" / "BASE" / "ventrix.log");
    EXPECT_NE(out.find(warning), std::string::npos) << out;
    EXPECT_EQ(out.find(warning), out.rfind(warning)) << out;
}

// Standard error announced as the journal, with no journal to take the
// records: each must still reach standard error, as text.
TEST(E2eFaultTest, JournalThatTakesNoRecords) {
    if (fs::exists("/run/systemd/journal/socket")) {
        GTEST_SKIP() << "this machine has a journal, which would take the records";
    }
    Boot b = prepareBoot("no-journal", "-l 0\n");
    writeFile(b.root / "output.txt", "");
    struct stat st {};
    ASSERT_EQ(stat((b.root / "output.txt").c_str(), &st), 0);
    b.extraEnv = {"JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)};
    startBoot(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    const std::string out = b.output();
    for (const std::string& record : kSuccessfulBootRecords) {
        EXPECT_NE(out.find(" - " + record + "\n"), std::string::npos) << record;
    }
}

struct BadProgram {
    const char* name;
    void (*make)(const fs::path& bin);
    std::vector<std::string> runs;
    const char* failure;  // the last line of each failed run's record
    size_t failures;
    size_t notFound;
};

void PrintTo(const BadProgram& c, std::ostream* os) { *os << c.name; }

class E2eBadProgramTest : public ::testing::TestWithParam<BadProgram> {};

TEST_P(E2eBadProgramTest, EachRunFailsWithItsRecordAndTheRetryPolicyHolds) {
    const BadProgram& c = GetParam();
    Boot b = prepareBoot(std::string("bad-") + c.name, "-l kill\n-s 0\n", std::string(c.name) == "Killed");
    c.make(b.bin);
    startBoot(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    EXPECT_EQ(b.runs(), c.runs);
    const std::vector<std::string> log = b.logMessages();
    EXPECT_EQ(count(log, c.failure), c.failures);
    EXPECT_EQ(count(log, "未找到可执行文件sys_ctrl"), c.notFound);
    EXPECT_EQ(log.back(), "serviceMain(): Service stopped .");
}

INSTANTIATE_TEST_SUITE_P(
    Boot, E2eBadProgramTest,
    ::testing::Values(
        BadProgram{"Killed", [](const fs::path&) {}, kSixRuns, "Retrun value == 143", 3, 0},
        BadProgram{"NotExecutable",
                   [](const fs::path& bin) {
                       writeFile(bin / "sys_ctrl", "#!/bin/sh\nexit 0\n");
                       fs::permissions(bin / "sys_ctrl", fs::perms::owner_read | fs::perms::owner_write);
                   },
                   // one failed start and three failed clean-ups, then it gives up
                   {}, "Retrun value == 126", 4, 0},
        BadProgram{"DanglingLink", [](const fs::path& bin) { fs::create_symlink(bin / "gone", bin / "sys_ctrl"); }, {},
                   "", 0, 4},
        BadProgram{"Folder", [](const fs::path& bin) { fs::create_directory(bin / "sys_ctrl"); }, {}, "", 0, 4}),
    [](const ::testing::TestParamInfo<BadProgram>& info) { return info.param.name; });

TEST(E2eFaultTest, ProgramWritingFiftyMegabytes) {
    Boot b = prepareBoot("spew", "-l spew:52428800\n");
    startBoot(b);
    ASSERT_EQ(waitExit(b, 90s), 0);
    EXPECT_EQ(b.runs(), std::vector<std::string>{"-l"});
    EXPECT_EQ(b.logMessages().back(), "serviceMain(): Service stopped .");
    EXPECT_GE(fs::file_size(b.root / "output.txt"), 2u * 52428800u);
}

TEST(E2eFaultTest, SigtermDuringALongRunIsReportedAtOnceAndActedOnAfterIt) {
    Boot b = prepareBoot("long-run", "-l sleep:10000\n");
    startBoot(b);
    // The run starts at 16 s; the signal comes 3 s into it.
    std::this_thread::sleep_for(19s);
    const auto signalled = Clock::now();
    kill(b.pid, SIGTERM);
    ASSERT_TRUE(b.notify->waitFor("STOPPING=1\nSTATUS=Service stop pending", 5s));
    EXPECT_LT(b.msAt(b.notify->collect().back().at) - b.msAt(signalled), 500);
    ASSERT_EQ(waitExit(b, 60s), 0);
    const auto notes = b.notify->collect(100ms);
    EXPECT_EQ(notes.back().message, "STATUS=Service stopped");
    EXPECT_GE(b.msAt(notes.back().at), 26000);  // the run went to its end, then one tick
    EXPECT_EQ(b.runs(), std::vector<std::string>{"-l"});
}

void storm(pid_t pid, int signals) {
    for (int i = 0; i < signals; ++i) {
        kill(pid, SIGTERM);
    }
}

TEST(E2eFaultTest, StopStormDuringTheSettleDelay) {
    Boot b = prepareBoot("storm-settle", "-l 0\n");
    startBoot(b);
    ASSERT_TRUE(b.notify->waitFor("READY=1\nSTATUS=Service running", 5s));
    storm(b.pid, 1000);
    ASSERT_EQ(waitExit(b, 60s), 0);
    const auto notes = messagesOf(b.notify->collect(100ms));
    EXPECT_EQ(notes.back(), "STATUS=Service stopped");
    EXPECT_FALSE(fs::exists(b.bin / "sys_ctrl.runs"));
}

TEST(E2eFaultTest, StopStormWhileReportingStopped) {
    Boot b = prepareBoot("storm-stopped", "-l 0\n");
    startBoot(b);
    std::this_thread::sleep_for(16500ms);  // the start has succeeded; stopped comes at 17 s
    const auto until = Clock::now() + 1500ms;
    while (Clock::now() < until && kill(b.pid, 0) == 0) {
        storm(b.pid, 50);
    }
    ASSERT_EQ(waitExit(b, 60s), 0);
    EXPECT_EQ(messagesOf(b.notify->collect(100ms)).back(), "STATUS=Service stopped");
    EXPECT_EQ(b.runs(), std::vector<std::string>{"-l"});
}

TEST(E2eFaultTest, StartedWithStandardStreamsClosed) {
    Boot b = prepareBoot("closed-streams", "-l 0\n");
    startBoot(b, true);
    ASSERT_EQ(waitExit(b, 60s), 0);
    EXPECT_EQ(b.runs(), std::vector<std::string>{"-l"});
    // Each record exactly once: a log file given descriptor 2 would take the
    // standard-error copies too.
    EXPECT_EQ(b.logMessages(), kSuccessfulBootRecords);
}

TEST(E2eFaultTest, OnlyStandardDescriptorsReachTheControlProgram) {
    Boot b = prepareBoot("descriptors", "-l fds\n");
    startBoot(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    const std::vector<std::string> fds = readLines(b.bin / "sys_ctrl.fds");
    ASSERT_EQ(fds.size(), 3u) << readFile(b.bin / "sys_ctrl.fds");
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(fds[i].substr(0, 2), std::to_string(i) + " ");
        EXPECT_EQ(fds[i].find("ventrix.log"), std::string::npos) << fds[i];
    }
}

}  // namespace
