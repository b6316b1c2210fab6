// What only Windows does: a service has no console, so with the log system
// started, each run's standard output and error are appended to
// <log folder>/<process>.<program>.log under a heading of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "LogSystem.h"
#include "ProcUtil.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

TEST(LogSystemWinTest, RunOutputGoesBesideTheLogUnderAHeadingARun) {
    const fs::path file = testsupport::binDir().parent_path() / "log" / "BASE" / "runs.fake_sys_ctrl.log";
    fs::remove(file);
    const std::string child = testsupport::utf8Of(testsupport::binDir() / "fake_sys_ctrl.exe");
    orvel_public::StartLogSystem("BASE", "runs");
    EXPECT_EQ(orvel_public::CProcUtil::execScript(child, "exit:0"), 0);
    EXPECT_EQ(orvel_public::CProcUtil::execScript(child, "spew:4"), 0);
    orvel_public::StopLogSystem();
    EXPECT_EQ(orvel_public::CProcUtil::execScript(child, "spew:4"), 0);  // nowhere, once stopped

    const std::vector<std::string> lines = testsupport::readLines(file);
    ASSERT_EQ(lines.size(), 3u) << testsupport::readFile(file);
    const std::regex heading(R"(---- \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} fake_sys_ctrl (.*)\r?)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, heading)) << lines[0];
    EXPECT_EQ(m[1].str(), "exit:0");
    ASSERT_TRUE(std::regex_match(lines[1], m, heading)) << lines[1];
    EXPECT_EQ(m[1].str(), "spew:4");
    EXPECT_EQ(lines[2], "xxxxxxxx");
}

}  // namespace
