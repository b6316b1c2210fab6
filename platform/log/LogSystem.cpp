#include "LogSystem.h"

#include <log4cplus/initializer.h>
#include <log4cplus/layout.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

#include "LogFile.h"
#include "LogFolder.h"
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
std::string g_process;       // both set at the start, under g_lifecycle
std::string g_logFolder;     // "" where there is no log file

std::unique_ptr<log4cplus::Layout> makeLayout() {
    return std::make_unique<log4cplus::PatternLayout>(kPattern);
}

void warn(const std::string& what) {
    // The log file is what failed, so the operator must learn it elsewhere.
    detail::warnOperator("log system: " + what + "; records go to standard error only");
}

// The log file's appender, its folder created first, and that folder; null
// after saying why not.
log4cplus::SharedAppenderPtr openLogFile(const std::string& appName, const std::string& processName,
                                         std::string& folderOut) {
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
    log4cplus::helpers::SharedObjectPtr<detail::LogFile> appender(
        new detail::LogFile(std::filesystem::u8path(file), kMaxFileSize, kBackups, warn));
    if (!appender->opened()) {
        warn("cannot open the log file " + file + " for writing");
        return log4cplus::SharedAppenderPtr();
    }
    appender->setLayout(makeLayout());
    folderOut = folder;
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

    g_process = process;
    g_logFolder.clear();
    if (log4cplus::SharedAppenderPtr file = openLogFile(app, process, g_logFolder)) {
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
    g_logFolder.clear();
}

namespace detail {

std::string logFileFor(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_lifecycle);
    if (!g_open.load() || g_logFolder.empty()) {
        return "";
    }
    return g_logFolder + pathSeparator() + g_process + "." + name + ".log";
}

}  // namespace detail

}  // namespace orvel_public
