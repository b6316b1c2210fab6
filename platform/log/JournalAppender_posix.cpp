#include <errno.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <log4cplus/spi/loggingevent.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "JournalAppender.h"
#include "RecordKinds.h"

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

// Lines as the journal's stream takes them: "<N>" before each, or each
// line after the first of a record would be entered at the unit's default.
std::string withPriority(const std::string& text, int priority) {
    const std::string prefix = "<" + std::to_string(priority) + ">";
    std::string out;
    for (std::string::size_type pos = 0; pos < text.size();) {
        const std::string::size_type end = std::min(text.find('\n', pos), text.size() - 1) + 1;
        out += prefix;
        out.append(text, pos, end - pos);
        pos = end;
    }
    return out;
}

// How long the log system waits, as it stops, for the journal to take what
// was sent: a record read after the process has ended can no longer be told
// apart as the unit's.
constexpr std::chrono::milliseconds kDrainLimit(1000);
constexpr std::chrono::milliseconds kDrainStep(1);

}  // namespace

JournalAppender::JournalAppender(std::string identifier, std::string socketPath)
    : identifier_(std::move(identifier)), socketPath_(std::move(socketPath)) {}

JournalAppender::~JournalAppender() {
    destructorImpl();
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

void JournalAppender::close() {
    // The journal learns a record's unit from the sender's process, as it
    // deals with the record: a process that has ended by then leaves it
    // without one where the journal's knowledge of the process is more than
    // 5 s old (the last record after a stop in the settle delay, 15 s after
    // the one before). Reading a datagram is not enough, as the journal looks
    // the process up after reading it: an empty datagram goes last, which the
    // journal reads, and drops, only once it has dealt with every record
    // before it; the process waits for that, within a bound. Under the
    // appender's lock, so that no append() is half done.
    log4cplus::thread::MutexGuard appending(access_mutex);
    std::lock_guard<std::mutex> held(socketLock_);
    closed = true;
    if (socket_ >= 0) {
        // Where it cannot go (a full queue), the wait is for the records alone.
        (void)::send(socket_, "", 0, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    // By the clock: on a loaded host each step sleeps longer than asked.
    const auto until = std::chrono::steady_clock::now() + kDrainLimit;
    while (socket_ >= 0 && std::chrono::steady_clock::now() < until) {
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

namespace {

// Where fleets select it: its kind's MESSAGE_ID and fields of its own.
void addKind(JournalFields& fields, const Classified& classified) {
    if (classified.kind != nullptr) {
        fields.emplace_back("MESSAGE_ID", classified.kind->messageId);
        fields.insert(fields.end(), classified.fields.begin(), classified.fields.end());
    }
}

}  // namespace

bool JournalAppender::sendWarning(const std::string& text) const {
    JournalFields fields = {
        {"MESSAGE", text}, {"PRIORITY", std::to_string(LOG_WARNING)}, {"SYSLOG_IDENTIFIER", identifier_}};
    addKind(fields, records().classify(text, ""));
    return send(fields);
}

void JournalAppender::append(const log4cplus::spi::InternalLoggingEvent& event) {
    JournalFields fields = {
        {"MESSAGE", event.getMessage()},
        {"PRIORITY", std::to_string(priorityOf(event.getLogLevel()))},
        {"SYSLOG_IDENTIFIER", identifier_},
        {"CODE_FILE", event.getFile()},
        {"CODE_LINE", std::to_string(event.getLine())},
        {"CODE_FUNC", event.getFunction()},
        {"TID", event.getThread2()},
    };
    addKind(fields, records().classify(event.getMessage(), event.getFunction()));
    const bool sent = send(fields);
    if (!sent) {
        std::ostringstream text;
        layout->formatAndAppend(text, event);
        (void)std::fputs(withPriority(text.str(), priorityOf(event.getLogLevel())).c_str(), stderr);
        (void)std::fflush(stderr);
    }
}

}  // namespace orvel_public::detail
