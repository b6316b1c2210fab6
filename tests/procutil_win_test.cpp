// What only Windows does: 32-bit exit codes, -1 for a process never created,
// and the children's output kept in a file beside the log.
#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "LogSystem.h"
#include "ProcUtil.h"
#include "procutil_expect.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using orvel_public::CProcUtil;

namespace expect {
const int32_t kNotFound = -1;
const int32_t kCannotExecute = -1;

// Children inherit no handle of ours and get a console of their own without a
// window, so their output never comes back through ours.
int32_t runWithOutputTo(const fs::path&, const std::string& program, const std::string& args) {
    return CProcUtil::execScript(program, args);
}
}  // namespace expect

namespace {

std::string childPath() { return testsupport::utf8Of(testsupport::binDir() / "test_child.exe"); }

TEST(ExecScriptWinTest, ExitCodesComeBackAsSigned32BitValues) {
    EXPECT_EQ(CProcUtil::execScript(childPath(), "exit -5"), -5);
    EXPECT_EQ(CProcUtil::execScript(childPath(), "exit 3221225477"), static_cast<int32_t>(0xC0000005u));
    EXPECT_EQ(CProcUtil::execScript(childPath(), "exit 300"), 300);
}

// test_child with args, inheriting every inheritable handle of ours; its exit code.
DWORD runInheritingAll(const std::string& args) {
    std::wstring command = L"test_child.exe " + std::wstring(args.begin(), args.end());
    const std::wstring program = (testsupport::binDir() / "test_child.exe").wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
        return 1000;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 1001;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

// A service has no console: with the log system started, each run's standard
// output and error are appended to <log folder>/<process>.<program>.log under
// a heading of its own, and that file is the one handle the child inherits.
TEST(ExecScriptWinTest, OutputGoesBesideTheLogAndNoOtherHandleIsInherited) {
    const fs::path file = testsupport::binDir().parent_path() / "log" / "BASE" / "procutil.test_child.log";
    fs::remove(file);
    orvel_public::StartLogSystem("BASE", "procutil");
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE ours = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    const std::string probe = "handle " + std::to_string(reinterpret_cast<uintptr_t>(ours));
    ASSERT_EQ(runInheritingAll(probe), 0) << "a child that inherits every handle does not see the event";
    EXPECT_EQ(CProcUtil::execScript(childPath(), probe), 1) << "the child saw the event";
    EXPECT_EQ(CProcUtil::execScript(childPath(), "spew 4"), 0);
    orvel_public::StopLogSystem();
    CloseHandle(ours);

    const std::vector<std::string> lines = testsupport::readLines(file);
    ASSERT_EQ(lines.size(), 3u) << testsupport::readFile(file);
    const std::regex heading(R"(---- \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} test_child (.*)\r?)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, heading)) << lines[0];
    EXPECT_EQ(m[1].str(), probe);
    ASSERT_TRUE(std::regex_match(lines[1], m, heading)) << lines[1];
    EXPECT_EQ(m[1].str(), "spew 4");
    EXPECT_EQ(lines[2], "xxxxxxxx");
}

}  // namespace
