// The Linux service manager stand-in with real threads, signals and a real
// notification socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ScmApi.h"
#include "support/NotifyListener.h"
#include "support/TestFiles.h"

namespace {

using namespace std::chrono_literals;

WCHAR kName[] = L"quendra_launcher";

// What the service and handler of one run saw.
struct Seen {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> events;
    std::thread::id handlerThread;
    SERVICE_STATUS_HANDLE handle = nullptr;

    void add(const std::string& e) {
        std::lock_guard<std::mutex> held(lock);
        events.push_back(e);
        changed.notify_all();
    }
    bool waitFor(const std::string& e, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> held(lock);
        return changed.wait_for(held, limit, [&] {
            for (const std::string& x : events) {
                if (x == e) return true;
            }
            return false;
        });
    }
};

Seen* g_seen = nullptr;
void (*g_body)() = nullptr;

void WINAPI handler(DWORD control) {
    {
        std::lock_guard<std::mutex> held(g_seen->lock);
        g_seen->handlerThread = std::this_thread::get_id();
    }
    g_seen->add("control " + std::to_string(control));
}

void report(DWORD state) {
    SERVICE_STATUS s{SERVICE_WIN32_OWN_PROCESS, state, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
    EXPECT_TRUE(SetServiceStatus(g_seen->handle, &s));
    g_seen->add("report " + std::to_string(state));
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    g_seen->handle = RegisterServiceCtrlHandlerW(kName, handler);
    g_body();
}

BOOL runDispatcher(void (*body)()) {
    g_body = body;
    SERVICE_TABLE_ENTRYW table[] = {{kName, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table);
}

class ScmPosixTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen = &seen_;
        unsetenv("NOTIFY_SOCKET");
    }
    BOOL dispatch(void (*body)()) { return runDispatcher(body); }
    Seen seen_;
};

TEST_F(ScmPosixTest, SigtermBecomesStopOnTheDispatcherThread) {
    ASSERT_TRUE(dispatch([] {
        report(SERVICE_START_PENDING);
        report(SERVICE_RUNNING);
        kill(getpid(), SIGTERM);
        EXPECT_TRUE(g_seen->waitFor("control 1", 5s));
        report(SERVICE_STOPPED);
    }));
    EXPECT_EQ(seen_.handlerThread, std::this_thread::get_id());
    EXPECT_EQ(seen_.events.back(), "report 1");
}

TEST_F(ScmPosixTest, EachStopSignalIsAStop) {
    ASSERT_TRUE(dispatch([] {
        report(SERVICE_RUNNING);
        for (const int sig : {SIGINT, SIGHUP}) {
            kill(getpid(), sig);
            EXPECT_TRUE(g_seen->waitFor("control 1", 5s));
            std::lock_guard<std::mutex> held(g_seen->lock);
            g_seen->events.clear();
        }
        report(SERVICE_STOPPED);
    }));
}

TEST_F(ScmPosixTest, StopBeforeTheServiceAcceptsItIsHeldUntilItDoes) {
    ASSERT_TRUE(dispatch([] {
        kill(getpid(), SIGTERM);
        std::this_thread::sleep_for(100ms);  // the dispatcher has taken the signal by now
        g_seen->add("first report");
        report(SERVICE_START_PENDING);
        EXPECT_TRUE(g_seen->waitFor("control 1", 5s));
        report(SERVICE_STOPPED);
    }));
    ASSERT_GE(seen_.events.size(), 3u);
    EXPECT_EQ(seen_.events[0], "first report");
}

// A stop that came after a service reported stopped is gone with it: a
// service dispatched later in the process does not get it, only its own.
TEST_F(ScmPosixTest, StopAfterStoppedReachesNoLaterService) {
    ASSERT_TRUE(dispatch([] {
        report(SERVICE_RUNNING);
        report(SERVICE_STOPPED);
        kill(getpid(), SIGTERM);
        std::this_thread::sleep_for(100ms);  // the dispatcher has taken the signal by now
    }));
    ASSERT_TRUE(dispatch([] {
        report(SERVICE_RUNNING);
        EXPECT_FALSE(g_seen->waitFor("control 1", 300ms));
        kill(getpid(), SIGTERM);  // while its own stops still reach it
        EXPECT_TRUE(g_seen->waitFor("control 1", 5s));
        report(SERVICE_STOPPED);
    }));
}

TEST_F(ScmPosixTest, DispatcherReturnsOnceStoppedIsReportedAndTheServiceHasEnded) {
    static std::atomic<bool> ended{false};
    ended = false;
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(dispatch([] {
        report(SERVICE_STOPPED);
        std::this_thread::sleep_for(200ms);  // the last record, after stopped
        ended = true;
    }));
    EXPECT_TRUE(ended);
    // As soon as it has ended, not when its grace runs out.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
}

long threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Between events the dispatcher sleeps in poll: half a second of a service
// that does nothing costs its thread next to no CPU time, where one that
// left its wake-up unread would spin all along.
TEST_F(ScmPosixTest, DispatcherSleepsWhileNothingHappens) {
    const long before = threadCpuMs();
    ASSERT_TRUE(dispatch([] {
        report(SERVICE_START_PENDING);
        report(SERVICE_RUNNING);
        std::this_thread::sleep_for(500ms);
        report(SERVICE_STOPPED);
    }));
    EXPECT_LT(threadCpuMs() - before, 100);
}

int openDescriptorCount() {
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd) {
        n += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
    }
    return n;
}

// A service thread that reports stopped and then hangs must not hold the
// process: the dispatcher gives it its grace and returns without it, leaving
// none of its descriptors open.
TEST_F(ScmPosixTest, ServiceThatNeverReturnsIsLeftAfterItsGrace) {
    static std::atomic<bool> released{false};
    static std::atomic<bool> returned{false};
    released = false;
    returned = false;
    const int descriptorsBefore = openDescriptorCount();
    // Released late enough to tell a dispatcher that waits for the thread from one that gives up after 5 s.
    std::thread release([] {
        std::this_thread::sleep_for(8s);
        released = true;
    });
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(dispatch([] {
        report(SERVICE_STOPPED);
        while (!released) std::this_thread::sleep_for(10ms);
        returned = true;
    }));
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_FALSE(returned);
    EXPECT_GE(took, 4900ms);
    EXPECT_LT(took, 7500ms);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    // Files opened now take the numbers the dispatcher's descriptors had: the
    // thread's end, still to come, must not write into them.
    const auto dir = testsupport::freshDir("scm-reused-" + std::to_string(getpid()));
    std::vector<int> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back(open((dir / std::to_string(i)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    }
    release.join();
    while (!returned) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(100ms);
    for (const int fd : files) {
        EXPECT_EQ(lseek(fd, 0, SEEK_END), 0) << "descriptor " << fd << " was written to";
        close(fd);
    }
}

// With no room for its signal or its wake descriptor, the dispatcher refuses
// at once: a service it could neither stop nor hear from must not run.
TEST_F(ScmPosixTest, DispatcherWithoutItsDescriptorsRunsNoService) {
    rlimit old{};
    getrlimit(RLIMIT_NOFILE, &old);
    rlimit low = old;
    low.rlim_cur = static_cast<rlim_t>(openDescriptorCount() + 16);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) filler.push_back(fd);
    for (const int room : {0, 1}) {  // neither descriptor, or only the first
        for (int i = 0; i < room; ++i) {
            close(filler.back());
            filler.pop_back();
        }
        static std::atomic<bool> ran{false};
        ran = false;
        // A free function: the sanitizers' checks of a member call need descriptors of their own.
        EXPECT_FALSE(runDispatcher([] { ran = true; })) << room;
        EXPECT_FALSE(ran) << room;
        const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);  // what the dispatcher took is free again
        EXPECT_EQ(probe >= 0, room == 1) << room;
        if (probe >= 0) close(probe);
    }
    for (const int fd : filler) close(fd);
    setrlimit(RLIMIT_NOFILE, &old);
}

TEST_F(ScmPosixTest, CallsWithoutWhatTheyNeedAreRefused) {
    SERVICE_TABLE_ENTRYW empty[] = {{nullptr, nullptr}};
    SERVICE_TABLE_ENTRYW unnamed[] = {{nullptr, serviceMain}, {nullptr, nullptr}};
    SERVICE_TABLE_ENTRYW withoutMain[] = {{kName, nullptr}, {nullptr, nullptr}};
    EXPECT_FALSE(StartServiceCtrlDispatcherW(empty));
    EXPECT_FALSE(StartServiceCtrlDispatcherW(unnamed));
    EXPECT_FALSE(StartServiceCtrlDispatcherW(withoutMain));
    EXPECT_FALSE(StartServiceCtrlDispatcherW(nullptr));
    EXPECT_EQ(RegisterServiceCtrlHandlerW(kName, nullptr), nullptr);
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerW(kName, handler);
    SERVICE_STATUS s{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
    EXPECT_FALSE(SetServiceStatus(handle, nullptr));
    EXPECT_FALSE(SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(&s), &s));
}

// Relative: a path named from the working folder, which systemd never gives
// and its own client refuses.
enum class SocketName { Path, Abstract, ShortestAbstract, Relative };

class ScmPosixNotifyTest : public ScmPosixTest, public ::testing::WithParamInterface<SocketName> {};

std::string socketName(SocketName kind) {
    switch (kind) {
        case SocketName::Path:
        case SocketName::Relative:
            // A folder of each test's own: ctest runs them side by side.
            return testsupport::utf8Of(testsupport::freshDir("notify-" + std::to_string(getpid())) / "sock");
        case SocketName::Abstract:
            return "@orvel-notify-" + std::to_string(getpid());
        case SocketName::ShortestAbstract:
            return std::string("@") + static_cast<char>('A' + getpid() % 26);
    }
    return "";
}

// systemd names a path; a name after '@' is in the abstract namespace, and
// may be a single letter.
TEST_P(ScmPosixNotifyTest, ReportsAreNotifiedToSystemd) {
    testsupport::NotifyListener listener(socketName(GetParam()));
    const std::filesystem::path cwd = std::filesystem::current_path();
    if (GetParam() == SocketName::Relative) {
        std::filesystem::current_path(std::filesystem::path(listener.path()).parent_path());
        setenv("NOTIFY_SOCKET", "sock", 1);
    } else {
        setenv("NOTIFY_SOCKET", listener.path().c_str(), 1);
    }
    ASSERT_TRUE(dispatch([] {
        report(SERVICE_START_PENDING);
        report(SERVICE_RUNNING);
        report(SERVICE_STOP_PENDING);
        report(SERVICE_STOPPED);
    }));
    unsetenv("NOTIFY_SOCKET");
    std::filesystem::current_path(cwd);
    std::vector<std::string> messages;
    for (const testsupport::Notification& n : listener.collect(200ms)) {
        messages.push_back(n.message);
    }
    if (GetParam() == SocketName::Relative) {
        EXPECT_TRUE(messages.empty());
        return;
    }
    // No STOPPING=1: from a running service systemd would take it as stopping
    // on its own, and skip the unit's stop.
    EXPECT_EQ(messages,
              (std::vector<std::string>{"STATUS=Service starting", "READY=1\nSTATUS=Service running",
                                        "STATUS=Service stop pending", "STATUS=Service stopped"}));
}

INSTANTIATE_TEST_SUITE_P(ScmSocket, ScmPosixNotifyTest,
                         ::testing::Values(SocketName::Path, SocketName::Abstract,
                                           SocketName::ShortestAbstract, SocketName::Relative),
                         [](const ::testing::TestParamInfo<SocketName>& info) {
                             return info.param == SocketName::Path       ? "Path"
                                    : info.param == SocketName::Abstract ? "Abstract"
                                    : info.param == SocketName::Relative ? "Relative"
                                                                         : "ShortestAbstract";
                         });

// systemd's queue full for a while: READY=1 is tried again until it goes,
// for 3 s at most; past that the operator is told, on standard error.
struct Crowded {
    const char* name;
    std::chrono::milliseconds freedAfter;
    bool delivered;
};

void PrintTo(const Crowded& c, std::ostream* os) { *os << c.name; }

class ScmPosixCrowdedTest : public ScmPosixTest, public ::testing::WithParamInterface<Crowded> {};

TEST_P(ScmPosixCrowdedTest, ReadyIsTriedAgainUntilItGoesOrSaid) {
    const Crowded& c = GetParam();
    testsupport::NotifyListener listener("@orvel-crowded-" + std::to_string(getpid()));
    // Filled from a socket of the test's own until it takes no more.
    const int filler = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, listener.path().c_str() + 1, listener.path().size() - 1);
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + listener.path().size());
    while (sendto(filler, "x", 1, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&address), length) == 1) {
    }
    close(filler);
    std::thread freer([&] {
        std::this_thread::sleep_for(c.freedAfter);
        listener.collect();
    });
    setenv("NOTIFY_SOCKET", listener.path().c_str(), 1);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(dispatch([] {
        report(SERVICE_RUNNING);
        report(SERVICE_STOPPED);
    }));
    const std::string err = ::testing::internal::GetCapturedStderr();
    unsetenv("NOTIFY_SOCKET");
    freer.join();
    std::vector<std::string> ours;
    for (const testsupport::Notification& n : listener.collect(200ms)) {
        if (n.message != "x") ours.push_back(n.message);
    }
    EXPECT_EQ(ours.size() == 2 && ours[0] == "READY=1\nSTATUS=Service running", c.delivered) << ours.size();
    EXPECT_EQ(err.find("service manager: cannot tell systemd READY=1") != std::string::npos, !c.delivered)
        << err;
}

INSTANTIATE_TEST_SUITE_P(ScmSocket, ScmPosixCrowdedTest,
                         ::testing::Values(Crowded{"ForAMoment", 250ms, true},
                                           Crowded{"ForLonger", 8000ms, false}),
                         [](const ::testing::TestParamInfo<Crowded>& info) { return info.param.name; });

TEST_F(ScmPosixTest, ReportsAreTakenWhenTheSocketIsMissing) {
    setenv("NOTIFY_SOCKET", "/nonexistent/notify.sock", 1);
    ASSERT_TRUE(dispatch([] {
        report(SERVICE_RUNNING);
        report(SERVICE_STOPPED);  // not sent, but the dispatcher still learns of it
    }));
    unsetenv("NOTIFY_SOCKET");
}

void onAlarm(int) {}

TEST(SleepTest, SleepsTheWholeTimeThroughInterruptions) {
    struct sigaction sa {};
    sa.sa_handler = onAlarm;
    struct sigaction old {};
    sigaction(SIGALRM, &sa, &old);
    itimerval every10ms{{0, 10000}, {0, 10000}};
    setitimer(ITIMER_REAL, &every10ms, nullptr);
    // The launcher's own waits are whole seconds; 999 ms crosses a second
    // boundary of the clock but for one moment in a thousand.
    for (const DWORD ms : {250u, 999u, 1000u}) {
        const auto begin = std::chrono::steady_clock::now();
        Sleep(ms);
        const auto took = std::chrono::steady_clock::now() - begin;
        EXPECT_GE(took, std::chrono::milliseconds(ms)) << ms;
        EXPECT_LT(took, std::chrono::milliseconds(ms + 400)) << ms;
    }
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
}

}  // namespace
