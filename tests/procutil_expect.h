// What the utility library returns differs per system; each system's test file says.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace expect {

extern const int32_t kNotFound;
extern const int32_t kCannotExecute;

// Runs program with the process's standard output and error going to file
// (where the system lets a child inherit them) and returns its result.
int32_t runWithOutputTo(const std::filesystem::path& file, const std::string& program, const std::string& args);

}  // namespace expect
