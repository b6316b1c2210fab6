// The journal appender against a journal of our own: a datagram socket in a
// temporary folder, read back as journald reads its native protocol.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <log4cplus/layout.h>
#include <log4cplus/spi/loggingevent.h>
#include <log4cplus/config.hxx>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "JournalAppender.h"
#include "JournalStream.h"
#include "support/TestFiles.h"

namespace {

using namespace std::chrono_literals;
using orvel_public::detail::JournalAppender;
using Fields = std::vector<std::pair<std::string, std::string>>;

// An entry's fields as journald parses the datagram: "NAME=value\n", or
// "NAME\n", the value's length as 64-bit little-endian, the value and "\n".
Fields parseEntry(const std::string& d) {
    Fields out;
    for (size_t i = 0; i < d.size();) {
        const size_t nl = d.find('\n', i);
        if (nl == std::string::npos) {
            ADD_FAILURE() << "unterminated field at " << i;
            break;
        }
        const std::string line = d.substr(i, nl - i);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) {
            out.emplace_back(line.substr(0, eq), line.substr(eq + 1));
            i = nl + 1;
            continue;
        }
        uint64_t size = 0;
        for (int k = 7; k >= 0 && nl + 1 + k < d.size(); --k) {
            size = size << 8 | static_cast<unsigned char>(d[nl + 1 + k]);
        }
        const size_t value = nl + 9;
        if (value + size >= d.size() || d[value + size] != '\n') {
            ADD_FAILURE() << "field " << line << ": length " << size << " does not fit the datagram";
            break;
        }
        out.emplace_back(line, d.substr(value, size));
        i = value + size + 1;
    }
    return out;
}

// A journal's socket at path; gone when destroyed, as when journald stops.
class Journal {
public:
    explicit Journal(std::string path) : path_(std::move(path)) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        unlink(path_.c_str());
        EXPECT_EQ(bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path_;
    }
    ~Journal() {
        close(fd_);
        unlink(path_.c_str());
    }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // The entries that arrived, each read within limit of the one before, at
    // most max datagrams; an empty one is read and dropped, as journald does.
    std::vector<Fields> entries(std::chrono::milliseconds limit = 200ms, size_t max = SIZE_MAX) {
        std::vector<Fields> out;
        std::string buf(1 << 20, '\0');
        pollfd p{fd_, POLLIN, 0};
        for (size_t read = 0; read < max && poll(&p, 1, static_cast<int>(limit.count())) == 1; ++read) {
            const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
            if (n < 0) break;
            if (n > 0) out.push_back(parseEntry(buf.substr(0, static_cast<size_t>(n))));
        }
        return out;
    }

private:
    std::string path_;
    int fd_ = -1;
};

// A folder of this test process's own: ctest runs the tests of a suite at once.
std::filesystem::path privateDir() { return testsupport::freshDir("journal-" + std::to_string(getpid())); }

std::string field(const Fields& f, const std::string& name) {
    for (const auto& [n, v] : f) {
        if (n == name) return v;
    }
    return "(none)";
}

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        static const bool initialised = (log4cplus::initialize(), true);
        (void)initialised;
        appender_ = new JournalAppender("ventrix", path_);
        appender_->setLayout(std::make_unique<log4cplus::PatternLayout>("%p %m%n"));
    }
    void TearDown() override { appender_->close(); }

    log4cplus::spi::InternalLoggingEvent event(log4cplus::LogLevel level, const std::string& message) {
        return log4cplus::spi::InternalLoggingEvent("ventrix", level, message, "MainWindows.cpp", 42,
                                                    "void f()");
    }
    void log(log4cplus::LogLevel level, const std::string& message) {
        appender_->doAppend(event(level, message));
    }
    // What log writes to standard error instead of the journal.
    std::string logToStandardError(log4cplus::LogLevel level, const std::string& message) {
        ::testing::internal::CaptureStderr();
        log(level, message);
        return ::testing::internal::GetCapturedStderr();
    }

    const std::string path_ = testsupport::utf8Of(privateDir() / "socket");
    std::unique_ptr<Journal> journal_ = std::make_unique<Journal>(path_);
    log4cplus::helpers::SharedObjectPtr<JournalAppender> appender_;
};

TEST_F(JournalTest, EachLevelHasItsSyslogPriority) {
    const std::vector<std::pair<log4cplus::LogLevel, const char*>> table = {
        {log4cplus::TRACE_LOG_LEVEL, "7"}, {log4cplus::DEBUG_LOG_LEVEL, "7"},
        {log4cplus::INFO_LOG_LEVEL, "6"},  {log4cplus::WARN_LOG_LEVEL, "4"},
        {log4cplus::ERROR_LOG_LEVEL, "3"}, {log4cplus::FATAL_LOG_LEVEL, "2"}};
    for (const auto& [level, priority] : table) {
        log(level, "at a level");
        const auto got = journal_->entries();
        ASSERT_EQ(got.size(), 1u) << level;
        EXPECT_EQ(field(got[0], "PRIORITY"), priority) << level;
    }
}

TEST_F(JournalTest, AnEntryCarriesTheRecordAndItsWritingSite) {
    const auto record = event(log4cplus::ERROR_LOG_LEVEL, "doStart(): 启动系统失败");
    appender_->doAppend(record);
    ASSERT_TRUE(appender_->sendWarning("log system: cannot open the log file"));
    EXPECT_EQ(journal_->entries(), (std::vector<Fields>{{{"MESSAGE", "doStart(): 启动系统失败"},
                                                         {"PRIORITY", "3"},
                                                         {"SYSLOG_IDENTIFIER", "ventrix"},
                                                         {"CODE_FILE", "MainWindows.cpp"},
                                                         {"CODE_LINE", "42"},
                                                         {"CODE_FUNC", "void f()"},
                                                         {"TID", record.getThread2()}},
                                                        {{"MESSAGE", "log system: cannot open the log file"},
                                                         {"PRIORITY", "4"},
                                                         {"SYSLOG_IDENTIFIER", "ventrix"}}}));
}

// A value with a line feed travels with its length, so that a record of
// several lines stays one entry, whatever its size.
TEST_F(JournalTest, ValuesOfEveryLengthArriveWhole) {
    const auto lines = [](size_t size) {
        std::string v(size, 'x');
        for (size_t i = 0; i < size; i += 40) v[i] = '\n';
        return v;
    };
    const std::vector<std::string> table = {
        "one line",
        "",
        "\n",
        lines(255),
        lines(256),
        lines(4096 + 17),
        "doStart(): 启动系统失败\n/opt/platform/bin/sys_ctrl\nRetrun value == 2"};
    for (const std::string& message : table) {
        log(log4cplus::INFO_LOG_LEVEL, message);
        const auto got = journal_->entries();
        ASSERT_EQ(got.size(), 1u) << message.size();
        EXPECT_EQ(field(got[0], "MESSAGE"), message) << message.size();
        EXPECT_EQ(field(got[0], "PRIORITY"), "6") << message.size();
    }
}

TEST_F(JournalTest, AnEntryTooLargeForADatagramGoesToStandardErrorWhole) {
    const std::string huge(1 << 20, 'h');
    EXPECT_EQ(logToStandardError(log4cplus::ERROR_LOG_LEVEL, huge), "<3>ERROR " + huge + "\n");
    EXPECT_TRUE(journal_->entries().empty());
    log(log4cplus::INFO_LOG_LEVEL, "after it");  // the socket is still good
    EXPECT_EQ(journal_->entries().size(), 1u);
}

// journald restarting: its socket is gone for a while, or already back at
// the same path when the next record comes.
size_t openDescriptors() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<size_t>(std::distance(begin(fds), end(fds)));
}

TEST_F(JournalTest, RecordsKeepTheirPriorityAcrossAJournalRestart) {
    log(log4cplus::INFO_LOG_LEVEL, "before");
    ASSERT_EQ(journal_->entries().size(), 1u);
    const size_t descriptors = openDescriptors();

    journal_.reset();
    journal_ = std::make_unique<Journal>(path_);
    EXPECT_EQ(logToStandardError(log4cplus::ERROR_LOG_LEVEL, "right after the restart"), "");
    auto got = journal_->entries();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(field(got[0], "PRIORITY"), "3");

    journal_.reset();
    // On the journal's stream instead, each line at its priority.
    EXPECT_EQ(logToStandardError(log4cplus::ERROR_LOG_LEVEL,
                                 "while it is away\n/opt/x/sys_ctrl\nRetrun value == 2"),
              "<3>ERROR while it is away\n<3>/opt/x/sys_ctrl\n<3>Retrun value == 2\n");
    EXPECT_EQ(logToStandardError(log4cplus::INFO_LOG_LEVEL, "still away"), "<6>INFO still away\n");
    EXPECT_FALSE(appender_->sendWarning("no journal to warn"));
    journal_ = std::make_unique<Journal>(path_);
    log(log4cplus::WARN_LOG_LEVEL, "once it is back");
    got = journal_->entries();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(field(got[0], "MESSAGE"), "once it is back");
    EXPECT_EQ(field(got[0], "PRIORITY"), "4");
    EXPECT_EQ(openDescriptors(), descriptors) << "a socket left open on the way";
}

// Closing waits until the journal has dealt with every record, within a
// bound: until it has read the empty datagram sent after them, as journald
// looks the sender up only once it has read a record.
TEST_F(JournalTest, CloseWaitsForTheJournalToReadPastTheLastRecordWithinASecond) {
    for (const bool reads : {true, false}) {
        log(log4cplus::INFO_LOG_LEVEL, "the last record");
        std::thread reader([&] {
            std::this_thread::sleep_for(300ms);
            if (reads) {
                EXPECT_EQ(journal_->entries(0ms, 1).size(), 1u);  // the record, not yet what follows it
                std::this_thread::sleep_for(300ms);
                EXPECT_EQ(journal_->entries(0ms).size(), 0u);
            }
        });
        const auto begin = std::chrono::steady_clock::now();
        appender_->close();
        const auto took = std::chrono::steady_clock::now() - begin;
        reader.join();
        EXPECT_GE(took, reads ? 550ms : 950ms) << reads;
        EXPECT_LT(took, reads ? 1000ms : 2500ms) << reads;
        journal_->entries(0ms);
        SetUp();
    }
}

struct StreamCase {
    const char* name;
    const char* value;  // JOURNAL_STREAM, with D and I for the stream's device and inode; null: unset
    bool journal;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class JournalStreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(JournalStreamTest, OnlyTheAnnouncedStreamIsTheJournal) {
    const StreamCase& c = GetParam();
    const auto dir = privateDir();
    testsupport::writeFile(dir / "stream", "");
    FILE* stream = std::fopen((dir / "stream").c_str(), "r");
    ASSERT_NE(stream, nullptr);
    struct stat st {};
    ASSERT_EQ(fstat(fileno(stream), &st), 0);

    if (c.value == nullptr) {
        unsetenv("JOURNAL_STREAM");
    } else {
        std::string value;
        for (const char* p = c.value; *p != '\0'; ++p) {
            if (*p == 'D') {
                value += std::to_string(st.st_dev);
            } else if (*p == 'I') {
                value += std::to_string(st.st_ino);
            } else {
                value += *p;
            }
        }
        setenv("JOURNAL_STREAM", value.c_str(), 1);
    }
    EXPECT_EQ(orvel_public::detail::streamIsJournal(fileno(stream)), c.journal);
    unsetenv("JOURNAL_STREAM");
    std::fclose(stream);
}

INSTANTIATE_TEST_SUITE_P(
    Stream, JournalStreamTest,
    ::testing::Values(StreamCase{"Matching", "D:I", true}, StreamCase{"Unset", nullptr, false},
                      StreamCase{"Empty", "", false}, StreamCase{"NoColon", "D", false},
                      StreamCase{"NoDevice", ":I", false}, StreamCase{"NoInode", "D:", false},
                      StreamCase{"TrailingText", "D:I0x", false},
                      StreamCase{"TextAfterTheRealInode", "D:I;", false},
                      StreamCase{"Overflow", "D:99999999999999999999999", false},
                      StreamCase{"AnotherInode", "D:I1", false}, StreamCase{"AnotherDevice", "1D:I", false}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

}  // namespace
