// What the utility library's tests share; what differs per system, each
// system's test file says.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "RunHooks.h"
#include "support/TestFiles.h"

namespace expect {

extern const int32_t kNotFound;
extern const int32_t kCannotExecute;

// file, created empty, as a handle a child can be given for its output.
orvel_public::OutputHandle openForChild(const std::filesystem::path& file);

}  // namespace expect

// The test suite's own child program.
inline std::string childPath() {
    return testsupport::utf8Of(testsupport::binDir() / testsupport::programName("fake_sys_ctrl"));
}
