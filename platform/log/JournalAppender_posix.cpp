#include <errno.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <log4cplus/spi/loggingevent.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "JournalAppender.h"

namespace orvel_public::detail {

const char* const kJournalSocket = "/run/systemd/journal/socket";

namespace {

int priorityOf(log4cplus::LogLevel level) {
    if (level >= log4cplus::FATAL_LOG_LEVEL) return LOG_CRIT;
    if (level >= log4cplus::ERROR_LOG_LEVEL) return LOG_ERR;
    if (level >= log4cplus::WARN_LOG_LEVEL) return LOG_WARNING;
    if (level >= log4cplus::INFO_LOG_LEVEL) return LOG_INFO;
    return LOG_DEBUG;
}

// One entry in the journal's native protocol, which systemd documents as
// stable for programs that do not link libsystemd (linking it would load six
// more libraries at every start): "NAME=value\n", or, for a value of several
// lines, "NAME\n", its length as 64-bit little-endian, the value and "\n", so
// that a message of several lines stays one entry.
std::string entryOf(const JournalFields& fields) {
    std::string entry;
    for (const auto& [name, value] : fields) {
        entry += name;
        if (value.find('\n') == std::string::npos) {
            entry += '=';
        } else {
            entry += '\n';
            uint64_t size = value.size();
            for (int i = 0; i < 8; ++i, size >>= 8) {
                entry += static_cast<char>(size & 0xff);
            }
        }
        entry += value;
        entry += '\n';
    }
    return entry;
}

// How long the log system waits, as it stops, for the journal to take what
// was sent: a record read after the process has ended can no longer be told
// apart as the unit's.
constexpr std::chrono::milliseconds kDrainLimit(1000);
constexpr std::chrono::milliseconds kDrainStep(1);

}  // namespace

bool streamIsJournal(int fd, const std::string& socketPath) {
    // "<device>:<inode>" of the stream systemd connected; the descriptor may
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
    if (fstat(fd, &st) != 0 || st.st_dev != device || st.st_ino != inode) {
        return false;
    }
    // Where the journal's socket is missing, records must stay on the
    // stream, as text.
    return access(socketPath.c_str(), W_OK) == 0;
}

JournalAppender::JournalAppender(std::string identifier, std::string socketPath)
    : identifier_(std::move(identifier)), socketPath_(std::move(socketPath)) {}

JournalAppender::~JournalAppender() {
    destructorImpl();
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

void JournalAppender::close() {
    // The journal reads its socket when it gets to it, and learns the sender's
    // unit from the sender's process: wait until it has read every record,
    // within a bound, before the process may end. Under the appender's lock,
    // so that no append() is half done.
    log4cplus::thread::MutexGuard appending(access_mutex);
    std::lock_guard<std::mutex> held(socketLock_);
    closed = true;
    for (auto waited = std::chrono::milliseconds(0); socket_ >= 0 && waited < kDrainLimit;
         waited += kDrainStep) {
        int queued = 0;
        if (ioctl(socket_, SIOCOUTQ, &queued) != 0 || queued == 0) {
            break;
        }
        std::this_thread::sleep_for(kDrainStep);
    }
}

bool JournalAppender::connectLocked() const {
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath_.c_str(), sizeof address.sun_path - 1);
    if (connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket_);
        socket_ = -1;
        return false;
    }
    return true;
}

// One datagram an entry, on one connected socket. An entry too large for one
// (EMSGSIZE), or any other failure, leaves it to the caller to write it
// elsewhere; ours are a few hundred bytes.
bool JournalAppender::send(const JournalFields& fields) const {
    const std::string entry = entryOf(fields);
    std::lock_guard<std::mutex> held(socketLock_);
    // A journal that restarted listens on a new socket at the same path,
    // and the old connection is refused: connect again once, and resend.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (socket_ < 0 && !connectLocked()) {
            return false;
        }
        if (::send(socket_, entry.data(), entry.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(entry.size())) {
            return true;
        }
        if (errno != ECONNREFUSED && errno != ENOTCONN && errno != ECONNRESET) {
            return false;
        }
        ::close(socket_);
        socket_ = -1;
    }
    return false;
}

bool JournalAppender::sendWarning(const std::string& text) const {
    return send(
        {{"MESSAGE", text}, {"PRIORITY", std::to_string(LOG_WARNING)}, {"SYSLOG_IDENTIFIER", identifier_}});
}

void JournalAppender::append(const log4cplus::spi::InternalLoggingEvent& event) {
    const bool sent = send({
        {"MESSAGE", event.getMessage()},
        {"PRIORITY", std::to_string(priorityOf(event.getLogLevel()))},
        {"SYSLOG_IDENTIFIER", identifier_},
        {"CODE_FILE", event.getFile()},
        {"CODE_LINE", std::to_string(event.getLine())},
        {"CODE_FUNC", event.getFunction()},
        {"TID", event.getThread2()},
    });
    if (!sent) {
        std::ostringstream line;
        layout->formatAndAppend(line, event);
        (void)std::fputs(line.str().c_str(), stderr);
        (void)std::fflush(stderr);
    }
}

}  // namespace orvel_public::detail
