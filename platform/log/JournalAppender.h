// Records to systemd's journal through its native protocol, each with its
// priority, when standard error is a journal stream.
#pragma once

#include <log4cplus/appender.h>

#include <string>

namespace orvel_public::detail {

// True when standard error is connected to the journal, as systemd says
// through JOURNAL_STREAM for the services it starts, and the journal's own
// socket is there to take records.
bool standardErrorIsJournal();

// One journal entry a record: the message, its priority, the identifier and
// the writing site. A record the journal does not take goes to standard error
// in the appender's layout, so that it is never lost.
class JournalAppender : public log4cplus::Appender {
public:
    explicit JournalAppender(std::string identifier);
    ~JournalAppender() override;
    void close() override;

    // Sends one line of the log system's own at warning priority; false when
    // the journal did not take it.
    bool sendWarning(const std::string& text) const;

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;

private:
    std::string identifier_;
};

}  // namespace orvel_public::detail
