// The few things the log system does differently per operating system.
#pragma once

#include <log4cplus/appender.h>
#include <log4cplus/consoleappender.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "LogFolder.h"

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

// log4cplus's console appender on standard error, which goes on after a
// write that failed (a full disk, a pipe whose reader went away for a
// moment): the stream would otherwise keep its error and take nothing more,
// and every later record meant for it would be lost without a word.
class StandardErrorAppender : public ClosedUnderLock<log4cplus::ConsoleAppender> {
public:
    StandardErrorAppender() : ClosedUnderLock(true, true) {}

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override {
        ClosedUnderLock::append(event);
        std::cerr.clear();  // log4cplus's narrow build writes there
    }
};

// The appenders for everything but the log file: on Linux standard error, or
// the journal where standard error leads there; on Windows standard error and
// the Application event log (its failures only). Those that write text use
// pattern.
std::vector<log4cplus::SharedAppenderPtr> streamAppenders(const std::string& processName,
                                                          const char* pattern);

// Lets go of what streamAppenders made. Called as the log system stops, while
// log4cplus is whole: linked in, it is torn down before this file's objects at
// exit, and an appender destroyed after it brings it back with a complaint.
void releaseStreamAppenders();

// The record of the runs of the programs the process runs, kept from the
// start of the log system to its stop through the runner's hooks
// (RunHooks.h): on Windows what they say, in a file of the log folder
// (RunOutput_win.cpp; folder is null where there is none); on Linux, under
// systemd, what ran last, for the unit's stop (RunRecord_posix.cpp).
void keepRunRecords(const std::shared_ptr<const Folder>& folder, const std::string& processName);
void dropRunRecords();

// Tells the operator, where they look first, a failure of the log system's own.
void warnOperator(const std::string& text);

}  // namespace orvel_public::detail
