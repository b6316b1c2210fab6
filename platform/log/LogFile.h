// The log file: records appended as they come and flushed at once, rolled
// over to name.1 ... name.N once it has grown past its size.
#pragma once

#include <log4cplus/appender.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace orvel_public::detail {

class LogFile : public log4cplus::Appender {
public:
    // Opens file for appending, by its name as the system keeps it (UTF-16 on
    // Windows, whatever the ANSI code page), as openLogStream allows. warn is
    // told each trouble once, in a line of its own: records that can no longer
    // be written, a file that is refused, a file that cannot be rolled over.
    LogFile(std::filesystem::path file, std::uintmax_t maxSize, int backups,
            std::function<void(const std::string&)> warn);
    ~LogFile() override;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool opened() const { return out_.is_open(); }
    // Under the appender's lock, so that it never closes the file inside
    // another thread's append().
    void close() override;

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;

private:
    void open(bool afresh);
    void rollOver();
    void tell(bool& told, const std::string& what);

    std::filesystem::path file_;
    std::uintmax_t maxSize_;
    int backups_;
    std::function<void(const std::string&)> warn_;
    std::ofstream out_;
    bool toldUnwritable_ = false;
    bool toldRefused_ = false;
    bool toldStuck_ = false;
};

}  // namespace orvel_public::detail
