// Records to the Windows event log, under an event source that the installer
// registers: this program never creates or changes one.
#pragma once

#include <log4cplus/appender.h>

namespace orvel_public::detail {

// One event a failure, and one for the boot's outcome: the event of its
// record's kind in the source's message table (records.txt; 0x1000 for a
// text of no known kind), with the record's text as its one insertion
// string, of its kind's type (else by level), in the category of its type or
// level (1 fatal, 2 error, 3 warning, 4 info, 5 debug, 6 trace). Every
// record must reach it, so that the outcome knows the records before it. The
// text is reported in UTF-16, so that it reads the same whatever the host's
// ANSI code page.
class EventLogAppender : public log4cplus::Appender {
public:
    explicit EventLogAppender(const wchar_t* source);
    ~EventLogAppender() override;
    EventLogAppender(const EventLogAppender&) = delete;
    EventLogAppender& operator=(const EventLogAppender&) = delete;
    void close() override;

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;

private:
    void* log_;  // the event log's handle; null where it cannot be reached
};

}  // namespace orvel_public::detail
