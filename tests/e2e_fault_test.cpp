// Faults on a real host at boot, on the installed Linux build: each boot must
// complete with exit code 0, leave the operator a clear record, lose nothing.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

// The records whose last line is line.
size_t count(const std::vector<std::string>& records, const std::string& line) {
    return static_cast<size_t>(std::count_if(records.begin(), records.end(), [&line](const std::string& r) {
        return r.size() >= line.size() && r.compare(r.size() - line.size(), line.size(), line) == 0 &&
               (r.size() == line.size() || r[r.size() - line.size() - 1] == '\n');
    }));
}

void expectToldOnce(const std::string& out, const std::string& warning) {
    EXPECT_NE(out.find(warning), std::string::npos) << out;
    EXPECT_EQ(out.find(warning), out.rfind(warning)) << out;
}

TEST(E2eFaultTest, LogFolderThatCannotBeCreated) {
    Boot b = prepareBoot("no-log-folder", "-l 0\n");
    writeFile(b.root / "log", "a file where the log folder should be");
    startBoot(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    EXPECT_EQ(b.runs(), std::vector<std::string>{"-l"});
    const std::string out = b.output();
    EXPECT_NE(out.find("log system: cannot create the log folder"), std::string::npos) << out;
    for (const char* record : {"serviceMain(): Service running .", "doStart(): 启动系统成功",
                               "serviceMain(): Service stopped ."}) {
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
    expectToldOnce(
        out, "log system: cannot write the log file " + utf8Of(b.root / "log" / "BASE" / "ventrix.log"));
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
                   {},
                   underEmulation() ? "Retrun value == 127" : "Retrun value == 126",
                   4,
                   0},
        BadProgram{"DanglingLink",
                   [](const fs::path& bin) { fs::create_symlink(bin / "gone", bin / "sys_ctrl"); },
                   {},
                   "",
                   0,
                   4},
        BadProgram{
            "Folder", [](const fs::path& bin) { fs::create_directory(bin / "sys_ctrl"); }, {}, "", 0, 4}),
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
    ASSERT_TRUE(b.notify->waitFor("STATUS=Service stop pending", 5s));
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
    // From the start's run (at 16 s, later on a loaded host) stopped comes at the next tick.
    const auto ran = Clock::now() + 30s;
    while (b.runs().empty() && Clock::now() < ran) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(b.runs(), std::vector<std::string>{"-l"});
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
    startBoot(b, Streams::Closed);
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

// What a parent may leave behind: the boot is the same, and sys_ctrl still
// starts with default dispositions and nothing blocked.
struct Inherited {
    const char* name;
    std::vector<int> ignored;
    Streams streams;
};

void PrintTo(const Inherited& c, std::ostream* os) { *os << c.name; }

class E2eInheritedTest : public ::testing::TestWithParam<Inherited> {};

TEST_P(E2eInheritedTest, TheStartIsTheSameWhateverTheParentLeft) {
    const Inherited& c = GetParam();
    Boot b = prepareBoot(std::string("inherited-") + c.name, "-l sigs\n");
    b.ignoredSignals = c.ignored;
    startBoot(b, c.streams);
    ASSERT_EQ(waitExit(b, 60s), 0);
    EXPECT_EQ(b.runs(), std::vector<std::string>{"-l"});
    EXPECT_EQ(b.logMessages(), kSuccessfulBootRecords);
    const std::vector<std::string> sigs = readLines(b.bin / "sys_ctrl.sigs");
    ASSERT_EQ(sigs.size(), 2u);
    EXPECT_EQ(sigs[0], "SigBlk:\t0000000000000000");
    // glibc's posix_spawn leaves its own two internal signals (32 and 33) ignored.
    EXPECT_EQ(std::stoull(sigs[1].substr(sigs[1].find('\t') + 1), nullptr, 16) & ~0x180000000ULL, 0u)
        << sigs[1];
}

INSTANTIATE_TEST_SUITE_P(Boot, E2eInheritedTest,
                         ::testing::Values(Inherited{"SigchldIgnored", {SIGCHLD}, Streams::ToFile},
                                           Inherited{"BrokenPipe", {}, Streams::BrokenPipe},
                                           Inherited{
                                               "AllOfIt", {SIGCHLD, SIGPIPE, SIGTERM}, Streams::BrokenPipe}),
                         [](const ::testing::TestParamInfo<Inherited>& info) { return info.param.name; });

// A task limit of one (pids.max, as TasksMax sets it): the dispatcher cannot
// start the service thread, and says so.
TEST(E2eFaultTest, NoThreadToBeHad) {
    const fs::path group = fs::path("/sys/fs/cgroup/pids") / ("orvel-e2e-" + std::to_string(getpid()));
    std::error_code ec;
    if (!fs::create_directory(group, ec) || ec) {
        GTEST_SKIP() << "no pids cgroup to limit tasks in: " << ec.message();
    }
    // qemu-user, where the suite runs emulated, needs a thread of its own first.
    writeFile(group / "pids.max", underEmulation() ? "2" : "1");
    Boot b = prepareBoot("no-thread", "-l 0\n");
    b.wrapper = {"/bin/sh", "-c", "echo $$ >" + utf8Of(group / "cgroup.procs") + " && exec \"$0\""};
    // LeakSanitizer, where it is built in, needs a thread of its own at the exit.
    b.extraEnv = {"ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=0"};
    startBoot(b);
    const int status = waitExit(b, 60s);
    fs::remove(group, ec);
    ASSERT_EQ(status, 0);
    EXPECT_FALSE(fs::exists(b.bin / "sys_ctrl.runs"));
    EXPECT_EQ(b.logMessages(),
              std::vector<std::string>{"main(): StartServiceCtrlDispatcher() return false !"});
}

// Past its bound, a live file whose roll-over cannot be made (a bind mount,
// in a mount namespace of the test's own, on the live file or on the first
// backup) keeps growing, and the five backups stay as they were.
class E2eStuckRollOverTest : public ::testing::TestWithParam<const char*> {};

TEST_P(E2eStuckRollOverTest, KeepsEveryRecordAndEveryBackup) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "no mount namespace of the test's own";
    }
    Boot b = prepareBoot(std::string("log-stuck-") + GetParam(), "-l 0\n");
    const fs::path live = b.root / "log" / "BASE" / "ventrix.log";
    fs::create_directories(live.parent_path());
    std::ofstream(live) << std::string(10 * 1024 * 1024 + 1, 'x') << '\n';
    const auto backup = [&live](int n) { return fs::path(utf8Of(live) + "." + std::to_string(n)); };
    for (int n = 1; n <= 5; ++n) writeFile(backup(n), "backup " + std::to_string(n) + "\n");
    const fs::path pinned = live.parent_path() / GetParam();
    ASSERT_EQ(mount(pinned.c_str(), pinned.c_str(), nullptr, MS_BIND, nullptr), 0);
    startBoot(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(readFile(backup(n)), "backup " + std::to_string(n) + "\n") << n;
    EXPECT_EQ(b.logMessages(), kSuccessfulBootRecords);
    expectToldOnce(b.output(), "log system: cannot roll the log file " + utf8Of(live) + " over");
}

INSTANTIATE_TEST_SUITE_P(Boot, E2eStuckRollOverTest, ::testing::Values("ventrix.log", "ventrix.log.1"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "ventrix.log" ? "LiveFile" : "FirstBackup";
                         });

// What the account that owns the log folders (the platform's) could plant,
// and an administrator's own link: root writes through a link only where
// root alone could have placed it, and nothing behind a refused one.
struct Planted {
    const char* name;
    const char* ownedByThePlatform;  // a folder below the root, or null
    void (*plant)(const fs::path& root);
    const char* warning;  // "" where the link is followed
    const char* logAt;    // where the records land, below the root
};

void PrintTo(const Planted& c, std::ostream* os) { *os << c.name; }

class E2ePlantedLinkTest : public ::testing::TestWithParam<Planted> {};

TEST_P(E2ePlantedLinkTest, IsFollowedOnlyWhereRootAlonePlacedIt) {
    const Planted& c = GetParam();
    Boot b = prepareBoot(std::string("planted-") + c.name, "-l 0\n");
    // A root-only folder and file, which no record may reach.
    const fs::path secret = b.root / "secret";
    fs::create_directories(secret);
    fs::permissions(secret, fs::perms::owner_all);
    writeFile(secret / "ventrix.log", "root's own\n");
    fs::permissions(secret / "ventrix.log", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directories(b.root / "log");
    if (c.ownedByThePlatform != nullptr) {
        fs::create_directories(b.root / c.ownedByThePlatform);
        ASSERT_EQ(chown((b.root / c.ownedByThePlatform).c_str(), 4711, 4711), 0);
    }
    c.plant(b.root);
    startBoot(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    EXPECT_EQ(readFile(secret / "ventrix.log"), "root's own\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(secret), fs::directory_iterator()), 1)
        << "made behind the link";
    const std::string out = b.output();
    if (*c.warning != '\0') {
        expectToldOnce(out, c.warning);
        for (const std::string& record : kSuccessfulBootRecords) {
            EXPECT_NE(out.find(" - " + record + "\n"), std::string::npos) << record;
        }
    } else {
        EXPECT_EQ(out.find("log system:"), std::string::npos) << out;
        EXPECT_EQ(logMessages(b.root / c.logAt), kSuccessfulBootRecords);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boot, E2ePlantedLinkTest,
    ::testing::Values(Planted{"SymbolicLink", "log/BASE",
                              [](const fs::path& root) {
                                  fs::create_symlink(root / "secret" / "ventrix.log",
                                                     root / "log" / "BASE" / "ventrix.log");
                              },
                              "log system: refuses the log file ", ""},
                      Planted{"HardLink", "log/BASE",
                              [](const fs::path& root) {
                                  fs::create_hard_link(root / "secret" / "ventrix.log",
                                                       root / "log" / "BASE" / "ventrix.log");
                              },
                              "log system: refuses the log file ", ""},
                      // The log folder itself a link, in log/ of the platform's account.
                      Planted{"FolderLink", "log",
                              [](const fs::path& root) {
                                  fs::create_symlink("../secret", root / "log" / "BASE");
                              },
                              "log system: refuses the log folder ", ""},
                      // Root's own link, whose way leads through a folder of
                      // the platform's account and on to a link there.
                      Planted{"LinkBeyondAnotherAccountsFolder", "platform",
                              [](const fs::path& root) {
                                  fs::create_symlink("../secret", root / "platform" / "logs");
                                  fs::create_symlink("../platform/logs", root / "log" / "BASE");
                              },
                              "log system: refuses the log folder ", ""},
                      // An administrator's, in root's own log/: followed, by a
                      // relative way and by a full path alike.
                      Planted{"AdministratorsLink", nullptr,
                              [](const fs::path& root) {
                                  fs::create_directories(root / "elsewhere");
                                  fs::create_symlink("../elsewhere", root / "log" / "BASE");
                              },
                              "", "elsewhere/ventrix.log"},
                      Planted{"AdministratorsFullPathLink", nullptr,
                              [](const fs::path& root) {
                                  fs::create_directories(root / "elsewhere");
                                  fs::create_symlink(root / "elsewhere", root / "log" / "BASE");
                              },
                              "", "elsewhere/ventrix.log"}),
    [](const ::testing::TestParamInfo<Planted>& info) { return info.param.name; });

// A run record the unit's stop could not trust: the boot is the same, and
// the operator is told once.
TEST(E2eFaultTest, RunRecordThatCannotBeKept) {
    Boot b = prepareBoot("run-record", "-l 0\n");
    fs::create_directories(b.root / "run" / "last-run");
    startBoot(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    EXPECT_EQ(b.runs(), std::vector<std::string>{"-l"});
    EXPECT_EQ(b.logMessages(), kSuccessfulBootRecords);
    expectToldOnce(b.output(),
                   "log system: cannot keep the run record " + utf8Of(b.root / "run" / "last-run"));
}

}  // namespace
