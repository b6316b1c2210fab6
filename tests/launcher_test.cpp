// The launcher's retry policy against a scripted utility library.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "CSysLauncher.h"
#include "LogSystem.h"
#include "RecordKinds.h"
#include "support/LogCapture.h"
#include "support/ScriptedUtil.h"

namespace {

using orvel_sys::CSysLauncher;

// Looks into the launcher's fields and may set an impossible state.
struct Probe : CSysLauncher {
    int32_t state() const { return m_nState; }
    int32_t stopFails() const { return m_nStopFailCount; }
    int32_t startFails() const { return m_nStartFailCount; }
    void setState(int32_t s) { m_nState = s; }
};

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::resetUtil();
        orvel_public::StartLogSystem("BASE", "launcher_test");
        capture_ = std::make_unique<testsupport::LogCapture>();
    }
    void TearDown() override {
        capture_.reset();
        orvel_public::StopLogSystem();
    }

    // Ticks until the launcher finishes (at most 40 ticks), with bStop from stopAt on.
    static std::vector<int32_t> tickToEnd(CSysLauncher& launcher, int stopAt = 1000) {
        std::vector<int32_t> results;
        for (int tick = 1; tick <= 40; ++tick) {
            results.push_back(launcher.processOnce(tick >= stopAt));
            if (results.back() < 0) {
                break;
            }
        }
        return results;
    }

    static std::vector<int32_t> waitsThenEnd(int waits) {
        std::vector<int32_t> r(static_cast<size_t>(waits), 1000);
        r.push_back(-1);
        return r;
    }

    std::unique_ptr<testsupport::LogCapture> capture_;
};

struct PolicyCase {
    const char* name;
    std::deque<int32_t> startResults;
    std::deque<int32_t> stopResults;
    int stopAt;  // first tick that sees bStop
    int ticks;   // the tick that returns -1
    const char* runs;
    const char* outcome;  // the kind the boot's last record takes after these records
};

// The kind the boot's last record takes after the records captured.
std::string outcomeAfter(const testsupport::LogCapture& capture) {
    orvel_public::detail::Records records;
    for (const testsupport::Record& r : capture.records()) records.classify(r.message, r.function);
    const auto last =
        records.classify("serviceMain(): Service stopped .", "void serviceMain(DWORD, WCHAR**)");
    return last.kind != nullptr ? last.kind->kind : "(none)";
}

void PrintTo(const PolicyCase& c, std::ostream* os) { *os << c.name; }

class LauncherPolicyTest : public LauncherTest, public ::testing::WithParamInterface<PolicyCase> {};

TEST_P(LauncherPolicyTest, RunsAndTicksFollowThePolicy) {
    const PolicyCase& c = GetParam();
    scripted::util().startResults = c.startResults;
    scripted::util().stopResults = c.stopResults;
    CSysLauncher launcher;
    EXPECT_EQ(tickToEnd(launcher, c.stopAt), waitsThenEnd(c.ticks - 1));
    EXPECT_EQ(scripted::util().runWords(), c.runs);
    EXPECT_EQ(outcomeAfter(*capture_), c.outcome);
}

// clang-format off
const PolicyCase kPolicyCases[] = {
    {"StartSucceedsAtOnce", {0}, {}, 1000, 3, "l", "started"},
    {"ThreeFailedStartsWithGoodCleanUps", {2, 2, 2}, {0}, 1000, 10, "l s l s l s", "gave-up-after-starts"},
    {"CleanUpFailsTwiceThenSecondStartSucceeds", {2, 0}, {1, 1, 0}, 1000, 8, "l s s s l", "started-after-failures"},
    {"EveryCleanUpRunFails", {2}, {1, 1, 1}, 1000, 5, "l s s s", "gave-up-after-cleanups"},
    {"CleanUpsSucceedOnlyAtTheirThirdRun", {2, 2, 2}, {1, 1, 0, 1, 1, 0, 1, 1, 0}, 1000, 16,
     "l s s s l s s s l s s s", "gave-up-after-starts"},
    {"NegativeResultIsAFailure", {-1, 0}, {0}, 1000, 6, "l s l", "started-after-failures"},
    {"StopAtTheFirstTickRunsNothing", {}, {}, 1, 1, "", "stopped-before-started"},
    {"StopWhenTheStartIsDueRunsNothing", {}, {}, 2, 2, "", "stopped-before-started"},
    {"StopAfterTheStartSucceededEndsAsUsual", {0}, {}, 3, 3, "l", "started"},
    {"StopDuringCleanUpFinishesTheCleanUp", {2}, {0}, 3, 4, "l s", "stopped-before-started"},
    {"StopDuringFailingCleanUpStillRunsThreeTimes", {2}, {1, 1, 1}, 3, 5, "l s s s", "gave-up-after-cleanups"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Ticks, LauncherPolicyTest, ::testing::ValuesIn(kPolicyCases),
                         [](const ::testing::TestParamInfo<PolicyCase>& info) { return info.param.name; });

TEST_F(LauncherTest, MissingProgramFailsEveryRunWithoutRunningAnything) {
    scripted::util().programPresent = false;
    CSysLauncher launcher;
    EXPECT_EQ(tickToEnd(launcher), waitsThenEnd(4));
    EXPECT_TRUE(scripted::util().runs.empty());
    const std::vector<std::string> expected = {
        "INFO doStart(): 开始启动系统", "ERROR 未找到可执行文件sys_ctrl", "INFO doStop(): 开始停止系统",
        "ERROR 未找到可执行文件sys_ctrl", "INFO doStop(): 开始停止系统",  "ERROR 未找到可执行文件sys_ctrl",
        "INFO doStop(): 开始停止系统",  "ERROR 未找到可执行文件sys_ctrl",
    };
    EXPECT_EQ(capture_->lines(), expected);
    EXPECT_EQ(outcomeAfter(*capture_), "control-program-not-found");
}

// The program is looked up at every run: one that turns up after the first
// start failed to find it makes a boot that gave up after its starts.
TEST_F(LauncherTest, ProgramFoundOnlyFromTheFirstCleanUpOnGivesUpAfterStarts) {
    scripted::util().programPresent = false;
    scripted::util().startResults = {2, 2};
    scripted::util().stopResults = {0};
    CSysLauncher launcher;
    launcher.processOnce(false);  // the first tick starts nothing
    launcher.processOnce(false);  // the start, which finds no program
    scripted::util().programPresent = true;
    tickToEnd(launcher);
    EXPECT_EQ(scripted::util().runWords(), "s l s l s");
    EXPECT_EQ(outcomeAfter(*capture_), "gave-up-after-starts");
}

TEST_F(LauncherTest, PathIsLookedUpAfreshWithTheSuffixOnEveryRun) {
    scripted::util().startResults = {2, 0};
    CSysLauncher launcher;
    tickToEnd(launcher);
    EXPECT_EQ(scripted::util().lookups, std::vector<std::string>(3, "sys_ctrl.sfx"));
    for (const scripted::Run& run : scripted::util().runs) {
        EXPECT_EQ(run.program, "/opt/platform/bin/sys_ctrl.sfx");
    }
}

TEST_F(LauncherTest, FailedRunsAreOneThreeLineRecordEach) {
    scripted::util().startResults = {2, 0};
    scripted::util().stopResults = {-1, 0};
    CSysLauncher launcher;
    tickToEnd(launcher);
    const std::vector<std::string> expected = {
        "INFO doStart(): 开始启动系统",
        "ERROR doStart(): 启动系统失败\n/opt/platform/bin/sys_ctrl.sfx\nRetrun value == 2",
        "INFO doStop(): 开始停止系统",
        "ERROR doStop(): 停止系统失败\n/opt/platform/bin/sys_ctrl.sfx\nRetrun value == -1",
        "INFO doStop(): 开始停止系统",
        "INFO doStop(): 停止系统成功",
        "INFO doStart(): 开始启动系统",
        "INFO doStart(): 启动系统成功",
    };
    EXPECT_EQ(capture_->lines(), expected);
}

TEST_F(LauncherTest, RecordsCarryTheWritingSite) {
    CSysLauncher launcher;
    tickToEnd(launcher);
    const std::vector<testsupport::Record> records = capture_->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].file, "CSysLauncher.cpp");
    EXPECT_GT(records[0].line, 0);
    EXPECT_EQ(records[0].function, "bool orvel_sys::CSysLauncher::doStart()");
}

TEST_F(LauncherTest, IllegalStateIsLoggedAndResetToIdle) {
    for (const int32_t bad : {5, -1, 1000}) {
        Probe launcher;
        launcher.setState(bad);
        EXPECT_EQ(launcher.processOnce(false), 1000);
        EXPECT_EQ(launcher.state(), CSysLauncher::STATE_IDLE);
        EXPECT_EQ(launcher.processOnce(false), 1000);
        EXPECT_EQ(launcher.state(), CSysLauncher::STATE_START);
    }
    EXPECT_EQ(capture_->lines(), std::vector<std::string>(3, "ERROR processOnce(): 非法状态"));
    EXPECT_TRUE(scripted::util().runs.empty());
}

TEST_F(LauncherTest, ExceptionFromARunLeavesStateAndCountersAsTheyWere) {
    scripted::util().startResults = {2};
    scripted::util().stopResults = {1};
    Probe launcher;
    launcher.processOnce(false);  // to start
    launcher.processOnce(false);  // start fails
    launcher.processOnce(false);  // clean-up fails once
    ASSERT_EQ(launcher.state(), CSysLauncher::STATE_STOP);
    ASSERT_EQ(launcher.stopFails(), 1);
    ASSERT_EQ(launcher.startFails(), 1);

    scripted::util().onRun = [](const scripted::Run&) { throw std::runtime_error("platform failure"); };
    EXPECT_THROW(launcher.processOnce(false), std::runtime_error);
    EXPECT_EQ(launcher.state(), CSysLauncher::STATE_STOP);
    EXPECT_EQ(launcher.stopFails(), 1);
    EXPECT_EQ(launcher.startFails(), 1);

    scripted::util().onRun = nullptr;
    EXPECT_EQ(launcher.processOnce(false), 1000);  // the clean-up goes on where it was
    EXPECT_EQ(launcher.state(), CSysLauncher::STATE_STOPPED);
    EXPECT_EQ(launcher.stopFails(), 0);
}

TEST_F(LauncherTest, DestroyingTheLauncherRunsNothing) {
    scripted::util().startResults = {2};
    {
        Probe launcher;
        launcher.processOnce(false);
        launcher.processOnce(false);
        ASSERT_EQ(launcher.state(), CSysLauncher::STATE_STOP);
    }
    EXPECT_EQ(scripted::util().runWords(), "l");
}

}  // namespace
