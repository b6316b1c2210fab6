// The few things the log system does differently per operating system.
#pragma once

#include <log4cplus/appender.h>

#include <string>
#include <vector>

namespace orvel_public::detail {

// Makes sure standard input, output and error are open, so that the log file
// can never be given descriptor 0, 1 or 2 and receive what is meant for them.
void reserveStandardStreams();

// The appenders for everything but the log file: standard error, or the
// system's own log where standard error leads there. Those that write text use
// pattern.
std::vector<log4cplus::SharedAppenderPtr> streamAppenders(const std::string& processName, const char* pattern);

// Lets go of what streamAppenders made. Called as the log system stops, while
// log4cplus is whole: linked in, it is torn down before this file's objects at
// exit, and an appender destroyed after it brings it back with a complaint.
void releaseStreamAppenders();

// Tells the operator, where they look first, a failure of the log system's own.
void warnOperator(const std::string& text);

}  // namespace orvel_public::detail
