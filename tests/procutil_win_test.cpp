// What only Windows does: 32-bit exit codes, -1 for a process never created,
// and the one handle a child inherits.
#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "ProcUtil.h"
#include "procutil_expect.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using orvel_public::CProcUtil;

namespace expect {
const int32_t kNotFound = -1;
const int32_t kCannotExecute = -1;

orvel_public::OutputHandle openForChild(const fs::path& file) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? orvel_public::kNoOutput
                                     : reinterpret_cast<orvel_public::OutputHandle>(h);
}
}  // namespace expect

namespace {

TEST(ExecScriptWinTest, ExitCodesComeBackAsSigned32BitValues) {
    EXPECT_EQ(CProcUtil::execScript(childPath(), "exit:-5"), -5);
    EXPECT_EQ(CProcUtil::execScript(childPath(), "exit:3221225477"), static_cast<int32_t>(0xC0000005u));
    EXPECT_EQ(CProcUtil::execScript(childPath(), "exit:300"), 300);
}

// fake_sys_ctrl with args, inheriting every inheritable handle of ours; its exit code.
DWORD runInheritingAll(const std::string& args) {
    std::wstring command = L"fake_sys_ctrl.exe " + std::wstring(args.begin(), args.end());
    const std::wstring program = (testsupport::binDir() / "fake_sys_ctrl.exe").wstring();
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

// The handle the hooks give is the child's output and error, and the one
// handle it inherits: an inheritable one of ours stays ours.
fs::path g_output;

TEST(ExecScriptWinTest, OutputGoesWhereTheHooksSayAndNoOtherHandleIsInherited) {
    g_output = testsupport::freshDir("win-output") / "out.txt";
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE ours = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    const std::string probe = "handle:" + std::to_string(reinterpret_cast<uintptr_t>(ours));
    ASSERT_EQ(runInheritingAll(probe), 0) << "a child that inherits every handle does not see the event";
    const orvel_public::RunHooks hooks{
        [](const std::string&, const std::string&) { return expect::openForChild(g_output); }, nullptr};
    orvel_public::setRunHooks(&hooks);
    EXPECT_EQ(CProcUtil::execScript(childPath(), probe), 1) << "the child saw the event";
    EXPECT_EQ(CProcUtil::execScript(childPath(), "spew:4"), 0);
    orvel_public::setRunHooks(nullptr);
    CloseHandle(ours);
    EXPECT_EQ(testsupport::readFile(g_output), "xxxxxxxx");
}

}  // namespace
