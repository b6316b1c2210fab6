#include "LogFile.h"

#include <log4cplus/layout.h>
#include <log4cplus/spi/loggingevent.h>

#include <exception>
#include <sstream>
#include <system_error>
#include <utility>

#include "RollOver.h"

namespace orvel_public::detail {

LogFile::LogFile(std::shared_ptr<const Folder> folder, std::string name, std::uintmax_t maxSize, int backups,
                 std::function<void(const std::string&)> warn)
    : folder_(std::move(folder)),
      name_(std::move(name)),
      maxSize_(maxSize),
      backups_(backups),
      warn_(std::move(warn)),
      rollAt_(maxSize) {
    open(false);
}

LogFile::~LogFile() {
    destructorImpl();
    if (file_ != kNoFile) closeFile(file_);
}

void LogFile::close() {
    log4cplus::thread::MutexGuard held(access_mutex);
    if (file_ != kNoFile) closeFile(std::exchange(file_, kNoFile));
    closed = true;
}

void LogFile::open(bool afresh) {
    switch (folder_->openFile(name_, afresh, false, file_)) {
        case OpenResult::Opened:
            size_ = sizeOf(file_);
            reopen_ = false;
            return;
        case OpenResult::Refused:
            file_ = kNoFile;
            reopen_ = false;
            tell(toldRefused_, "refuses the log file " + folder_->pathOf(name_) +
                                   ": a link, or not a plain file, in a folder that others than the "
                                   "administrators can change; records go to standard error only");
            return;
        case OpenResult::Failed:
            // No descriptor to be had, say, when the roll-over opens the new
            // file: tried again at the next record, not lost for the run.
            file_ = kNoFile;
            reopen_ = true;
            tell(toldUnopened_, "cannot open the log file " + folder_->pathOf(name_) +
                                    " for writing; records go to standard error only");
            return;
    }
}

void LogFile::append(const log4cplus::spi::InternalLoggingEvent& event) {
    if (file_ == kNoFile && reopen_) {
        open(false);
    }
    if (file_ == kNoFile) {
        return;  // told when it could not be opened
    }
    // Nothing thrown here may reach the writer: a record that cannot be
    // formatted is one this file misses, and the others still take it.
    try {
        std::ostringstream text;
        layout->formatAndAppend(text, event);
        const std::string line = text.str();
        if (!writeAll(file_, line)) {
            // A full disk, say. The next record is tried here again.
            tell(toldUnwritable_, "cannot write the log file " + folder_->pathOf(name_) +
                                      "; records go to standard error only");
            return;
        }
        size_ += line.size();
        if (size_ > rollAt_) {
            rollOver();
        }
    } catch (const std::exception&) {
    }
}

void LogFile::tell(bool& told, const std::string& what) {
    if (!told) {
        told = true;
        warn_(what);
    }
}

// Where the roll-over cannot be made, the live file keeps every record and
// grows, the backups stay as they are, and it is tried again once the file
// has grown by its size again, not at every record.
void LogFile::rollOver() {
    closeFile(std::exchange(file_, kNoFile));
    if (backups_ <= 0) {
        open(true);  // nothing is kept
        return;
    }
    const std::error_code ec = detail::rollOver(*folder_, name_, backups_);
    if (ec) {
        tell(toldStuck_, "cannot roll the log file " + folder_->pathOf(name_) + " over (" + ec.message() +
                             "); it keeps every record and grows past " + std::to_string(maxSize_) +
                             " bytes until it can");
    }
    open(!ec);
    rollAt_ = ec ? size_ + maxSize_ : maxSize_;
}

}  // namespace orvel_public::detail
