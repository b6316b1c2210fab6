// A child process for the utility library's tests, scripted by its arguments:
//   exit N            exit with status N
//   signal N          raise signal N
//   selfterm          raise SIGTERM (to see whether the child inherited a blocked mask)
//   spew BYTES        write BYTES bytes to standard output and to standard error, exit 0
//   sleep MS          sleep MS milliseconds, exit 0
//   args FILE ...     write each further argument to FILE, one a line, exit 0
//   fds FILE          write the open descriptors (POSIX) to FILE, one a line, exit 0
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 2) {
        return 100;
    }
    const std::string what = argv[1];
    if (what == "exit" && argc > 2) {
        return static_cast<int>(std::strtoll(argv[2], nullptr, 10));
    }
    if (what == "signal" && argc > 2) {
        std::raise(std::atoi(argv[2]));
        return 101;
    }
    if (what == "selfterm") {
        std::raise(SIGTERM);
        return 0;
    }
    if (what == "spew" && argc > 2) {
        const long long total = std::atoll(argv[2]);
        static char block[64 * 1024];
        std::memset(block, 'x', sizeof block);
        for (long long left = total; left > 0; left -= static_cast<long long>(sizeof block)) {
            const size_t n = left < static_cast<long long>(sizeof block) ? static_cast<size_t>(left) : sizeof block;
            std::fwrite(block, 1, n, stdout);
            std::fwrite(block, 1, n, stderr);
        }
        return 0;
    }
    if (what == "sleep" && argc > 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return 0;
    }
    if (what == "args" && argc > 2) {
        std::ofstream out(std::filesystem::u8path(argv[2]), std::ios::binary);
        for (int i = 3; i < argc; ++i) {
            out << argv[i] << '\n';
        }
        return 0;
    }
    if (what == "fds" && argc > 2) {
        // Listed before the output file is opened, leaving out the listing's own descriptor.
        std::string listing;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
            if (target.rfind("/proc/", 0) == 0 && target.size() > 3 && target.compare(target.size() - 3, 3, "/fd") == 0) {
                continue;
            }
            listing += entry.path().filename().string() + '\n';
        }
        std::ofstream(argv[2]) << listing;
        return 0;
    }
    return 100;
}
