// Process helpers of the platform utility library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvel_public {

class CProcUtil {
public:
    // Runs program directly (no shell, no PATH search) with args split on
    // blanks into separate arguments, waits for it to end and returns its exit
    // status. POSIX: 127 when the program is not found, 126 when it cannot be
    // executed, 128+N when signal N killed it. Windows: the exit code as a
    // signed value, -1 when the process cannot be created.
    // The child's standard output and error are what the run hooks give for
    // the run (RunHooks.h), else the process's own on POSIX and none on
    // Windows; it inherits no other handle of ours. The hooks are told the
    // status too.
    static int32_t execScript(const std::string& program, const std::string& args);
};

namespace detail {

// args split on blanks (spaces and tabs); runs of blanks give no empty argument.
std::vector<std::string> splitArgs(const std::string& args);

// One argument quoted so that CommandLineToArgvW gives it back unchanged.
std::string quoteWindowsArg(const std::string& arg);

}  // namespace detail

}  // namespace orvel_public
