// Records to systemd's journal through its native protocol, each with its
// priority, when standard error is a journal stream.
#pragma once

#include <log4cplus/appender.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace orvel_public::detail {

// The journal's socket for native-protocol entries.
extern const char* const kJournalSocket;

// An entry's fields, by name, in order.
using JournalFields = std::vector<std::pair<const char*, std::string>>;

// One journal entry a record: the message, its priority, the identifier and
// the writing site. A record the journal's socket does not take goes to
// standard error, the journal's stream, in the appender's layout with its
// priority before each line, so that it is never lost nor demoted.
class JournalAppender : public log4cplus::Appender {
public:
    explicit JournalAppender(std::string identifier, std::string socketPath = kJournalSocket);
    ~JournalAppender() override;
    // Returns once the journal has dealt with every record sent, or after a
    // second.
    void close() override;

    // Sends one line of the log system's own at warning priority; false when
    // the journal did not take it.
    bool sendWarning(const std::string& text) const;

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;

private:
    bool send(const JournalFields& fields) const;
    bool connectLocked() const;

    std::string identifier_;
    std::string socketPath_;
    mutable std::mutex socketLock_;
    mutable int socket_ = -1;  // connected to the journal at the first record, and again after it restarted
};

}  // namespace orvel_public::detail
