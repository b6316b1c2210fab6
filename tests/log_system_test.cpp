// The log system for real: the file beside the binary directory, standard
// error, its life between start and stop, and writers on two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <log4cplus/layout.h>
#include <log4cplus/spi/loggingevent.h>

#include "LogFile.h"
#include "LogMacros.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using testsupport::readLines;

namespace {

fs::path logFile(const std::string& app, const std::string& process) {
    return testsupport::binDir().parent_path() / "log" / app / (process + ".log");
}

// A fresh log file for the process name: stale records from an earlier run would mislead.
fs::path freshLog(const std::string& process) {
    const fs::path file = logFile("BASE", process);
    fs::remove(file);
    return file;
}

const char* const kRecordPattern =
    R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (INFO |ERROR) \[\d+\] log_system_test\.cpp:\d+ - )";

TEST(LogSystemTest, RecordsLandInTheFileWithLevelAndLayout) {
    const fs::path file = freshLog("layout");
    orvel_public::StartLogSystem("BASE", "layout");
    LOGINFO("serviceMain(): Service running .");
    LOGERROR("doStart(): 启动系统失败\n%s\nRetrun value == %d", "/opt/x/sys_ctrl", 2);
    orvel_public::StopLogSystem();

    const std::vector<std::string> lines = readLines(file);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kRecordPattern) + "serviceMain\\(\\): Service running \\.")))
        << lines[0];
    EXPECT_NE(lines[0].find(" INFO  ["), std::string::npos);
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(std::string(kRecordPattern) + "doStart\\(\\): 启动系统失败")))
        << lines[1];
    EXPECT_NE(lines[1].find(" ERROR ["), std::string::npos);
    EXPECT_EQ(lines[2], "/opt/x/sys_ctrl");
    EXPECT_EQ(lines[3], "Retrun value == 2");
}

TEST(LogSystemTest, NothingIsWrittenBeforeTheStartOrAfterTheStop) {
    const fs::path file = freshLog("lifecycle");
    bool ok = true;
    orvel_public::getLogger(ok);
    EXPECT_FALSE(ok);
    LOGINFO("before the start");

    orvel_public::StopLogSystem();  // a stop without a start is harmless
    orvel_public::StartLogSystem("BASE", "lifecycle");
    orvel_public::StartLogSystem("BASE", "lifecycle");  // and so is a second start
    orvel_public::getLogger(ok);
    EXPECT_TRUE(ok);
    LOGINFO("while started");
    orvel_public::StopLogSystem();
    orvel_public::StopLogSystem();

    orvel_public::getLogger(ok);
    EXPECT_FALSE(ok);
    LOGERROR("after the stop");

    const std::vector<std::string> lines = readLines(file);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("- while started"), std::string::npos);
}

TEST(LogSystemTest, RecordsAlsoGoToStandardError) {
    freshLog("stderr");
    orvel_public::StartLogSystem("BASE", "stderr");
    ::testing::internal::CaptureStderr();
    LOGINFO("to standard error %d", 7);
    const std::string err = ::testing::internal::GetCapturedStderr();
    orvel_public::StopLogSystem();
    EXPECT_NE(err.find("log_system_test.cpp:"), std::string::npos) << err;
    EXPECT_NE(err.find(" - to standard error 7\n"), std::string::npos) << err;
}

struct Blocked {
    const char* name;
    const char* app;
    const char* process;
    const char* warning;
};

void PrintTo(const Blocked& b, std::ostream* os) { *os << b.name; }

class UnwritableLogTest : public ::testing::TestWithParam<Blocked> {};

// Root may write anywhere, so the folder is blocked by a file of the same name,
// or the log file by a folder.
TEST_P(UnwritableLogTest, RecordsStillReachStandardErrorAndTheCallerGoesOn) {
    const Blocked& b = GetParam();
    const fs::path logRoot = testsupport::binDir().parent_path() / "log";
    fs::create_directories(logRoot);
    if (std::string(b.app) == "blocked-folder") {
        fs::remove_all(logRoot / b.app);
        testsupport::writeFile(logRoot / b.app, "not a folder");
    } else {
        fs::create_directories(logFile(b.app, b.process));
    }

    ::testing::internal::CaptureStderr();
    orvel_public::StartLogSystem(b.app, b.process);
    LOGERROR("still told %s", "somewhere");
    bool ok = false;
    orvel_public::getLogger(ok);
    orvel_public::StopLogSystem();
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_TRUE(ok);
    EXPECT_NE(err.find(b.warning), std::string::npos) << err;
    EXPECT_NE(err.find("records go to standard error only"), std::string::npos) << err;
    EXPECT_NE(err.find(" - still told somewhere\n"), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Folder, UnwritableLogTest,
    ::testing::Values(Blocked{"FolderCannotBeCreated", "blocked-folder", "p", "cannot create the log folder"},
                      Blocked{"FileCannotBeOpened", "blocked-file", "p", "cannot open the log file"}),
    [](const ::testing::TestParamInfo<Blocked>& info) { return info.param.name; });

TEST(LogSystemTest, RecordsFromTwoThreadsArriveWhole) {
    const fs::path file = freshLog("threads");
    orvel_public::StartLogSystem("BASE", "threads");
    constexpr int kRecords = 2000;
    const std::string filler(300, 'z');
    auto writer = [&](char who) {
        for (int i = 0; i < kRecords; ++i) {
            LOGINFO("writer %c record %d %s end", who, i, filler.c_str());
        }
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    orvel_public::StopLogSystem();

    const std::regex whole(std::string(kRecordPattern) + "writer ([ab]) record (\\d+) z{300} end");
    int seen[2] = {0, 0};
    const std::vector<std::string> lines = readLines(file);
    ASSERT_EQ(lines.size(), 2u * kRecords);
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        const int who = m[2].str() == "a" ? 0 : 1;
        EXPECT_EQ(std::stoi(m[3].str()), seen[who]++);  // each writer's records in its own order
    }
}

// The log file closes under its own lock, as the log system stops while
// another thread may still write: each record is written whole, or not at all.
TEST(LogSystemTest, LogFileClosedUnderAWriterTearsNoRecord) {
    const fs::path file = testsupport::freshDir("log-file-close-under-writer") / "ventrix.log";
    log4cplus::helpers::SharedObjectPtr<orvel_public::detail::LogFile> log(
        new orvel_public::detail::LogFile(file, 1 << 20, 1, [](const std::string&) {}));
    log->setLayout(std::make_unique<log4cplus::PatternLayout>("%m%n"));
    std::atomic<int> written{0};
    std::atomic<bool> closed{false};
    ::testing::internal::CaptureStderr();  // log4cplus's word on appends after the close
    std::thread writer([&log, &written, &closed] {
        for (int i = 0; !closed; ++i, ++written) {
            log->doAppend(log4cplus::spi::InternalLoggingEvent(
                "test", log4cplus::INFO_LOG_LEVEL, "record " + std::to_string(i), __FILE__, __LINE__, ""));
        }
    });
    while (written < 100) std::this_thread::yield();
    log->close();
    closed = true;
    writer.join();
    (void)::testing::internal::GetCapturedStderr();
    const std::vector<std::string> lines = readLines(file);
    EXPECT_GE(lines.size(), 100u);
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], "record " + std::to_string(i));
}

struct RollOver {
    const char* name;
    int backups;
    bool firstBackupIsAFolder;                    // one that cannot be replaced
    std::vector<std::vector<std::string>> files;  // the file's records, then .1's, .2's ...
    size_t warnings;                              // a roll-over that cannot be made is told once
};

void PrintTo(const RollOver& r, std::ostream* os) { *os << r.name; }

class LogFileTest : public ::testing::TestWithParam<RollOver> {};

// Seven records of 60 bytes, two to a file of 100: the newest old file is
// name.1, the oldest beyond the backups goes, and where the file cannot be
// moved aside it keeps growing rather than lose a record.
TEST_P(LogFileTest, RollsOverPastItsSize) {
    const RollOver& r = GetParam();
    const fs::path dir = testsupport::freshDir(std::string("log-file-") + r.name);
    const fs::path file = dir / "ventrix.log";
    if (r.firstBackupIsAFolder) {
        fs::create_directories(dir / "ventrix.log.1");
        testsupport::writeFile(dir / "ventrix.log.1" / "kept", "");
    }
    std::vector<std::string> warnings;
    log4cplus::helpers::SharedObjectPtr<orvel_public::detail::LogFile> log(new orvel_public::detail::LogFile(
        file, 100, r.backups, [&warnings](const std::string& w) { warnings.push_back(w); }));
    ASSERT_TRUE(log->opened());
    log->setLayout(std::make_unique<log4cplus::PatternLayout>("%m%n"));
    for (int i = 0; i < 7; ++i) {
        log->doAppend(log4cplus::spi::InternalLoggingEvent(
            "test", log4cplus::INFO_LOG_LEVEL, "record " + std::to_string(i) + std::string(50, '.'), __FILE__,
            __LINE__, ""));
    }
    log->close();
    for (size_t n = 0; n < r.files.size(); ++n) {
        const fs::path f = n == 0 ? file : fs::path(file.string() + "." + std::to_string(n));
        std::vector<std::string> records;
        for (const std::string& line : readLines(f)) records.push_back(line.substr(0, line.find('.')));
        EXPECT_EQ(records, r.files[n]) << f;
    }
    EXPECT_FALSE(fs::is_regular_file(file.string() + "." + std::to_string(r.files.size())))
        << "one old file too many";
    EXPECT_EQ(warnings.size(), r.warnings);
    EXPECT_FALSE(fs::exists(file.string() + ".rolling"));
}

INSTANTIATE_TEST_SUITE_P(
    Size, LogFileTest,
    ::testing::Values(
        RollOver{
            "TwoBackups", 2, false, {{"record 6"}, {"record 4", "record 5"}, {"record 2", "record 3"}}, 0},
        RollOver{"BackupThatCannotBeReplaced",
                 1,
                 true,
                 {{"record 0", "record 1", "record 2", "record 3", "record 4", "record 5", "record 6"}},
                 1}),
    [](const ::testing::TestParamInfo<RollOver>& info) { return info.param.name; });

}  // namespace
