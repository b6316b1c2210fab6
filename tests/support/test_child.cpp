// A child process for the utility library's tests, scripted by its arguments:
//   exit N            exit with status N
//   signal N          raise signal N
//   selfterm          raise SIGTERM (to see whether the child inherited a blocked mask)
//   spew BYTES        write BYTES bytes to standard output and to standard error, exit 0
//   sleep MS          sleep MS milliseconds, exit 0
//   args FILE ...     write each further argument to FILE, one a line, exit 0
//   fds FILE          write the open descriptors (POSIX) to FILE, one a line, exit 0
//   env FILE          write the environment to FILE, one variable a line, exit 0
//   handle N          (Windows) exit 0 when handle N is an open event here, 1 when not
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
#include <string>
#include <thread>

#include "ChildActions.h"

extern char** environ;

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
        testsupport::spewToBothStreams(std::atoll(argv[2]));
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
        // Listed before the output file is opened, so that it is not among them.
        const std::string listing = testsupport::openDescriptors();
        std::ofstream(argv[2]) << listing;
        return 0;
    }
    if (what == "env" && argc > 2) {
        std::ofstream out(std::filesystem::u8path(argv[2]), std::ios::binary);
        for (char** e = environ; *e != nullptr; ++e) {
            out << *e << '\n';
        }
        return 0;
    }
#ifdef _WIN32
    if (what == "handle" && argc > 2) {
        // An unsignalled event, as the parent made it: any other open handle
        // of that number is not the parent's.
        const auto handle =
            reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(argv[2], nullptr, 10)));
        DWORD flags = 0;
        return GetHandleInformation(handle, &flags) && GetFileType(handle) == FILE_TYPE_UNKNOWN &&
                       WaitForSingleObject(handle, 0) == WAIT_TIMEOUT
                   ? 0
                   : 1;
    }
#endif
    return 100;
}
