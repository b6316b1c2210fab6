// Catches the records the log system writes, as log4cplus hands them over.
#pragma once

#include <log4cplus/appender.h>

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

struct Record {
    int level;
    std::string message;
    std::string file;
    int line;
    std::string function;
};

class LogCapture {
public:
    // Attaches to the process's logger; the log system must be started.
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Record> records() const;
    // "INFO text" / "ERROR text", one entry per record.
    std::vector<std::string> lines() const;

private:
    class Appender;
    log4cplus::SharedAppenderPtr appender_;
};

}  // namespace testsupport
