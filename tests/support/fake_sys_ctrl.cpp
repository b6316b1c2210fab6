// The test suites' one stand-in for the platform's control program, which is
// also the child program of the utility library's tests: one set of actions,
// taken from its command line or, when it is run as sys_ctrl, from a plan.
// As sys_ctrl (run with an option, such as -l or -s): each run appends
// "<epoch ms> <args...>" to sys_ctrl.runs beside it, then takes the action
// that sys_ctrl.plan gives its option:
//   -l 2 2 0
//   -s 1 0
// The k-th run with an option takes the k-th action on that option's line
// (the last one repeats); with no line the run exits 0.
// Run with an action as its first argument, it takes that action, records
// nothing, and passes its further arguments to it. Actions:
//   N, exit:N    exit with status N
//   kill         raise SIGTERM, then exit 0 (a child that inherited it blocked goes on)
//   signal:N     raise signal N (101 when that returns)
//   sleep:MS     sleep MS milliseconds, then exit 0
//   spew:B       write B bytes to standard output and to standard error, then exit 0
//   say:N        say what it was asked on standard output and on standard
//                error, then exit with status N
//   fds[:FILE]   write its open descriptors (Linux) to FILE, one "N target" a
//                line (sys_ctrl.fds beside it), then exit 0
//   sigs         write its blocked and ignored signals (Linux) to sys_ctrl.sigs beside it, then exit 0
//   args:FILE    write each further argument to FILE, one a line, then exit 0
//   env:FILE     write its environment to FILE, one variable a line, then exit 0
//   handle:N     (Windows) exit 0 when handle N is an open unsignalled event
//                here, as the parent made it, 1 when not
// Anything else exits 100.
#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Paths.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path beside(const std::string& name) {
    return fs::u8path(orvel_public::detail::binaryDirectory()) / name;
}

std::vector<std::string> planFor(const std::string& option) {
    std::ifstream in(beside("sys_ctrl.plan"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first;
        if (words >> first && first == option) {
            std::vector<std::string> actions;
            for (std::string a; words >> a;) {
                actions.push_back(a);
            }
            return actions;
        }
    }
    return {};
}

size_t earlierRuns(const std::string& option) {
    std::ifstream in(beside("sys_ctrl.runs"));
    size_t count = 0;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string stamp, first;
        if (words >> stamp >> first && first == option) {
            ++count;
        }
    }
    return count;
}

void record(int argc, char** argv) {
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    std::ofstream runs(beside("sys_ctrl.runs"), std::ios::app);
    runs << now.count();
    for (int i = 1; i < argc; ++i) {
        runs << ' ' << argv[i];
    }
    runs << '\n';
}

void spew(long long bytes) {
    static char block[64 * 1024];
    std::memset(block, 'x', sizeof block);
    for (long long left = bytes; left > 0; left -= static_cast<long long>(sizeof block)) {
        const size_t n =
            left < static_cast<long long>(sizeof block) ? static_cast<size_t>(left) : sizeof block;
        std::fwrite(block, 1, n, stdout);
        std::fwrite(block, 1, n, stderr);
    }
}

// Listed before the output file is opened, so that it is not among them.
std::string openDescriptors() {
    std::string listing;
    std::error_code ec;
    for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string target = fs::read_symlink(it->path(), ec).string();
        if (target.rfind("/proc/", 0) == 0 && target.find("/fd") != std::string::npos) {
            continue;  // the listing's own
        }
        listing += it->path().filename().string() + " " + target + "\n";
    }
    return listing;
}

bool isNumber(const std::string& s) {
    char* end = nullptr;
    (void)std::strtoll(s.c_str(), &end, 10);
    return !s.empty() && *end == '\0';
}

int act(const std::string& action, const std::string& option, int argc, char** argv, int firstArg) {
    const std::string::size_type colon = action.find(':');
    const std::string name = action.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : action.substr(colon + 1);
    if (isNumber(action) || (name == "exit" && isNumber(arg))) {
        return static_cast<int>(std::strtoll(name == "exit" ? arg.c_str() : action.c_str(), nullptr, 10));
    }
    if (name == "kill") {
        std::raise(SIGTERM);
        return 0;
    }
    if (name == "signal") {
        std::raise(std::atoi(arg.c_str()));
        return 101;
    }
    if (name == "sleep") {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoll(arg.c_str())));
        return 0;
    }
    if (name == "spew") {
        spew(std::atoll(arg.c_str()));
        return 0;
    }
    if (name == "say") {
        std::printf("sys_ctrl %s: on standard output\n", option.c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "sys_ctrl %s: on standard error\n", option.c_str());
        return static_cast<int>(std::strtoll(arg.c_str(), nullptr, 10));
    }
    if (name == "fds") {
        const std::string listing = openDescriptors();
        std::ofstream(arg.empty() ? beside("sys_ctrl.fds") : fs::u8path(arg)) << listing;
        return 0;
    }
    if (name == "sigs") {
        std::ifstream status("/proc/self/status");
        std::ofstream out(beside("sys_ctrl.sigs"));
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0) out << line << '\n';
        }
        return 0;
    }
    if (name == "args") {
        std::ofstream out(fs::u8path(arg), std::ios::binary);
        for (int i = firstArg; i < argc; ++i) out << argv[i] << '\n';
        return 0;
    }
    if (name == "env") {
        std::ofstream out(fs::u8path(arg), std::ios::binary);
        for (char** e = environ; *e != nullptr; ++e) out << *e << '\n';
        return 0;
    }
#ifdef _WIN32
    if (name == "handle") {
        // An unsignalled event, as the parent made it: any other open handle
        // of that number is not the parent's.
        const auto handle =
            reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(arg.c_str(), nullptr, 10)));
        DWORD flags = 0;
        return GetHandleInformation(handle, &flags) && GetFileType(handle) == FILE_TYPE_UNKNOWN &&
                       WaitForSingleObject(handle, 0) == WAIT_TIMEOUT
                   ? 0
                   : 1;
    }
#endif
    return 100;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (!first.empty() && first[0] != '-') {
        return act(first, "", argc, argv, 2);
    }
    const std::vector<std::string> plan = planFor(first);
    const size_t index = earlierRuns(first);
    record(argc, argv);
    if (plan.empty()) {
        return 0;
    }
    return act(plan[index < plan.size() ? index : plan.size() - 1], first, argc, argv, argc);
}
