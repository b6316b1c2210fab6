// The few things the log system does differently per operating system.
#pragma once

#include <log4cplus/appender.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace orvel_public::detail {

// Makes sure standard input, output and error are open, so that the log file
// can never be given descriptor 0, 1 or 2 and receive what is meant for them,
// and that a write to a stream whose reader has gone is an error the log
// system sees, not a signal that ends the process.
void prepareStandardStreams();

// An appender of log4cplus's whose close() takes the appender's own lock,
// as append() does, so that it never closes under another thread's record.
template <class Appender>
class ClosedUnderLock : public Appender {
public:
    using Appender::Appender;
    void close() override {
        log4cplus::thread::MutexGuard held(this->access_mutex);
        Appender::close();
    }
};

enum class OpenResult { Opened, Refused, Failed };

// Opens out on the log file, for appending or afresh. The process writes
// with rights others lack, in a folder that may be the platform's: a link
// there, or anything but a plain file, is only followed when no one but the
// administrators could have placed it, and is refused otherwise.
OpenResult openLogStream(std::ofstream& out, const std::filesystem::path& file, bool afresh);

// The appenders for everything but the log file: on Linux standard error, or
// the journal where standard error leads there; on Windows standard error and
// the Application event log (its failures only). Those that write text use
// pattern.
std::vector<log4cplus::SharedAppenderPtr> streamAppenders(const std::string& processName, const char* pattern);

// Lets go of what streamAppenders made. Called as the log system stops, while
// log4cplus is whole: linked in, it is torn down before this file's objects at
// exit, and an appender destroyed after it brings it back with a complaint.
void releaseStreamAppenders();

// Where the programs the process runs write their standard output and error,
// from the start of the log system with a log folder to its stop: on Windows
// a file beside the log (RunOutput_win.cpp); on Linux nothing is set, and
// they inherit the process's own streams (the journal, under systemd).
void keepChildOutput(const std::string& folder, const std::string& processName);
void dropChildOutput();

// Tells the operator, where they look first, a failure of the log system's own.
void warnOperator(const std::string& text);

}  // namespace orvel_public::detail
