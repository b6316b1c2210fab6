// Winsock 2 before <windows.h>, which log4cplus's headers would otherwise pull in first.
#include <winsock2.h>

#include <windows.h>

#include <log4cplus/layout.h>
#include <log4cplus/spi/loggingevent.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "EventLogAppender.h"
#include "LogPlatform.h"

namespace orvel_public::detail {

void prepareStandardStreams() {}

namespace {

// The event source the installer registers, with ventrix.exe's message table.
const wchar_t* const kEventSource = L"quendra_launcher";

// The Application event log, where a service's operator looks: it has no
// console. Set while the log system is started.
log4cplus::SharedAppenderPtr g_eventLog;

}  // namespace

std::vector<log4cplus::SharedAppenderPtr> streamAppenders(const std::string& /*processName*/,
                                                          const char* pattern) {
    log4cplus::SharedAppenderPtr console(new StandardErrorAppender());
    console->setLayout(std::make_unique<log4cplus::PatternLayout>(pattern));

    // Failures go there (ERROR records and the log system's own warnings),
    // and the boot's outcome; the appender sees every record, to know it.
    // The event carries its time, level and source already.
    g_eventLog = new EventLogAppender(kEventSource);
    g_eventLog->setLayout(std::make_unique<log4cplus::PatternLayout>("%m"));
    return {console, g_eventLog};
}

void releaseStreamAppenders() { g_eventLog = nullptr; }

void warnOperator(const std::string& text) {
    (void)std::fprintf(stderr, "%s\n", text.c_str());
    (void)std::fflush(stderr);
    if (g_eventLog) {
        g_eventLog->doAppend(log4cplus::spi::InternalLoggingEvent("", log4cplus::WARN_LOG_LEVEL, text,
                                                                  __FILE__, __LINE__, ""));
    }
}

}  // namespace orvel_public::detail
