// File helpers for tests that work on real folders beside the test program.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

std::filesystem::path u8(const std::string& utf8);
std::string utf8Of(const std::filesystem::path& p);

// The folder the test program runs from.
std::filesystem::path binDir();
// A fresh, empty folder for one test under the build tree's tmp/ folder.
std::filesystem::path freshDir(const std::string& name);

std::string readFile(const std::filesystem::path& p);
std::vector<std::string> readLines(const std::filesystem::path& p);
void writeFile(const std::filesystem::path& p, const std::string& text);

// The launcher's records in a log file, each its message without time stamp
// and writing site, with the lines that follow its first one ("\n" between).
std::vector<std::string> logMessages(const std::filesystem::path& logFile);

// The runs that the fake sys_ctrl in binDir recorded, by their arguments.
std::vector<std::string> runsIn(const std::filesystem::path& binDir);

// True where the suite runs under an emulator (ORVEL_EMULATION, set by the
// linux-arm64 preset): qemu-user runs posix_spawn's vfork as a real fork, so
// a program that cannot be executed is reported as not found (127, not 126).
bool underEmulation();

// The name of a program of the test suite, with this system's suffix.
std::string programName(const std::string& base);

// Copies a program of the suite, and on Windows the DLLs it loads, into dir.
void copyProgram(const std::string& base, const std::filesystem::path& dir, const std::string& asBase = "");

}  // namespace testsupport
