// The few things the log system does differently per operating system.
#pragma once

#include <string>

namespace orvel_public::detail {

// Makes sure standard input, output and error are open, so that the log file
// can never be given descriptor 0, 1 or 2 and receive what is meant for them.
void reserveStandardStreams();

// The narrow file name to hand to log4cplus for a UTF-8 path. log4cplus opens
// files with narrow names, which Windows reads in the ANSI code page.
std::string appenderFileName(const std::string& utf8Path);

}  // namespace orvel_public::detail
