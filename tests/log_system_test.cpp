// The log system for real: the file beside the binary directory, standard
// error, its life between start and stop, and writers on two threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <log4cplus/layout.h>
#include <log4cplus/spi/loggingevent.h>

#include "LogFile.h"
#include "LogFolder.h"
#include "LogMacros.h"
#include "RecordKinds.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using orvel_public::detail::FileHandle;
using orvel_public::detail::Folder;
using orvel_public::detail::LogFile;
using orvel_public::detail::LogFolder;
using orvel_public::detail::OpenResult;
using testsupport::readLines;

namespace {

fs::path logFile(const std::string& app, const std::string& process) {
    return testsupport::binDir().parent_path() / "log" / app / (process + ".log");
}

std::shared_ptr<const Folder> folderAt(const fs::path& dir) {
    OpenResult result = OpenResult::Failed;
    std::string why;
    std::shared_ptr<const Folder> folder = LogFolder::open(testsupport::utf8Of(dir), {}, result, why);
    EXPECT_TRUE(folder) << why;
    return folder;
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
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(std::string(kRecordPattern) + "serviceMain\\(\\): Service running \\.")))
        << lines[0];
    EXPECT_NE(lines[0].find(" INFO  ["), std::string::npos);
    EXPECT_TRUE(
        std::regex_match(lines[1], std::regex(std::string(kRecordPattern) + "doStart\\(\\): 启动系统失败")))
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
    std::cerr.setstate(std::ios::badbit);  // as a write that failed leaves it
    LOGINFO("lost with the failed write");
    LOGINFO("after a failed write");
    const std::string err = ::testing::internal::GetCapturedStderr();
    orvel_public::StopLogSystem();
    EXPECT_NE(err.find("log_system_test.cpp:"), std::string::npos) << err;
    EXPECT_NE(err.find(" - to standard error 7\n"), std::string::npos) << err;
    EXPECT_NE(err.find(" - after a failed write\n"), std::string::npos) << err;
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
    log4cplus::helpers::SharedObjectPtr<LogFile> log(
        new LogFile(folderAt(file.parent_path()), "ventrix.log", 1 << 20, 1, [](const std::string&) {}));
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

// The real folder, but for the moves of some of its files ("name", or only
// one of them, "from>to"), which fail as those of a file held open or
// pinned do, look-ups that fail ("?name") and the first new file's open
// ("!name", a descriptor not to be had); counts the moves of the live file.
class StuckFolder : public Folder {
public:
    StuckFolder(std::shared_ptr<const Folder> real, std::vector<std::string> stuck)
        : real_(std::move(real)), stuck_(std::move(stuck)) {}
    std::string pathOf(const std::string& name) const override { return real_->pathOf(name); }
    OpenResult openFile(const std::string& name, bool afresh, bool inheritable,
                        FileHandle& out) const override {
        if (afresh && !openFailed_ && std::find(stuck_.begin(), stuck_.end(), "!" + name) != stuck_.end()) {
            openFailed_ = true;
            return OpenResult::Failed;
        }
        return real_->openFile(name, afresh, inheritable, out);
    }
    std::error_code rename(const std::string& from, const std::string& to, bool replace) const override {
        liveMoves += from == "ventrix.log" ? 1 : 0;
        if (std::find(stuck_.begin(), stuck_.end(), from) != stuck_.end() ||
            std::find(stuck_.begin(), stuck_.end(), from + ">" + to) != stuck_.end()) {
            return std::make_error_code(std::errc::device_or_resource_busy);
        }
        return real_->rename(from, to, replace);
    }
    std::error_code remove(const std::string& name) const override { return real_->remove(name); }
    bool exists(const std::string& name) const override {
        return std::find(stuck_.begin(), stuck_.end(), "?" + name) == stuck_.end() && real_->exists(name);
    }
    mutable int liveMoves = 0;

private:
    std::shared_ptr<const Folder> real_;
    std::vector<std::string> stuck_;
    mutable bool openFailed_ = false;
};

// What a folder holds: each file's name and content.
std::map<std::string, std::string> contentsOf(const fs::path& dir) {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::directory_iterator(dir)) {
        out[testsupport::utf8Of(entry.path().filename())] = testsupport::readFile(entry.path());
    }
    return out;
}

struct RollOver {
    const char* name;
    int backups;
    std::vector<std::string> before;              // files there first, each holding its own name
    std::vector<std::string> stuck;               // files, or moves, that cannot be made
    std::vector<std::vector<std::string>> files;  // the file's records, then .1's, .2's ...
    size_t warnings;                              // a roll-over that cannot be made is told once
    int liveMoves;  // and tried again only once the file has grown as much again
};

void PrintTo(const RollOver& r, std::ostream* os) { *os << r.name; }

class LogFileTest : public ::testing::TestWithParam<RollOver> {};

// Seven records of 60 bytes, two to a file of 100: the newest old file is
// name.1, the oldest beyond the backups goes; where a file cannot be moved,
// the live file keeps growing rather than lose a record, and no backup moves.
TEST_P(LogFileTest, RollsOverPastItsSize) {
    const RollOver& r = GetParam();
    const fs::path dir = testsupport::freshDir(std::string("log-file-") + r.name);
    const fs::path file = dir / "ventrix.log";
    for (const std::string& name : r.before) testsupport::writeFile(dir / name, name);
    std::vector<std::string> warnings;
    const auto folder = std::make_shared<StuckFolder>(folderAt(dir), r.stuck);
    log4cplus::helpers::SharedObjectPtr<LogFile> log(new LogFile(
        folder, "ventrix.log", 100, r.backups, [&warnings](const std::string& w) { warnings.push_back(w); }));
    ASSERT_TRUE(log->opened());
    log->setLayout(std::make_unique<log4cplus::PatternLayout>("%m%n"));
    for (int i = 0; i < 7; ++i) {
        log->doAppend(log4cplus::spi::InternalLoggingEvent(
            "test", log4cplus::INFO_LOG_LEVEL, "record " + std::to_string(i) + std::string(50, '.'), __FILE__,
            __LINE__, ""));
    }
    log->close();
    std::map<std::string, std::string> left = contentsOf(dir);
    for (size_t n = 0; n < r.files.size(); ++n) {
        const std::string name = n == 0 ? "ventrix.log" : "ventrix.log." + std::to_string(n);
        std::vector<std::string> records;
        for (const std::string& line : readLines(dir / name))
            records.push_back(line.substr(0, line.find('.')));
        EXPECT_EQ(records, r.files[n]) << name;
        left.erase(name);
    }
    for (const std::string& name : r.before) {
        EXPECT_EQ(left[name], name) << "moved or changed";
        left.erase(name);
    }
    EXPECT_TRUE(left.empty()) << "one file too many: " << left.begin()->first;
    EXPECT_EQ(warnings.size(), r.warnings) << (warnings.empty() ? "" : warnings.front());
    EXPECT_EQ(folder->liveMoves, r.liveMoves);
}

const std::vector<std::string> kFiveBackups = {"ventrix.log.1", "ventrix.log.2", "ventrix.log.3",
                                               "ventrix.log.4", "ventrix.log.5"};
const std::vector<std::string> kEveryRecord = {"record 0", "record 1", "record 2", "record 3",
                                               "record 4", "record 5", "record 6"};

INSTANTIATE_TEST_SUITE_P(
    Size, LogFileTest,
    ::testing::Values(
        RollOver{"TwoBackups",
                 2,
                 {},
                 {},
                 {{"record 6"}, {"record 4", "record 5"}, {"record 2", "record 3"}},
                 0,
                 3},
        // A crash between the moves left the live file's records there: they stay.
        RollOver{"LeftoverOfAnInterruptedRollOver",
                 2,
                 {"ventrix.log.rolling"},
                 {},
                 {{"record 6"}, {"record 4", "record 5"}, {"record 2", "record 3"}},
                 0,
                 6},
        RollOver{"LiveFileCannotBeMoved", 5, kFiveBackups, {"ventrix.log"}, {kEveryRecord}, 1, 3},
        RollOver{
            "FirstOfFiveBackupsCannotBeReplaced", 5, kFiveBackups, {"ventrix.log.1"}, {kEveryRecord}, 1, 3},
        RollOver{
            "LastOfFiveBackupsCannotBeDropped", 5, kFiveBackups, {"ventrix.log.5"}, {kEveryRecord}, 1, 3},
        // The new file cannot be opened once: the next record opens it.
        RollOver{"NewFileCannotBeOpenedOnce",
                 2,
                 {},
                 {"!ventrix.log"},
                 {{"record 6"}, {"record 4", "record 5"}, {"record 2", "record 3"}},
                 1,
                 3},
        // A backup's look-up fails: the move onto it is refused, not made over it.
        RollOver{"LookUpOfABackupFails", 5, kFiveBackups, {"?ventrix.log.3"}, {kEveryRecord}, 1, 3},
        // The last move fails: every backup moved one up is moved back.
        RollOver{"LiveFileCannotBecomeTheFirstBackup",
                 5,
                 kFiveBackups,
                 {"ventrix.log.rolling>ventrix.log.1"},
                 {kEveryRecord},
                 1,
                 3}),
    [](const ::testing::TestParamInfo<RollOver>& info) { return info.param.name; });

// A record's kind by its text, and by its writing site where the text is not
// enough, with the parts that vary as fields of their own.
struct KindCase {
    const char* name;
    const char* text;
    const char* function;
    const char* kind;
    std::vector<std::pair<std::string, std::string>> fields;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class RecordKindTest : public ::testing::TestWithParam<KindCase> {};

TEST_P(RecordKindTest, TellsTheKindAndItsFields) {
    const KindCase& c = GetParam();
    orvel_public::detail::Records records;
    const auto classified = records.classify(c.text, c.function);
    EXPECT_STREQ(classified.kind != nullptr ? classified.kind->kind : "(none)", c.kind);
    const std::vector<std::pair<std::string, std::string>> fields(classified.fields.begin(),
                                                                  classified.fields.end());
    EXPECT_EQ(fields, c.fields);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordKindTest,
    ::testing::Values(
        KindCase{"FailedStart",
                 "doStart(): 启动系统失败\n/opt/my platform/bin/sys_ctrl\nRetrun value == -1",
                 "bool orvel_sys::CSysLauncher::doStart()",
                 "start-failed",
                 {{"QUENDRA_OPTION", "-l"},
                  {"QUENDRA_PROGRAM", "/opt/my platform/bin/sys_ctrl"},
                  {"QUENDRA_STATUS", "-1"}}},
        KindCase{"NotFoundInACleanUp",
                 "未找到可执行文件sys_ctrl",
                 "bool orvel_sys::CSysLauncher::doStop()",
                 "stop-not-found",
                 {{"QUENDRA_OPTION", "-s"}, {"QUENDRA_PROGRAM", "sys_ctrl"}}},
        KindCase{"NotFoundWrittenElsewhere", "未找到可执行文件sys_ctrl", "void f()", "(none)", {}},
        KindCase{"WarningWithAWindowsPath",
                 "log system: cannot roll the log file C:\\Platform\\log\\BASE\\ventrix.log over (Access is "
                 "denied); it keeps every record and grows past 10485760 bytes until it can",
                 "",
                 "log-rollover-stuck",
                 {{"QUENDRA_PATH", "C:\\Platform\\log\\BASE\\ventrix.log"},
                  {"QUENDRA_ERROR", "Access is denied"}}},
        KindCase{"TextOfNoKind",
                 "doStart(): 启动系统成功 !",
                 "bool orvel_sys::CSysLauncher::doStart()",
                 "(none)",
                 {}}),
    [](const ::testing::TestParamInfo<KindCase>& info) { return info.param.name; });

}  // namespace
