#include "LogSystem.h"

#include <log4cplus/fileappender.h>
#include <log4cplus/helpers/loglog.h>
#include <log4cplus/initializer.h>
#include <log4cplus/layout.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

#include "LogPlatform.h"
#include "Paths.h"

namespace orvel_public {

namespace {

// One layout for the file and standard error.
const char* const kPattern = "%D{%Y-%m-%d %H:%M:%S.%q} %-5p [%T] %b:%L - %m%n";
constexpr long kMaxFileSize = 10L * 1024 * 1024;
constexpr int kBackups = 5;

std::mutex g_lifecycle;
std::atomic<bool> g_open{false};
log4cplus::Logger g_logger;  // set while no other thread runs yet

std::unique_ptr<log4cplus::Layout> makeLayout() {
    return std::make_unique<log4cplus::PatternLayout>(kPattern);
}

void warn(const std::string& what) {
    // The log file is what failed, so the operator must learn it elsewhere.
    detail::warnOperator("log system: " + what + "; records go to standard error only");
}

// log4cplus opens the file as the appender is made, and keeps whether that
// worked only in its stream.
class LogFileAppender : public log4cplus::RollingFileAppender {
public:
    explicit LogFileAppender(const std::string& name)
        : log4cplus::RollingFileAppender(name, kMaxFileSize, kBackups, true, false) {}
    bool opened() const { return out.is_open(); }
};

// The log file's appender, its folder created first; null after saying why not.
log4cplus::SharedAppenderPtr openLogFile(const std::string& appName, const std::string& processName) {
    const std::string binDir = detail::binaryDirectory();
    if (binDir.empty()) {
        warn("cannot find the binary directory");
        return log4cplus::SharedAppenderPtr();
    }
    const char sep = detail::pathSeparator();
    const std::string root = detail::parentFolder(binDir);
    const std::string folder = root + sep + "log" + sep + appName;
    const std::string file = folder + sep + processName + ".log";

    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::u8path(folder), ec);
    if (ec) {
        warn("cannot create the log folder " + folder + ": " + ec.message());
        return log4cplus::SharedAppenderPtr();
    }
    // The failure is told once, below, in the operator's words, not also in log4cplus's.
    log4cplus::helpers::LogLog& logLog = log4cplus::helpers::getLogLog();
    logLog.setQuietMode(true);
    log4cplus::helpers::SharedObjectPtr<LogFileAppender> appender(
        new LogFileAppender(detail::appenderFileName(file)));
    logLog.setQuietMode(false);
    if (!appender->opened()) {
        warn("cannot open the log file " + file + " for writing");
        return log4cplus::SharedAppenderPtr();
    }
    appender->setLayout(makeLayout());
    return log4cplus::SharedAppenderPtr(appender.get());
}

}  // namespace

void StartLogSystem(const char* appName, const char* processName) {
    std::lock_guard<std::mutex> lock(g_lifecycle);
    if (g_open.load()) {
        return;
    }
    detail::reserveStandardStreams();
    log4cplus::initialize();

    const std::string app = appName != nullptr ? appName : "";
    const std::string process = processName != nullptr && *processName != '\0' ? processName : "process";

    log4cplus::Logger logger = log4cplus::Logger::getInstance(process);
    logger.removeAllAppenders();
    logger.setAdditivity(false);
    logger.setLogLevel(log4cplus::INFO_LOG_LEVEL);

    for (log4cplus::SharedAppenderPtr& appender : detail::streamAppenders(process, kPattern)) {
        logger.addAppender(appender);
    }

    if (log4cplus::SharedAppenderPtr file = openLogFile(app, process)) {
        logger.addAppender(file);
    }

    g_logger = logger;
    g_open.store(true);
}

log4cplus::Logger& getLogger(bool& ok) {
    ok = g_open.load();
    return g_logger;
}

void StopLogSystem() {
    std::lock_guard<std::mutex> lock(g_lifecycle);
    if (!g_open.exchange(false)) {
        return;
    }
    for (log4cplus::SharedAppenderPtr& appender : g_logger.getAllAppenders()) {
        appender->close();
    }
    g_logger.removeAllAppenders();
    detail::releaseStreamAppenders();
}

}  // namespace orvel_public
