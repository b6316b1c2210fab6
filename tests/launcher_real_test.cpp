// The launcher for real: the real utility library and log system, driven to
// its end from a binary directory that holds a scripted fake sys_ctrl.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ProcUtil.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using testsupport::programName;

namespace {

struct Install {
    fs::path root;
    fs::path bin;

    std::vector<std::string> runs() const { return testsupport::runsIn(bin); }
    std::vector<std::string> messages() const {
        return testsupport::logMessages(root / "log" / "BASE" / "launcher_driver.log");
    }
    int ticks() const { return std::stoi(testsupport::readFile(bin / "driver.ticks")); }
    std::string controlProgram() const { return testsupport::utf8Of(bin / programName("sys_ctrl")); }
};

Install makeInstall(const std::string& name, const char* plan, bool withControlProgram = true) {
    Install in;
    in.root = testsupport::freshDir(name);
    in.bin = in.root / "bin";
    fs::create_directories(in.bin);
    testsupport::copyProgram("launcher_driver", in.bin);
    if (withControlProgram) {
        testsupport::copyProgram("fake_sys_ctrl", in.bin, "sys_ctrl");
        testsupport::writeFile(in.bin / "sys_ctrl.plan", plan);
    }
    return in;
}

void drive(const Install& in) {
    const std::string driver = testsupport::utf8Of(in.bin / programName("launcher_driver"));
    ASSERT_EQ(orvel_public::CProcUtil::execScript(driver, ""), 0);
}

TEST(LauncherRealTest, StartThatSucceedsAtOnce) {
    const Install in = makeInstall("real-success", "-l 0\n");
    drive(in);
    EXPECT_EQ(in.runs(), std::vector<std::string>{"-l"});
    EXPECT_EQ(in.messages(), (std::vector<std::string>{"doStart(): 开始启动系统", "doStart(): 启动系统成功"}));
    EXPECT_EQ(in.ticks(), 3);
}

TEST(LauncherRealTest, MissingControlProgram) {
    const Install in = makeInstall("real-missing", "", false);
    drive(in);
    std::vector<std::string> expected = {"doStart(): 开始启动系统", "未找到可执行文件sys_ctrl"};
    for (int i = 0; i < 3; ++i) {
        expected.insert(expected.end(), {"doStop(): 开始停止系统", "未找到可执行文件sys_ctrl"});
    }
    EXPECT_EQ(in.messages(), expected);
    EXPECT_EQ(in.ticks(), 5);
}

TEST(LauncherRealTest, ThreeFailedStartsWithGoodCleanUps) {
    const Install in = makeInstall("real-three-failures", "-l 2\n-s 0\n");
    drive(in);
    EXPECT_EQ(in.runs(), (std::vector<std::string>{"-l", "-s", "-l", "-s", "-l", "-s"}));
    const std::string failure = "doStart(): 启动系统失败\n" + in.controlProgram() + "\nRetrun value == 2";
    const std::vector<std::string> once = {"doStart(): 开始启动系统", failure, "doStop(): 开始停止系统",
                                           "doStop(): 停止系统成功"};
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) {
        expected.insert(expected.end(), once.begin(), once.end());
    }
    EXPECT_EQ(in.messages(), expected);
    EXPECT_EQ(in.ticks(), 10);
}

TEST(LauncherRealTest, ControlProgramKilledIsAFailedRun) {
    const Install in = makeInstall("real-killed", "-l kill 0\n-s 0\n");
    drive(in);
    EXPECT_EQ(in.runs(), (std::vector<std::string>{"-l", "-s", "-l"}));
    const std::vector<std::string> messages = in.messages();
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages[1].rfind("doStart(): 启动系统失败\n" + in.controlProgram() + "\nRetrun value == ", 0), 0u);
    EXPECT_NE(messages[1].substr(messages[1].size() - 2), "= 0");
}

TEST(LauncherRealTest, InstallRootWithSpacesAndNonAsciiLetters) {
    const Install in = makeInstall("平台 测试", "-l 2 0\n-s 0\n");
    drive(in);
    EXPECT_EQ(in.runs(), (std::vector<std::string>{"-l", "-s", "-l"}));
    const std::vector<std::string> messages = in.messages();
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages[1], "doStart(): 启动系统失败\n" + in.controlProgram() + "\nRetrun value == 2");
    EXPECT_NE(messages[1].find("平台 测试"), std::string::npos);
}

}  // namespace
