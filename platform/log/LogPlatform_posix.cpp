#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <log4cplus/consoleappender.h>
#include <log4cplus/layout.h>

#include <cstdio>
#include <memory>
#include <string>

#include "JournalAppender.h"
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

bool ownedByAdministrator(uid_t uid) { return uid == 0 || uid == geteuid(); }

}  // namespace

OpenResult openLogStream(std::ofstream& out, const std::filesystem::path& file, bool afresh) {
    // In a folder that only root can change, only root placed what is there.
    struct stat folder {};
    const bool trusted = stat(file.parent_path().c_str(), &folder) == 0 &&
                         ownedByAdministrator(folder.st_uid) && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    // Never truncated before it is known to be ours to write; O_NONBLOCK so
    // that a planted FIFO cannot hold the start up.
    const int fd =
        open(file.c_str(),
             O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | (trusted ? 0 : O_NOFOLLOW), 0666);
    if (fd < 0) {
        return !trusted && errno == ELOOP ? OpenResult::Refused : OpenResult::Failed;
    }
    struct stat st {};
    // A hard link to a file elsewhere is refused too (fs.protected_hardlinks
    // keeps others from making one to root's files, where it is set).
    if (!trusted && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)) {
        close(fd);
        return OpenResult::Refused;
    }
    if (afresh) {
        (void)!ftruncate(fd, 0);
    }
    // The stream takes the very file checked, not whatever its name leads to by now.
    out.open("/proc/self/fd/" + std::to_string(fd), std::ios::out | std::ios::app);
    if (!out.is_open() && trusted) {
        out.open(file, std::ios::out | std::ios::app);  // no /proc: by name, as nothing can have moved
    }
    close(fd);
    return out.is_open() ? OpenResult::Opened : OpenResult::Failed;
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
        appender = new ClosedUnderLock<log4cplus::ConsoleAppender>(true, true);
    }
    appender->setLayout(std::make_unique<log4cplus::PatternLayout>(pattern));
    return {appender};
}

void releaseStreamAppenders() { g_journal = nullptr; }

void keepChildOutput(const std::string& /*folder*/, const std::string& /*processName*/) {}
void dropChildOutput() {}

void warnOperator(const std::string& text) {
    if (g_journal && g_journal->sendWarning(text)) {
        return;
    }
    (void)std::fprintf(stderr, "%s\n", text.c_str());
    (void)std::fflush(stderr);
}

}  // namespace orvel_public::detail
