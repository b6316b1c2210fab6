#include <errno.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>
#include <unistd.h>
// The writing site is the record's, not this file's.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <log4cplus/spi/loggingevent.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "JournalAppender.h"

namespace orvel_public::detail {

namespace {

int priorityOf(log4cplus::LogLevel level) {
    if (level >= log4cplus::FATAL_LOG_LEVEL) return LOG_CRIT;
    if (level >= log4cplus::ERROR_LOG_LEVEL) return LOG_ERR;
    if (level >= log4cplus::WARN_LOG_LEVEL) return LOG_WARNING;
    if (level >= log4cplus::INFO_LOG_LEVEL) return LOG_INFO;
    return LOG_DEBUG;
}

// Fields go as they are: a message of several lines stays one entry.
bool send(const std::vector<std::string>& fields) {
    std::vector<iovec> iov;
    iov.reserve(fields.size());
    for (const std::string& f : fields) {
        iov.push_back({const_cast<char*>(f.data()), f.size()});
    }
    return sd_journal_sendv(iov.data(), static_cast<int>(iov.size())) >= 0;
}

}  // namespace

bool standardErrorIsJournal() {
    // "<device>:<inode>" of the stream systemd connected; standard error may
    // since have been redirected elsewhere, so it must still be that stream.
    // Read once, while the log system starts and no other thread runs yet.
    const char* stream = std::getenv("JOURNAL_STREAM");  // NOLINT(concurrency-mt-unsafe)
    if (stream == nullptr) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long device = std::strtoull(stream, &end, 10);
    if (errno != 0 || end == stream || *end != ':') {
        return false;
    }
    const char* inodeText = end + 1;
    const unsigned long long inode = std::strtoull(inodeText, &end, 10);
    if (errno != 0 || end == inodeText || *end != '\0') {
        return false;
    }
    struct stat st {};
    if (fstat(2, &st) != 0 || st.st_dev != device || st.st_ino != inode) {
        return false;
    }
    // sd_journal_sendv() drops records without a word when the journal's
    // socket is missing, so records go there only when it is present.
    return access("/run/systemd/journal/socket", W_OK) == 0;
}

JournalAppender::JournalAppender(std::string identifier) : identifier_(std::move(identifier)) {}

JournalAppender::~JournalAppender() { destructorImpl(); }

void JournalAppender::close() { closed = true; }

bool JournalAppender::sendWarning(const std::string& text) const {
    return send(
        {"MESSAGE=" + text, "PRIORITY=" + std::to_string(LOG_WARNING), "SYSLOG_IDENTIFIER=" + identifier_});
}

void JournalAppender::append(const log4cplus::spi::InternalLoggingEvent& event) {
    const bool sent = send({
        "MESSAGE=" + event.getMessage(),
        "PRIORITY=" + std::to_string(priorityOf(event.getLogLevel())),
        "SYSLOG_IDENTIFIER=" + identifier_,
        "CODE_FILE=" + event.getFile(),
        "CODE_LINE=" + std::to_string(event.getLine()),
        "CODE_FUNC=" + event.getFunction(),
        "TID=" + event.getThread2(),
    });
    if (!sent) {
        std::ostringstream line;
        layout->formatAndAppend(line, event);
        (void)std::fputs(line.str().c_str(), stderr);
        (void)std::fflush(stderr);
    }
}

}  // namespace orvel_public::detail
