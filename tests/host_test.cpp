// The service host in virtual time: the real host, launcher and log system,
// with a scripted service manager and utility library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ScriptedScm.h"
#include "support/ScriptedUtil.h"

int ventrixMain(int argc, char** argv);  // the host's main, renamed for this test

namespace {

using scripted::scm;
using scripted::util;

constexpr DWORD kStartPending = SERVICE_START_PENDING;
constexpr DWORD kRunning = SERVICE_RUNNING;
constexpr DWORD kStopPending = SERVICE_STOP_PENDING;
constexpr DWORD kStopped = SERVICE_STOPPED;

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::resetScm();
        scripted::resetUtil();
        runMs_ = 0;
        util().onRun = [this](const scripted::Run& run) {
            scripted::note("run " + run.args);
            scripted::advance(runMs_);
        };
    }

    int runHost() {
        char name[] = "ventrix";
        char* argv[] = {name, nullptr};
        return ventrixMain(1, argv);
    }

    std::vector<std::string> log() const { return scm().log->lines(); }

    int64_t runMs_;  // how long each run of the control program takes, in virtual ms
};

std::vector<std::string> bootRecords(const std::vector<std::string>& middle) {
    std::vector<std::string> out = {"INFO serviceMain(): Service starting .", "INFO serviceMain(): Service running ."};
    out.insert(out.end(), middle.begin(), middle.end());
    out.push_back("INFO serviceMain(): Service stopped .");
    return out;
}

TEST_F(HostTest, BootThatStartsThePlatformReportsEveryFieldExactlyAndExitsZero) {
    EXPECT_EQ(runHost(), 0);

    ASSERT_EQ(scm().reports.size(), 3u);
    const DWORD states[] = {kStartPending, kRunning, kStopped};
    const int64_t times[] = {0, 0, 17000};
    for (size_t i = 0; i < 3; ++i) {
        const SERVICE_STATUS& s = scm().reports[i].status;
        EXPECT_EQ(scm().reports[i].at, times[i]) << i;
        EXPECT_EQ(s.dwServiceType, 16u);
        EXPECT_EQ(s.dwCurrentState, states[i]);
        EXPECT_EQ(s.dwControlsAccepted, 1u);
        EXPECT_EQ(s.dwWin32ExitCode, 0u);
        EXPECT_EQ(s.dwServiceSpecificExitCode, 0u);
        EXPECT_EQ(s.dwCheckPoint, 0u);
        EXPECT_EQ(s.dwWaitHint, 0u);
    }
    EXPECT_EQ(scm().eventsOf("sleep"),
              (std::vector<std::string>{"0 sleep 15000", "15000 sleep 1000", "16000 sleep 1000"}));
    EXPECT_EQ(scm().eventsOf("run"), std::vector<std::string>{"16000 run -l"});
    EXPECT_EQ(log(), bootRecords({"INFO doStart(): 开始启动系统", "INFO doStart(): 启动系统成功"}));
}

TEST_F(HostTest, StopDuringTheSettleDelayIsReportedAtOnceAndNothingRuns) {
    scm().controls.insert({5000, SERVICE_CONTROL_STOP});
    EXPECT_EQ(runHost(), 0);
    EXPECT_EQ(scm().states(), (std::vector<DWORD>{kStartPending, kRunning, kStopPending, kStopped}));
    EXPECT_EQ(scm().reports[2].at, 5000);
    EXPECT_TRUE(scm().reports[2].fromMainThread);  // the handler runs on the dispatcher's thread
    EXPECT_EQ(scm().reports[3].at, 15000);         // the delay still runs to its end
    EXPECT_TRUE(util().runs.empty());
    EXPECT_EQ(log(), bootRecords({}));
}

struct CleanUpCase {
    const char* name;
    std::deque<int32_t> stopResults;
    int64_t stoppedAt;
    const char* runs;
};

void PrintTo(const CleanUpCase& c, std::ostream* os) { *os << c.name; }

class HostStopDuringCleanUpTest : public HostTest, public ::testing::WithParamInterface<CleanUpCase> {};

// The start fails at 16000; the clean-up run takes 500 ms and STOP arrives during it.
TEST_P(HostStopDuringCleanUpTest, CleanUpIsFinishedAndTheStartIsNotRetried) {
    const CleanUpCase& c = GetParam();
    runMs_ = 500;
    util().startResults = {2};
    util().stopResults = c.stopResults;
    scm().controls.insert({17700, SERVICE_CONTROL_STOP});
    EXPECT_EQ(runHost(), 0);
    EXPECT_EQ(util().runWords(), c.runs);
    EXPECT_EQ(scm().states(), (std::vector<DWORD>{kStartPending, kRunning, kStopPending, kStopped}));
    EXPECT_EQ(scm().reports[2].at, 17700);
    EXPECT_EQ(scm().reports[3].at, c.stoppedAt);
}

INSTANTIATE_TEST_SUITE_P(Host, HostStopDuringCleanUpTest,
                         ::testing::Values(CleanUpCase{"CleanUpSucceeds", {0}, 19000, "l s"},
                                           CleanUpCase{"CleanUpFailsThreeTimes", {1, 1, 1}, 21000, "l s s s"}),
                         [](const ::testing::TestParamInfo<CleanUpCase>& info) { return info.param.name; });

TEST_F(HostTest, StopAfterTheStartSucceededEndsAtTheNextTickAsUsual) {
    scm().controls.insert({16500, SERVICE_CONTROL_STOP});
    EXPECT_EQ(runHost(), 0);
    EXPECT_EQ(scm().states(), (std::vector<DWORD>{kStartPending, kRunning, kStopPending, kStopped}));
    EXPECT_EQ(scm().reports[3].at, 17000);
    EXPECT_EQ(util().runWords(), "l");
}

TEST_F(HostTest, PauseContinueInterrogateAndShutdownAreIgnored) {
    for (const DWORD control : {SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE, SERVICE_CONTROL_INTERROGATE,
                                SERVICE_CONTROL_SHUTDOWN}) {
        scm().controls.insert({1000 * static_cast<int64_t>(control), control});
    }
    EXPECT_EQ(runHost(), 0);
    EXPECT_EQ(scm().eventsOf("control").size(), 4u);
    EXPECT_EQ(scm().states(), (std::vector<DWORD>{kStartPending, kRunning, kStopped}));
    EXPECT_EQ(log(), bootRecords({"INFO doStart(): 开始启动系统", "INFO doStart(): 启动系统成功"}));
}

TEST_F(HostTest, UnknownControlCodesAreLoggedOnceEachAndChangeNothing) {
    for (const DWORD control : {0u, 6u, 200u}) {
        scm().controls.insert({2000, control});
    }
    EXPECT_EQ(runHost(), 0);
    EXPECT_EQ(scm().states(), (std::vector<DWORD>{kStartPending, kRunning, kStopped}));
    EXPECT_EQ(log(), bootRecords({"ERROR serviceStrl(): Invalid operation code !",
                                  "ERROR serviceStrl(): Invalid operation code !",
                                  "ERROR serviceStrl(): Invalid operation code !", "INFO doStart(): 开始启动系统",
                                  "INFO doStart(): 启动系统成功"}));
}

TEST_F(HostTest, DispatcherFailureIsOneRecordAndExitCodeZero) {
    scm().dispatcherFails = true;
    EXPECT_EQ(runHost(), 0);
    EXPECT_FALSE(scm().serviceMainRan);
    EXPECT_TRUE(scm().reports.empty());
    EXPECT_TRUE(util().runs.empty());
    EXPECT_EQ(log(), std::vector<std::string>{"ERROR main(): StartServiceCtrlDispatcher() return false !"});
}

TEST_F(HostTest, HandlerRegistrationFailureReportsNothing) {
    scm().registrationFails = true;
    EXPECT_EQ(runHost(), 0);
    EXPECT_TRUE(scm().reports.empty());
    EXPECT_TRUE(util().runs.empty());
    EXPECT_EQ(log(), (std::vector<std::string>{"INFO serviceMain(): Service starting .",
                                               "ERROR serviceMain(): RegisterServiceCtrlHandler() return NULL !"}));
}

TEST_F(HostTest, ThreeFailedStartsStillReportStoppedWithExitCodesZero) {
    util().startResults = {2, 2, 2};
    EXPECT_EQ(runHost(), 0);
    EXPECT_EQ(util().runWords(), "l s l s l s");
    ASSERT_EQ(scm().states(), (std::vector<DWORD>{kStartPending, kRunning, kStopped}));
    const scripted::Report& stopped = scm().reports.back();
    EXPECT_EQ(stopped.at, 15000 + 9 * 1000);
    EXPECT_EQ(stopped.status.dwWin32ExitCode, 0u);
    EXPECT_EQ(stopped.status.dwServiceSpecificExitCode, 0u);
}

TEST_F(HostTest, StopRacingTheStoppedReportNeverLeavesStopPendingLast) {
    for (int round = 0; round < 200; ++round) {
        SetUp();
        scm().controlsOnReport.insert({kStopped, SERVICE_CONTROL_STOP});
        scm().controlsOnReport.insert({kStopped, SERVICE_CONTROL_STOP});
        ASSERT_EQ(runHost(), 0);
        ASSERT_EQ(scm().eventsOf("control").size(), 2u);
        ASSERT_EQ(scm().states().back(), kStopped) << "round " << round;
    }
}

TEST_F(HostTest, StopRacingTheRunningWriteIsNotLost) {
    for (int round = 0; round < 200; ++round) {
        SetUp();
        scm().controlsOnReport.insert({kStartPending, SERVICE_CONTROL_STOP});
        ASSERT_EQ(runHost(), 0);
        const std::vector<DWORD> states = scm().states();
        // Either the STOP came after the running report, or it came first and
        // running was never reported over it; the launcher saw it either way.
        const bool after = states == std::vector<DWORD>{kStartPending, kRunning, kStopPending, kStopped};
        const bool before = states == std::vector<DWORD>{kStartPending, kStopPending, kStopped};
        ASSERT_TRUE(after || before) << "round " << round;
        ASSERT_TRUE(util().runs.empty()) << "round " << round;
    }
}

}  // namespace
