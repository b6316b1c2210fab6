#include "NotifyListener.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace testsupport {

NotifyListener::NotifyListener(const std::string& path) : path_(path), fd_(-1) {
    unlink(path.c_str());
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const size_t size = std::min(path.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.data(), size);
    if (path[0] == '@') {
        addr.sun_path[0] = '\0';  // an abstract name, as systemd may give one
    }
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size)) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

NotifyListener::~NotifyListener() {
    if (fd_ >= 0) {
        close(fd_);
    }
    unlink(path_.c_str());
}

std::vector<Notification> NotifyListener::collect(std::chrono::milliseconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (fd_ < 0 || poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count()))) <= 0) {
            return got_;
        }
        char buf[4096];
        const ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n >= 0) {
            got_.push_back({std::chrono::steady_clock::now(), std::string(buf, static_cast<size_t>(n))});
        }
    }
}

bool NotifyListener::waitFor(const std::string& message, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        for (const Notification& n : got_) {
            if (n.message == message) {
                return true;
            }
        }
        collect(std::chrono::milliseconds(20));
    }
    for (const Notification& n : got_) {
        if (n.message == message) {
            return true;
        }
    }
    return false;
}

}  // namespace testsupport
