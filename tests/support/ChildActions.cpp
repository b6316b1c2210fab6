#include "ChildActions.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace testsupport {

void spewToBothStreams(long long bytes) {
    static char block[64 * 1024];
    std::memset(block, 'x', sizeof block);
    for (long long left = bytes; left > 0; left -= static_cast<long long>(sizeof block)) {
        const size_t n = left < static_cast<long long>(sizeof block) ? static_cast<size_t>(left) : sizeof block;
        std::fwrite(block, 1, n, stdout);
        std::fwrite(block, 1, n, stderr);
    }
}

std::string openDescriptors() {
    std::string listing;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string target = std::filesystem::read_symlink(it->path(), ec).string();
        if (target.rfind("/proc/", 0) == 0 && target.find("/fd") != std::string::npos) {
            continue;
        }
        listing += it->path().filename().string() + " " + target + "\n";
    }
    return listing;
}

}  // namespace testsupport
