// The service manager stand-in for Linux: the dispatcher, stop requests from
// signals, and status reports to systemd.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "JournalStream.h"
#include "ScmApi.h"

namespace {

// How long the dispatcher waits for the service thread to end after it has
// reported stopped, before leaving it to the process's exit.
constexpr int kServiceEndGraceMs = 5000;

// How long the dispatcher waits before it polls again after poll failed.
constexpr DWORD kPollRetryMs = 100;

// Where systemd takes status notifications (sd_notify(3)): the socket that
// NOTIFY_SOCKET names, a path or, after '@', an abstract name. The protocol is
// one datagram of "NAME=value" lines a notification, which systemd documents
// as stable for programs that do not link libsystemd; linking it would load
// six more libraries at every start.
struct NotifyTarget {
    sockaddr_un address{};
    socklen_t length = 0;  // 0: not started by systemd, or an unusable name
};

NotifyTarget notifyTargetFromEnvironment() {
    NotifyTarget target;
    // Read while no other thread of the process runs yet.
    const char* name = std::getenv("NOTIFY_SOCKET");  // NOLINT(concurrency-mt-unsafe)
    const size_t size = name != nullptr ? std::strlen(name) : 0;
    if (size < 2 || size > sizeof target.address.sun_path || (name[0] != '/' && name[0] != '@')) {
        return target;
    }
    target.address.sun_family = AF_UNIX;
    std::memcpy(target.address.sun_path, name, size);
    if (name[0] == '@') {
        target.address.sun_path[0] = '\0';
    }
    target.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size);
    return target;
}

// A notification is tried again where the failure may pass (a full queue
// at systemd, a moment without memory or descriptors), for 3 s at most.
constexpr std::chrono::seconds kNotifyTries(3);
constexpr DWORD kNotifyRetryMs = 100;

bool mayPass(int error) {
    return error == EINTR || error == EAGAIN || error == ENOBUFS || error == ENOMEM || error == EMFILE ||
           error == ENFILE;
}

// The socket is made once, as the dispatcher starts, so that a notification
// later does not need a free descriptor; where it could not be made then, it
// is made again here. 0 when sent, or the error of the last try.
int notifySystemd(const NotifyTarget& target, int& fd, const char* message) {
    const size_t size = std::strlen(message);
    // By the clock: on a loaded host each pause lasts longer than asked.
    const auto until = std::chrono::steady_clock::now() + kNotifyTries;
    for (;;) {
        if (fd < 0) {
            fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        }
        if (fd >= 0 && sendto(fd, message, size, MSG_NOSIGNAL | MSG_DONTWAIT,
                              reinterpret_cast<const sockaddr*>(&target.address),
                              target.length) == static_cast<ssize_t>(size)) {
            return 0;
        }
        const int error = errno;
        if (!mayPass(error) || std::chrono::steady_clock::now() >= until) {
            return error;
        }
        if (error != EINTR) {
            Sleep(kNotifyRetryMs);
        }
    }
}

struct Dispatcher {
    std::mutex lock;
    // Written while the dispatcher starts, before the service thread exists.
    NotifyTarget notifyTarget;
    bool stderrIsJournal = false;
    std::mutex notifyLock;
    int notifyFd = -1;
    LPHANDLER_FUNCTION handler = nullptr;
    DWORD acceptedControls = 0;
    bool stoppedReported = false;
    bool serviceEnded = false;
    int pendingStops = 0;
    int wakeFd = -1;
};

Dispatcher g_dispatcher;

SERVICE_STATUS_HANDLE handleOf(Dispatcher& d) { return reinterpret_cast<SERVICE_STATUS_HANDLE>(&d); }

// Tells the dispatcher's thread that something changed.
void wake(Dispatcher& d) {
    const uint64_t one = 1;
    if (d.wakeFd >= 0) {
        (void)!write(d.wakeFd, &one, sizeof one);
    }
}

const char* notificationFor(DWORD state) {
    switch (state) {
        case SERVICE_START_PENDING:
            return "STATUS=Service starting";
        case SERVICE_RUNNING:
            return "READY=1\nSTATUS=Service running";
        case SERVICE_STOP_PENDING:
            // Without STOPPING=1: systemd takes that from a running service as
            // the service stopping on its own, and would not run the unit's
            // stop after a signal that systemd did not send.
            return "STATUS=Service stop pending";
        case SERVICE_STOPPED:
            return "STATUS=Service stopped";
        default:
            return nullptr;
    }
}

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

// Calls the handler for each stop request that may be delivered now: once a
// handler is registered and the service has said it accepts STOP, as Windows
// delivers no control before then, and never after stopped was reported.
void deliverStops(Dispatcher& d, std::unique_lock<std::mutex>& held) {
    while (d.pendingStops > 0 && d.handler != nullptr && (d.acceptedControls & SERVICE_ACCEPT_STOP) != 0 &&
           !d.stoppedReported) {
        --d.pendingStops;
        const LPHANDLER_FUNCTION handler = d.handler;
        held.unlock();
        handler(SERVICE_CONTROL_STOP);
        held.lock();
    }
}

}  // namespace

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable) {
    if (lpServiceStartTable == nullptr || lpServiceStartTable[0].lpServiceName == nullptr ||
        lpServiceStartTable[0].lpServiceProc == nullptr) {
        return FALSE;
    }
    Dispatcher& d = g_dispatcher;

    // Blocked here before the service thread exists, so that it and every thread
    // after it inherit the mask and the signals come to this thread only. They
    // stay blocked after the return: a late SIGTERM must not kill the process
    // while it writes its last records.
    const sigset_t stops = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    const int signalFd = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd < 0 || wakeFd < 0) {
        if (signalFd >= 0) close(signalFd);
        if (wakeFd >= 0) close(wakeFd);
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> held(d.lock);
        d.handler = nullptr;
        d.acceptedControls = 0;
        d.stoppedReported = false;
        d.serviceEnded = false;
        d.pendingStops = 0;
        d.wakeFd = wakeFd;
        d.notifyTarget = notifyTargetFromEnvironment();
        d.stderrIsJournal = orvel_public::detail::streamIsJournal(2);
    }
    {
        std::lock_guard<std::mutex> held(d.notifyLock);
        if (d.notifyTarget.length != 0 && d.notifyFd < 0) {
            d.notifyFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        }
    }

    const LPSERVICE_MAIN_FUNCTIONW serviceMain = lpServiceStartTable[0].lpServiceProc;
    LPWSTR name = lpServiceStartTable[0].lpServiceName;
    // Where no thread can be made (TasksMax, pids.max, RLIMIT_NPROC), the
    // service cannot run: the caller is told, as for any dispatcher failure.
    std::thread service;
    try {
        service = std::thread([serviceMain, name, &d] {
            LPWSTR args[] = {name, nullptr};
            serviceMain(1, args);
            std::lock_guard<std::mutex> held(d.lock);
            d.serviceEnded = true;
            wake(d);
        });
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> held(d.lock);
        d.wakeFd = -1;
        close(signalFd);
        close(wakeFd);
        std::lock_guard<std::mutex> notifying(d.notifyLock);
        if (d.notifyFd >= 0) {
            close(d.notifyFd);
            d.notifyFd = -1;
        }
        return FALSE;
    }

    std::unique_lock<std::mutex> held(d.lock);
    auto graceEnd = std::chrono::steady_clock::time_point::max();
    while (!d.serviceEnded) {
        if (d.stoppedReported && graceEnd == std::chrono::steady_clock::time_point::max()) {
            graceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kServiceEndGraceMs);
        }
        int timeoutMs = -1;
        if (graceEnd != std::chrono::steady_clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                graceEnd - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            timeoutMs = static_cast<int>(left.count());
        }
        held.unlock();
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = poll(fds, 2, timeoutMs);
        const int pollError = ready < 0 ? errno : 0;
        if (pollError != 0 && pollError != EINTR) {
            // Out of memory for a moment, say: the service still runs, so
            // the dispatcher must not return under it. Try again shortly.
            Sleep(kPollRetryMs);
        }
        held.lock();
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info[16];
            ssize_t got;
            while ((got = read(signalFd, info, sizeof info)) > 0) {
                d.pendingStops += static_cast<int>(static_cast<size_t>(got) / sizeof(signalfd_siginfo));
            }
        }
        if ((fds[1].revents & POLLIN) != 0) {
            uint64_t count = 0;
            (void)!read(wakeFd, &count, sizeof count);
        }
        deliverStops(d, held);
    }
    const bool ended = d.serviceEnded;
    d.wakeFd = -1;
    held.unlock();

    if (ended) {
        service.join();
        std::lock_guard<std::mutex> notifying(d.notifyLock);
        if (d.notifyFd >= 0) {
            close(d.notifyFd);
            d.notifyFd = -1;
        }
    } else {
        service.detach();  // reported stopped but never returned: the process ends around it
    }
    close(signalFd);
    close(wakeFd);
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(LPCWSTR lpServiceName, LPHANDLER_FUNCTION lpHandlerProc) {
    if (lpServiceName == nullptr || lpHandlerProc == nullptr) {
        return nullptr;
    }
    Dispatcher& d = g_dispatcher;
    std::lock_guard<std::mutex> held(d.lock);
    d.handler = lpHandlerProc;
    wake(d);
    return handleOf(d);
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus) {
    Dispatcher& d = g_dispatcher;
    if (hServiceStatus != handleOf(d) || lpServiceStatus == nullptr) {
        return FALSE;
    }
    // Sent before the dispatcher learns of it: once stopped is known, the
    // process may end. Without NOTIFY_SOCKET nothing is sent; the record is
    // taken all the same, sent or not.
    const char* message = notificationFor(lpServiceStatus->dwCurrentState);
    if (message != nullptr && d.notifyTarget.length != 0) {
        std::lock_guard<std::mutex> notifying(d.notifyLock);
        const int error = notifySystemd(d.notifyTarget, d.notifyFd, message);
        // Without READY=1 systemd counts the start as failed when the
        // process ends, and the unit's stop will not run: the operator must
        // hear of it, on standard error (the journal, at warning priority).
        if (error != 0 && lpServiceStatus->dwCurrentState == SERVICE_RUNNING) {
            (void)std::fprintf(stderr,
                               "%sservice manager: cannot tell systemd READY=1 (%s); systemd will count this "
                               "start of the unit as failed, and its stop will not run sys_ctrl -s\n",
                               d.stderrIsJournal ? "<4>" : "",
                               std::generic_category().message(error).c_str());
            (void)std::fflush(stderr);
        }
    }
    {
        std::lock_guard<std::mutex> held(d.lock);
        d.acceptedControls = lpServiceStatus->dwControlsAccepted;
        if (lpServiceStatus->dwCurrentState == SERVICE_STOPPED) {
            d.stoppedReported = true;
        }
        wake(d);
    }
    return TRUE;
}

void Sleep(DWORD dwMilliseconds) {
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += static_cast<time_t>(dwMilliseconds / 1000);
    until.tv_nsec += static_cast<long>(dwMilliseconds % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}
