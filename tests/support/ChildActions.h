// What the test suite's child programs do for the tests that run them.
#pragma once

#include <string>

namespace testsupport {

// Writes bytes bytes to standard output and as many to standard error.
void spewToBothStreams(long long bytes);

// The open descriptors (Linux), one "N target" a line, leaving out the
// listing's own descriptor; "" where /proc cannot be read.
std::string openDescriptors();

}  // namespace testsupport
