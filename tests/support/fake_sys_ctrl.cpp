// A scripted stand-in for the platform's control program, placed as sys_ctrl
// in a binary directory. Each run appends "<epoch ms> <args...>" to
// sys_ctrl.runs beside it, then acts as sys_ctrl.plan says for its option:
//   -l 2 2 0
//   -s 1 0
// The k-th run with an option takes the k-th action on that option's line
// (the last one repeats); with no line the run exits 0. Actions:
//   N         exit with status N
//   kill      end by SIGTERM
//   sleep:MS  sleep MS milliseconds, then exit 0
//   spew:B    write B bytes to standard output and to standard error, then exit 0
//   say:N     say what it was asked on standard output and on standard error,
//             then exit with status N
//   fds       write its open descriptors (Linux) to sys_ctrl.fds, then exit 0
//   sigs      write its blocked and ignored signals (Linux) to sys_ctrl.sigs, then exit 0
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

#include "ChildActions.h"
#include "Paths.h"

namespace {

std::filesystem::path beside(const std::string& name) {
    return std::filesystem::u8path(orvel_public::detail::binaryDirectory()) / name;
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

}  // namespace

int main(int argc, char** argv) {
    const std::string option = argc > 1 ? argv[1] : "";
    const std::vector<std::string> plan = planFor(option);
    const size_t index = earlierRuns(option);

    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    {
        std::ofstream runs(beside("sys_ctrl.runs"), std::ios::app);
        runs << now.count();
        for (int i = 1; i < argc; ++i) {
            runs << ' ' << argv[i];
        }
        runs << '\n';
    }

    if (plan.empty()) {
        return 0;
    }
    const std::string action = plan[index < plan.size() ? index : plan.size() - 1];
    if (action == "kill") {
        std::raise(SIGTERM);
        return 0;
    }
    if (action.rfind("sleep:", 0) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoll(action.c_str() + 6)));
        return 0;
    }
    if (action.rfind("spew:", 0) == 0) {
        testsupport::spewToBothStreams(std::atoll(action.c_str() + 5));
        return 0;
    }
    if (action.rfind("say:", 0) == 0) {
        std::printf("sys_ctrl %s: on standard output\n", option.c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "sys_ctrl %s: on standard error\n", option.c_str());
        return static_cast<int>(std::strtoll(action.c_str() + 4, nullptr, 10));
    }
    if (action == "sigs") {
        std::ifstream status("/proc/self/status");
        std::ofstream out(beside("sys_ctrl.sigs"));
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0) out << line << '\n';
        }
        return 0;
    }
    if (action == "fds") {
        // Listed before the output file is opened, so that it is not among them.
        const std::string listing = testsupport::openDescriptors();
        std::ofstream(beside("sys_ctrl.fds")) << listing;
        return 0;
    }
    return static_cast<int>(std::strtoll(action.c_str(), nullptr, 10));
}
