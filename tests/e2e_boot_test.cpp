// End to end on Linux: boots of the installed ventrix, checked by their exit
// code, notifications, runs of sys_ctrl and log records.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/Boot.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace testsupport;

namespace {

TEST(E2eBootTest, StartThatSucceeds) {
    Boot b = prepareBoot("success", "-l 0\n");
    startBoot(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    const auto notes = b.notify->collect(100ms);
    ASSERT_EQ(messagesOf(notes),
              (std::vector<std::string>{"STATUS=Service starting", "READY=1\nSTATUS=Service running",
                                        "STATUS=Service stopped"}));
    EXPECT_LT(b.msAt(notes[1].at), 1000);
    EXPECT_GE(b.msAt(notes[2].at), 17000);
    EXPECT_LT(b.msAt(notes[2].at), 19500);

    EXPECT_EQ(b.runs(), std::vector<std::string>{"-l"});
    EXPECT_EQ(b.logMessages(), kSuccessfulBootRecords);
    EXPECT_EQ(b.lastRun(), "-l 0");  // the unit's stop will stop the platform
    // A quiet boot sleeps through its 17 s: tens of milliseconds of CPU. A
    // dispatcher that polled without waiting would burn seconds of it.
    EXPECT_LT(b.cpuMs, 1500) << "CPU time of the boot, in ms";
}

TEST(E2eBootTest, SigtermDuringTheSettleDelay) {
    Boot b = prepareBoot("sigterm", "-l 0\n");
    startBoot(b);
    ASSERT_TRUE(b.notify->waitFor("READY=1\nSTATUS=Service running", 5s));
    std::this_thread::sleep_for(2s);
    const auto signalled = Clock::now();
    kill(b.pid, SIGTERM);
    ASSERT_TRUE(b.notify->waitFor("STATUS=Service stop pending", 5s));
    const auto stopping = b.notify->collect().back().at;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(stopping - signalled).count(), 500);

    ASSERT_EQ(waitExit(b, 60s), 0);
    const auto notes = b.notify->collect(100ms);
    ASSERT_EQ(messagesOf(notes),
              (std::vector<std::string>{"STATUS=Service starting", "READY=1\nSTATUS=Service running",
                                        "STATUS=Service stop pending", "STATUS=Service stopped"}));
    EXPECT_GE(b.msAt(notes[3].at), 15000);  // the settle delay still runs to its end
    EXPECT_LT(b.msAt(notes[3].at), 17500);
    EXPECT_FALSE(fs::exists(b.bin / "sys_ctrl.runs"));
    EXPECT_EQ(b.lastRun(), "none");  // nothing for the unit's stop to stop
    EXPECT_EQ(b.logMessages(), (std::vector<std::string>{"serviceMain(): Service starting .",
                                                         "serviceMain(): Service running .",
                                                         "serviceMain(): Service stopped ."}));
}

TEST(E2eBootTest, ThreeFailedStartsStillExitZero) {
    Boot b = prepareBoot("three-failures", "-l 2\n-s 0\n");
    startBoot(b);
    ASSERT_EQ(waitExit(b, 60s), 0);
    const auto notes = b.notify->collect(100ms);
    ASSERT_EQ(messagesOf(notes).back(), "STATUS=Service stopped");
    EXPECT_GE(b.msAt(notes.back().at), 24000);
    EXPECT_EQ(b.runs(), (std::vector<std::string>{"-l", "-s", "-l", "-s", "-l", "-s"}));
    EXPECT_EQ(b.logMessages().size(), 2u + 3u * 4u + 1u);
    EXPECT_EQ(b.lastRun(), "-s 0");  // cleaned up: nothing for the unit's stop to stop
}

}  // namespace
