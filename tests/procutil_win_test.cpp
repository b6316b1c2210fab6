// What only Windows does: 32-bit exit codes, -1 for a process never created.
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

// Children inherit no handles and get a console of their own without a window,
// so their output never comes back through ours.
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

}  // namespace
