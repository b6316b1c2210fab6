// log4cplus's headers define NOSERVICE, NONLS and more before including
// <windows.h> themselves, which would hide what this file needs. Winsock 2
// comes first, so that <windows.h> does not bring in the older winsock.h.
#include <winsock2.h>

#include <windows.h>

#include <log4cplus/layout.h>
#include <log4cplus/spi/loggingevent.h>

#include <sstream>
#include <string>

#include "EventLogAppender.h"
#include "RecordKinds.h"
#include "Utf8_win.h"

namespace orvel_public::detail {

namespace {

// The event of ventrix_events.mc for a text of no known kind.
constexpr DWORD kRecordEvent = 0x1000;

WORD typeOf(log4cplus::LogLevel level) {
    if (level >= log4cplus::ERROR_LOG_LEVEL) return EVENTLOG_ERROR_TYPE;
    if (level >= log4cplus::WARN_LOG_LEVEL) return EVENTLOG_WARNING_TYPE;
    return EVENTLOG_INFORMATION_TYPE;
}

WORD typeOf(EventType type) {
    switch (type) {
        case EventType::Error:
            return EVENTLOG_ERROR_TYPE;
        case EventType::Warning:
            return EVENTLOG_WARNING_TYPE;
        default:
            return EVENTLOG_INFORMATION_TYPE;
    }
}

WORD categoryOf(log4cplus::LogLevel level) {
    if (level >= log4cplus::FATAL_LOG_LEVEL) return 1;
    if (level >= log4cplus::ERROR_LOG_LEVEL) return 2;
    if (level >= log4cplus::WARN_LOG_LEVEL) return 3;
    if (level >= log4cplus::INFO_LOG_LEVEL) return 4;
    if (level >= log4cplus::DEBUG_LOG_LEVEL) return 5;
    return 6;
}

// ReportEvent takes at most this many characters a string.
constexpr std::wstring::size_type kMaxText = 31839;

}  // namespace

// RegisterEventSourceW only opens the log: a source that is not registered
// still gets its events, shown without their message text.
EventLogAppender::EventLogAppender(const wchar_t* source) : log_(RegisterEventSourceW(nullptr, source)) {}

EventLogAppender::~EventLogAppender() {
    destructorImpl();
    if (log_ != nullptr) {
        DeregisterEventSource(log_);
    }
}

void EventLogAppender::close() {
    log4cplus::thread::MutexGuard held(access_mutex);
    closed = true;
}

void EventLogAppender::append(const log4cplus::spi::InternalLoggingEvent& event) {
    // Every record is told to the record kinds, so that the boot's last one
    // carries its outcome; only failures and the outcome become events.
    const Classified classified = records().classify(event.getMessage(), event.getFunction());
    const bool outcome = classified.kind != nullptr && *classified.kind->outcome != '\0';
    if (log_ == nullptr || (event.getLogLevel() < log4cplus::WARN_LOG_LEVEL && !outcome)) {
        return;
    }
    std::ostringstream text;
    layout->formatAndAppend(text, event);
    std::wstring wide = widen(text.str());
    if (wide.size() > kMaxText) {
        wide.resize(kMaxText);
    }
    LPCWSTR strings[] = {wide.c_str()};
    // Each kind its own event, whose text in the message table explains it;
    // the outcome's type says whether the platform is up.
    const WORD type =
        classified.kind != nullptr ? typeOf(classified.kind->type) : typeOf(event.getLogLevel());
    const WORD category = type == EVENTLOG_ERROR_TYPE     ? 2
                          : type == EVENTLOG_WARNING_TYPE ? 3
                                                          : categoryOf(event.getLogLevel());
    const DWORD id = classified.kind != nullptr ? classified.kind->eventId : kRecordEvent;
    (void)ReportEventW(log_, type, category, id, nullptr, 1, 0, strings, nullptr);
}

}  // namespace orvel_public::detail
