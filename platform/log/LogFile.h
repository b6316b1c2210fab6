// The log file: records appended as they come, rolled over to name.1 ...
// name.N once it has grown past its size.
#pragma once

#include <log4cplus/appender.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "LogFolder.h"

namespace orvel_public::detail {

class LogFile : public log4cplus::Appender {
public:
    // Opens name in folder for appending. warn is told each trouble once, in
    // a line of its own: records that can no longer be written, a file that
    // is refused, a file that cannot be rolled over.
    LogFile(std::shared_ptr<const Folder> folder, std::string name, std::uintmax_t maxSize, int backups,
            std::function<void(const std::string&)> warn);
    ~LogFile() override;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool opened() const { return file_ != kNoFile; }
    // Under the appender's lock, so that it never closes the file inside
    // another thread's append().
    void close() override;

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;

private:
    void open(bool afresh);
    void rollOver();
    void tell(bool& told, const std::string& what);

    std::shared_ptr<const Folder> folder_;
    std::string name_;
    std::uintmax_t maxSize_;
    int backups_;
    std::function<void(const std::string&)> warn_;
    FileHandle file_ = kNoFile;
    std::uintmax_t size_ = 0;
    std::uintmax_t rollAt_;  // maxSize_, or after a failed roll-over maxSize_ more than the file had then
    bool reopen_ = false;    // the last open failed: tried again at each record
    bool toldUnopened_ = false;
    bool toldUnwritable_ = false;
    bool toldRefused_ = false;
    bool toldStuck_ = false;
};

}  // namespace orvel_public::detail
