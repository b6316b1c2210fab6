// The utility library against real child processes and a real binary directory.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "FileUtil.h"
#include "ProcUtil.h"
#include "procutil_expect.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using orvel_public::CFileUtil;
using orvel_public::CProcUtil;
using testsupport::programName;

namespace {

struct SplitCase {
    const char* args;
    std::vector<std::string> words;
};

TEST(SplitArgsTest, SplitsOnBlanksOnly) {
    const SplitCase cases[] = {
        {"-l", {"-l"}},
        {"", {}},
        {"   ", {}},
        {"-s  now\tplease ", {"-s", "now", "please"}},
        {" \"a b\" ", {"\"a", "b\""}},  // no quoting: arguments are blank-separated words
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(orvel_public::detail::splitArgs(c.args), c.words) << "[" << c.args << "]";
    }
}

TEST(QuoteWindowsArgTest, FollowsCommandLineToArgvRules) {
    const std::pair<const char*, const char*> cases[] = {
        {"-l", "-l"},
        {"", "\"\""},
        {"C:\\Program Files\\p\\sys_ctrl.exe", "\"C:\\Program Files\\p\\sys_ctrl.exe\""},
        {"C:\\dir with space\\", "\"C:\\dir with space\\\\\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
        {"plain\\path", "plain\\path"},
    };
    for (const auto& [arg, quoted] : cases) {
        EXPECT_EQ(orvel_public::detail::quoteWindowsArg(arg), quoted) << arg;
    }
}

TEST(GetPathOfBinFileTest, FindsOnlyRegularFilesInTheBinaryDirectory) {
    const fs::path folder = testsupport::binDir() / "named_like_a_program";
    fs::create_directories(folder);
    const std::string child = programName("fake_sys_ctrl");
    EXPECT_EQ(CFileUtil::getPathOfBinFile(child, nullptr), childPath());

    const char* const refused[] = {"",
                                   ".",
                                   "..",
                                   "no_such_program",
                                   "named_like_a_program",
                                   "../bin/fake_sys_ctrl",
                                   "./fake_sys_ctrl",
                                   "sub/x",
                                   "sub\\x",
                                   "C:fake_sys_ctrl"};
    for (const char* name : refused) {
        EXPECT_EQ(CFileUtil::getPathOfBinFile(name, nullptr), "") << name;
    }
    fs::remove(folder);
}

TEST(ExecScriptTest, ReturnsTheExitStatus) {
    for (const int code : {0, 1, 2, 42, 255}) {
        EXPECT_EQ(CProcUtil::execScript(childPath(), "exit:" + std::to_string(code)), code);
    }
}

TEST(ExecScriptTest, PassesArgumentsAsSeparateWords) {
    const fs::path dir = testsupport::freshDir("args");
    const std::string out = testsupport::utf8Of(dir / "args.txt");
    ASSERT_EQ(CProcUtil::execScript(childPath(), "args:" + out + "  -l\tx;y $HOME *"), 0);
    EXPECT_EQ(testsupport::readLines(dir / "args.txt"),
              (std::vector<std::string>{"-l", "x;y", "$HOME", "*"}));
}

TEST(ExecScriptTest, RunsAProgramWhosePathHasSpacesAndNonAsciiLetters) {
    const fs::path dir = testsupport::freshDir("子进程 平台 测试") / "b i n";
    fs::create_directories(dir);
    testsupport::copyProgram("fake_sys_ctrl", dir);
    const std::string program = testsupport::utf8Of(dir / programName("fake_sys_ctrl"));
    // Arguments are blank-separated, so the record goes to a folder without blanks.
    const fs::path record = testsupport::freshDir("args-from-non-ascii") / "args.txt";
    EXPECT_EQ(CProcUtil::execScript(program, "exit:3"), 3);
    ASSERT_EQ(CProcUtil::execScript(program, "args:" + testsupport::utf8Of(record) + " -s"), 0);
    EXPECT_EQ(testsupport::readLines(record), std::vector<std::string>{"-s"});
}

TEST(ExecScriptTest, MissingProgramIsReported) {
    const fs::path dir = testsupport::freshDir("missing");
    EXPECT_EQ(CProcUtil::execScript(testsupport::utf8Of(dir / programName("sys_ctrl")), "-l"),
              expect::kNotFound);
    EXPECT_EQ(CProcUtil::execScript("", "-l"), expect::kNotFound);
}

TEST(ExecScriptTest, ProgramThatCannotBeExecutedIsReported) {
    const fs::path dir = testsupport::freshDir("noexec");
    const fs::path data = dir / programName("sys_ctrl");
    testsupport::writeFile(data, "just some text\n");
    fs::permissions(data, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(CProcUtil::execScript(testsupport::utf8Of(data), "-l"), expect::kCannotExecute);

    const fs::path folder = dir / "folder";
    fs::create_directories(folder);
    EXPECT_EQ(CProcUtil::execScript(testsupport::utf8Of(folder), "-l"), expect::kCannotExecute);
}

// The child's output and error go to the handle the hooks give, whole, and
// nothing waits on them; the hooks then hear how the run ended.
fs::path g_output;
std::string g_ended;

TEST(ExecScriptTest, ChildWritingMegabytesWhereTheHooksSayDoesNotStall) {
    g_output = testsupport::freshDir("spew") / "out.txt";
    const orvel_public::RunHooks hooks{
        [](const std::string&, const std::string&) { return expect::openForChild(g_output); },
        [](const std::string&, const std::string& args, int32_t status) {
            g_ended += args + " " + std::to_string(status) + ";";
        }};
    orvel_public::setRunHooks(&hooks);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(CProcUtil::execScript(childPath(), "spew:10485760"), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(60));
    EXPECT_EQ(fs::file_size(g_output), 2u * 10485760u);
    EXPECT_EQ(CProcUtil::execScript(childPath(), "exit:3"), 3);
    orvel_public::setRunHooks(nullptr);
    EXPECT_EQ(g_ended, "spew:10485760 0;exit:3 3;");
}

}  // namespace
