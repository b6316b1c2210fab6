// What the runner (CProcUtil::execScript) asks and tells around each run of
// a program. The runner knows nothing of logs: whoever keeps the record of
// the runs hands it hooks, and it calls them on the running thread, before
// the child starts and once its status is known.
#pragma once

#include <cstdint>
#include <string>

namespace orvel_public {

// A system handle (a HANDLE on Windows, a descriptor on POSIX) opened for one
// run and inheritable, which the runner gives the child as its standard
// output and error, and closes once the child has started.
using OutputHandle = std::intptr_t;

// No handle: the child's standard streams stay as they are (on POSIX the
// process's own, inherited; on Windows none, as a service has no console).
constexpr OutputHandle kNoOutput = -1;

struct RunHooks {
    // Before the run: the handle for its output, or kNoOutput. May be null.
    OutputHandle (*starting)(const std::string& program, const std::string& args);
    // After it: the status execScript returns for it. May be null.
    void (*ended)(const std::string& program, const std::string& args, int32_t status);
};

// Sets the hooks, or with null takes them away. Called while no run is under
// way; hooks must outlive their setting.
void setRunHooks(const RunHooks* hooks);

namespace detail {

// What the hooks give for this run; kNoOutput without hooks.
OutputHandle runStarting(const std::string& program, const std::string& args);
void runEnded(const std::string& program, const std::string& args, int32_t status);

}  // namespace detail

}  // namespace orvel_public
