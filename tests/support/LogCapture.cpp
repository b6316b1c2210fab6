#include "LogCapture.h"

#include <log4cplus/spi/loggingevent.h>

#include "LogSystem.h"

namespace testsupport {

class LogCapture::Appender : public log4cplus::Appender {
public:
    ~Appender() override { destructorImpl(); }
    void close() override {}

    std::vector<Record> records() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back(
            {event.getLogLevel(), event.getMessage(), event.getFile(), event.getLine(), event.getFunction()});
    }

private:
    mutable std::mutex mutex_;
    std::vector<Record> records_;
};

LogCapture::LogCapture() : appender_(new Appender) {
    bool ok = false;
    orvel_public::getLogger(ok).addAppender(appender_);
}

LogCapture::~LogCapture() {
    // A stopped log system has let go of every appender; a capture kept until
    // the process exits may outlive the logger itself.
    bool ok = false;
    log4cplus::Logger& logger = orvel_public::getLogger(ok);
    if (ok) {
        logger.removeAppender(appender_);
    }
}

std::vector<Record> LogCapture::records() const { return static_cast<Appender&>(*appender_).records(); }

std::vector<std::string> LogCapture::lines() const {
    std::vector<std::string> out;
    for (const Record& r : records()) {
        out.push_back((r.level == log4cplus::ERROR_LOG_LEVEL  ? "ERROR "
                       : r.level == log4cplus::INFO_LOG_LEVEL ? "INFO "
                                                              : "OTHER ") +
                      r.message);
    }
    return out;
}

}  // namespace testsupport
