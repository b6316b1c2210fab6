#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "Paths.h"

namespace orvel_public {

namespace detail {

std::string binaryDirectory() {
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) {
            return "";
        }
        if (static_cast<size_t>(n) < buf.size()) {
            return parentFolder(std::string(buf.data(), static_cast<size_t>(n)));
        }
        buf.resize(buf.size() * 2);  // the path may have been cut short
    }
}

char pathSeparator() { return '/'; }

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace detail

}  // namespace orvel_public
