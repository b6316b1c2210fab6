// log4cplus's headers define NOSERVICE, NONLS and more before including
// <windows.h> themselves, which would hide what this file needs.
#include <winsock2.h>
#include <windows.h>

#include <log4cplus/consoleappender.h>
#include <log4cplus/layout.h>
#include <log4cplus/nteventlogappender.h>
#include <log4cplus/spi/loggingevent.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "LogPlatform.h"
#include "Utf8_win.h"

namespace orvel_public::detail {

void reserveStandardStreams() {}

namespace {

bool isAscii(const std::string& s) {
    for (unsigned char c : s) {
        if (c >= 0x80) {
            return false;
        }
    }
    return true;
}

// The path in the ANSI code page, or "" when some letter has no place in it.
std::string toAnsi(const std::wstring& wide) {
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) {
        return "";
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, out.data(), n, nullptr, &lossy);
    out.resize(static_cast<size_t>(n) - 1);
    return lossy ? "" : out;
}

}  // namespace

std::string appenderFileName(const std::string& utf8Path) {
    // Where the executable's manifest has made UTF-8 the ANSI code page
    // (Windows 10 1903 and later), narrow names are read as UTF-8.
    if (isAscii(utf8Path) || GetACP() == CP_UTF8) {
        return utf8Path;
    }
    const std::wstring wide = widen(utf8Path);
    std::string ansi = toAnsi(wide);
    if (!ansi.empty()) {
        return ansi;
    }
    // Letters outside the code page: the folder's short name is plain ASCII.
    // The file itself may not exist yet, so shorten its folder and keep the name.
    const std::wstring::size_type cut = wide.find_last_of(L"\\/");
    const std::wstring folder = wide.substr(0, cut);
    std::vector<wchar_t> buf(32768);
    const DWORD n = GetShortPathNameW(folder.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0 || n >= buf.size()) {
        return utf8Path;
    }
    return toAnsi(std::wstring(buf.data(), n) + wide.substr(cut));
}

namespace {

// The event source the installer registers, with ventrix.exe's message table.
const char* const kEventSource = "quendra_launcher";

// The Application event log, where a service's operator looks: it has no
// console. Set while the log system is started.
log4cplus::SharedAppenderPtr g_eventLog;

}  // namespace

std::vector<log4cplus::SharedAppenderPtr> streamAppenders(const std::string& /*processName*/, const char* pattern) {
    log4cplus::SharedAppenderPtr console(new log4cplus::ConsoleAppender(true, true));
    console->setLayout(std::make_unique<log4cplus::PatternLayout>(pattern));

    // Only failures go there: ERROR records, and the log system's own warning.
    // The event carries its time, level and source already.
    g_eventLog = new log4cplus::NTEventLogAppender("", "Application", kEventSource);
    g_eventLog->setThreshold(log4cplus::WARN_LOG_LEVEL);
    g_eventLog->setLayout(std::make_unique<log4cplus::PatternLayout>("%m"));
    return {console, g_eventLog};
}

void releaseStreamAppenders() { g_eventLog = nullptr; }

void warnOperator(const std::string& text) {
    (void)std::fprintf(stderr, "%s\n", text.c_str());
    (void)std::fflush(stderr);
    if (g_eventLog) {
        g_eventLog->doAppend(
            log4cplus::spi::InternalLoggingEvent("", log4cplus::WARN_LOG_LEVEL, text, __FILE__, __LINE__, ""));
    }
}

}  // namespace orvel_public::detail
