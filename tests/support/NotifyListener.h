// A datagram socket standing in for systemd's notification socket.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

struct Notification {
    std::chrono::steady_clock::time_point at;
    std::string message;
};

class NotifyListener {
public:
    explicit NotifyListener(const std::string& path);
    ~NotifyListener();
    NotifyListener(const NotifyListener&) = delete;
    NotifyListener& operator=(const NotifyListener&) = delete;

    const std::string& path() const { return path_; }
    // Every datagram that has arrived, waiting up to wait for more to come.
    std::vector<Notification> collect(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // Waits up to limit for a datagram; false when none came.
    bool waitFor(const std::string& message, std::chrono::milliseconds limit);

private:
    std::string path_;
    int fd_;
    std::vector<Notification> got_;
};

}  // namespace testsupport
