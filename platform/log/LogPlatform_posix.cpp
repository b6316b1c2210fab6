#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <log4cplus/layout.h>

#include <cstdio>
#include <memory>
#include <string>

#include "JournalAppender.h"
#include "JournalStream.h"
#include "LogPlatform.h"

namespace orvel_public::detail {

void prepareStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) {
            // open() takes the lowest free descriptor, which is this one.
            const int got = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (got > 2) {
                close(got);
            }
        }
    }
    // A parent may leave standard output on a pipe whose reader has gone;
    // systemd ignores SIGPIPE for its services, other parents do not.
    // Programs the process runs get the default back (posix_spawn's SETSIGDEF).
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    (void)sigaction(SIGPIPE, &ignore, nullptr);
}

namespace {

// Set while standard error leads to the journal.
log4cplus::helpers::SharedObjectPtr<JournalAppender> g_journal;

}  // namespace

std::vector<log4cplus::SharedAppenderPtr> streamAppenders(const std::string& processName,
                                                          const char* pattern) {
    // Under systemd, standard error is the journal: there each record goes as
    // one entry with its priority, so that `journalctl -p err` shows exactly
    // the failures, and where the journal's socket does not take it, as
    // lines with their priority on the stream. Anywhere else records are
    // written as text.
    log4cplus::SharedAppenderPtr appender;
    if (streamIsJournal(2)) {
        g_journal = new JournalAppender(processName);
        appender = log4cplus::SharedAppenderPtr(g_journal.get());
    } else {
        g_journal = nullptr;
        appender = new StandardErrorAppender();
    }
    appender->setLayout(std::make_unique<log4cplus::PatternLayout>(pattern));
    return {appender};
}

void releaseStreamAppenders() { g_journal = nullptr; }

void warnOperator(const std::string& text) {
    if (g_journal && g_journal->sendWarning(text)) {
        return;
    }
    // On the journal's stream, at warning priority.
    (void)std::fprintf(stderr, "%s%s\n", g_journal ? "<4>" : "", text.c_str());
    (void)std::fflush(stderr);
}

}  // namespace orvel_public::detail
