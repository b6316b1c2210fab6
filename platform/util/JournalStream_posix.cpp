#include <errno.h>
#include <sys/stat.h>

#include <cstdlib>

#include "JournalStream.h"

namespace orvel_public::detail {

bool streamIsJournal(int fd) {
    // "<device>:<inode>" of the stream systemd connected; the descriptor may
    // since have been redirected elsewhere, so it must still be that stream.
    const char* stream = std::getenv("JOURNAL_STREAM");  // NOLINT(concurrency-mt-unsafe)
    if (stream == nullptr) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long device = std::strtoull(stream, &end, 10);
    if (errno != 0 || end == stream || *end != ':') {
        return false;
    }
    const char* inodeText = end + 1;
    const unsigned long long inode = std::strtoull(inodeText, &end, 10);
    if (errno != 0 || end == inodeText || *end != '\0') {
        return false;
    }
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

}  // namespace orvel_public::detail
