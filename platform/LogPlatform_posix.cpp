#include <fcntl.h>
#include <unistd.h>

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

std::string appenderFileName(const std::string& utf8Path) { return utf8Path; }

}  // namespace orvel_public::detail
