#include "LogFile.h"

#include <log4cplus/layout.h>
#include <log4cplus/spi/loggingevent.h>

#include <exception>
#include <sstream>
#include <system_error>
#include <utility>

#include "LogPlatform.h"

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

// The live file is moved aside first: where that fails (held open without
// delete sharing on Windows, a bind mount or an append-only file on Linux),
// nothing else is touched, so the backups stay as they are and the live file
// keeps every record, growing past its bound until it can be moved again.
// Only then does name.N-1 become name.N and so on, the oldest dropped, and
// the file moved aside become name.1. A name.1 that cannot be replaced puts
// the live file back.
void LogFile::rollOver() {
    out_.close();
    const auto numbered = [this](const std::string& suffix) {
        fs::path p = file_;
        p += "." + suffix;
        return p;
    };
    if (backups_ <= 0) {
        open(true);  // nothing is kept
        return;
    }
    std::error_code ec;
    const fs::path aside = numbered("rolling");
    fs::rename(file_, aside, ec);
    if (!ec) {
        fs::remove(numbered(std::to_string(backups_)), ec);
        for (int i = backups_ - 1; i >= 1; --i) {
            fs::rename(numbered(std::to_string(i)), numbered(std::to_string(i + 1)), ec);
        }
        fs::rename(aside, numbered("1"), ec);
        if (ec) {
            std::error_code back;
            fs::rename(aside, file_, back);
        }
    }
    if (ec) {
        tell(toldStuck_, "cannot roll the log file " + file_.u8string() + " over (" + ec.message() +
                             "); it keeps every record and grows past " + std::to_string(maxSize_) +
                             " bytes until it can");
    }
    open(!ec);
}

}  // namespace orvel_public::detail
