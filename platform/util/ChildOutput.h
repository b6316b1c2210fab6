// Where the standard output and error of the programs that
// CProcUtil::execScript runs go. The runner knows nothing of logs: whoever
// owns that policy hands it a source, and the runner asks it once before
// each run, then starts the child with what it was given.
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

// Opens the output of one run of program with args, or gives kNoOutput.
using ChildOutputSource = OutputHandle (*)(const std::string& program, const std::string& args);

// Sets the source, or with null takes it away. Called while no run is under way.
void setChildOutputSource(ChildOutputSource source);

namespace detail {

// What the source gives for this run; kNoOutput without a source.
OutputHandle childOutputFor(const std::string& program, const std::string& args);

}  // namespace detail

}  // namespace orvel_public
