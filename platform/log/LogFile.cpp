#include "LogFile.h"

#include <log4cplus/layout.h>
#include <log4cplus/spi/loggingevent.h>

#include <sstream>
#include <system_error>
#include <utility>

namespace orvel_public::detail {

namespace fs = std::filesystem;

LogFile::LogFile(fs::path file, std::uintmax_t maxSize, int backups,
                 std::function<void(const std::string&)> warn)
    : file_(std::move(file)), maxSize_(maxSize), backups_(backups), warn_(std::move(warn)) {
    out_.open(file_, std::ios::out | std::ios::app);
}

LogFile::~LogFile() { destructorImpl(); }

void LogFile::close() {
    out_.close();
    closed = true;
}

void LogFile::append(const log4cplus::spi::InternalLoggingEvent& event) {
    if (!out_.is_open()) {
        failed();  // not opened again after a roll-over
        return;
    }
    std::ostringstream text;
    layout->formatAndAppend(text, event);
    out_ << text.str();
    out_.flush();
    if (!out_) {
        // A full disk, say. The record has reached the other appenders; the
        // next one is tried here again.
        failed();
        out_.clear();
        return;
    }
    const std::streamoff size = out_.tellp();
    if (size > 0 && static_cast<std::uintmax_t>(size) > maxSize_) {
        rollOver();
    }
}

void LogFile::failed() {
    if (!warned_) {
        warned_ = true;
        warn_("cannot write the log file " + file_.u8string());
    }
}

// name.N-1 becomes name.N and so on down to name becoming name.1, the oldest
// dropped, then name starts afresh. Where name cannot be moved aside it is
// appended to, and grows, rather than lose what it holds.
void LogFile::rollOver() {
    out_.close();
    const auto numbered = [this](int i) {
        fs::path p = file_;
        p += "." + std::to_string(i);
        return p;
    };
    std::error_code ec;
    fs::remove(numbered(backups_), ec);
    for (int i = backups_ - 1; i >= 1; --i) {
        fs::rename(numbered(i), numbered(i + 1), ec);
    }
    ec.clear();
    if (backups_ > 0) {
        fs::rename(file_, numbered(1), ec);
    }
    out_.open(file_, std::ios::out | (!ec ? std::ios::trunc : std::ios::app));
}

}  // namespace orvel_public::detail
