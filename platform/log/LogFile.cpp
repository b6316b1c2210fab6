#include "LogFile.h"

#include <log4cplus/layout.h>
#include <log4cplus/spi/loggingevent.h>

#include <exception>
#include <sstream>
#include <system_error>
#include <utility>

#include "LogPlatform.h"
#include "RollOver.h"

namespace orvel_public::detail {

namespace fs = std::filesystem;

LogFile::LogFile(fs::path file, std::uintmax_t maxSize, int backups,
                 std::function<void(const std::string&)> warn)
    : file_(std::move(file)), maxSize_(maxSize), backups_(backups), warn_(std::move(warn)) {
    open(false);
}

LogFile::~LogFile() { destructorImpl(); }

void LogFile::close() {
    log4cplus::thread::MutexGuard held(access_mutex);
    out_.close();
    closed = true;
}

void LogFile::open(bool afresh) {
    switch (openLogStream(out_, file_, afresh)) {
        case OpenResult::Opened:
            return;
        case OpenResult::Refused:
            tell(toldRefused_, "refuses the log file " + file_.u8string() +
                                   ": a link, or not a plain file, in a folder that others than the "
                                   "administrators can change; records go to standard error only");
            return;
        case OpenResult::Failed:
            tell(toldUnwritable_, "cannot open the log file " + file_.u8string() +
                                      " for writing; records go to standard error only");
            return;
    }
}

void LogFile::append(const log4cplus::spi::InternalLoggingEvent& event) {
    if (!out_.is_open()) {
        return;  // told when it could not be opened
    }
    // Nothing thrown here may reach the writer: a record that cannot be
    // formatted or written is one this file misses, and the others still take it.
    try {
        std::ostringstream text;
        layout->formatAndAppend(text, event);
        out_ << text.str();
        out_.flush();
        if (!out_) {
            // A full disk, say. The next record is tried here again.
            tell(toldUnwritable_,
                 "cannot write the log file " + file_.u8string() + "; records go to standard error only");
            out_.clear();
            return;
        }
        const std::streamoff size = out_.tellp();
        if (size > 0 && static_cast<std::uintmax_t>(size) > maxSize_) {
            rollOver();
        }
    } catch (const std::exception&) {
        out_.clear();
    }
}

void LogFile::tell(bool& told, const std::string& what) {
    if (!told) {
        told = true;
        warn_(what);
    }
}

// Where the live file cannot be moved aside, it keeps every record and
// grows, and the backups stay as they are (rollOver), until it can.
void LogFile::rollOver() {
    out_.close();
    if (backups_ <= 0) {
        open(true);  // nothing is kept
        return;
    }
    const std::error_code ec = detail::rollOver(file_, backups_);
    if (ec) {
        tell(toldStuck_, "cannot roll the log file " + file_.u8string() + " over (" + ec.message() +
                             "); it keeps every record and grows past " + std::to_string(maxSize_) +
                             " bytes until it can");
    }
    open(!ec);
}

}  // namespace orvel_public::detail
