#include <fcntl.h>
#include <unistd.h>

#include <log4cplus/consoleappender.h>
#include <log4cplus/layout.h>

#include <cstdio>
#include <memory>

#include "JournalAppender.h"
#include "LogPlatform.h"

namespace orvel_public::detail {

void reserveStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) {
            // open() takes the lowest free descriptor, which is this one.
            const int got = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (got > 2) {
                close(got);
            }
        }
    }
}

namespace {

// Set while standard error leads to the journal.
log4cplus::helpers::SharedObjectPtr<JournalAppender> g_journal;

}  // namespace

std::vector<log4cplus::SharedAppenderPtr> streamAppenders(const std::string& processName, const char* pattern) {
    // Under systemd, standard error is the journal: there each record goes as
    // one entry with its priority, so that `journalctl -p err` shows exactly
    // the failures. Anywhere else records are written as text.
    log4cplus::SharedAppenderPtr appender;
    if (streamIsJournal(2)) {
        g_journal = new JournalAppender(processName);
        appender = log4cplus::SharedAppenderPtr(g_journal.get());
    } else {
        g_journal = nullptr;
        appender = new log4cplus::ConsoleAppender(true, true);
    }
    appender->setLayout(std::make_unique<log4cplus::PatternLayout>(pattern));
    return {appender};
}

void releaseStreamAppenders() { g_journal = nullptr; }

void warnOperator(const std::string& text) {
    if (g_journal && g_journal->sendWarning(text)) {
        return;
    }
    (void)std::fprintf(stderr, "%s\n", text.c_str());
    (void)std::fflush(stderr);
}

}  // namespace orvel_public::detail
