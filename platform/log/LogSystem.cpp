#include "LogSystem.h"

#include <log4cplus/fileappender.h>
#include <log4cplus/initializer.h>
#include <log4cplus/layout.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <system_error>

#include "Paths.h"
#include "LogPlatform.h"

namespace orvel_public {

namespace {

// One layout for the file and standard error.
const char* const kPattern = "%D{%Y-%m-%d %H:%M:%S.%q} %-5p [%T] %b:%L - %m%n";
constexpr long kMaxFileSize = 10L * 1024 * 1024;
constexpr int kBackups = 5;

std::mutex g_lifecycle;
std::atomic<bool> g_open{false};
log4cplus::Logger g_logger;  // set while no other thread runs yet

std::unique_ptr<log4cplus::Layout> makeLayout() { return std::make_unique<log4cplus::PatternLayout>(kPattern); }

void warn(const std::string& what) {
    // The log file is what failed, so the operator must learn it elsewhere.
    detail::warnOperator("log system: " + what + "; records go to standard error only");
}

// Creates the log folder and checks that the file can be opened for
// appending. Returns the name to give log4cplus, or "" after saying why not.
std::string prepareLogFile(const std::string& appName, const std::string& processName) {
    const std::string binDir = detail::binaryDirectory();
    if (binDir.empty()) {
        warn("cannot find the binary directory");
        return "";
    }
    const char sep = detail::pathSeparator();
    const std::string root = detail::parentFolder(binDir);
    const std::string folder = root + sep + "log" + sep + appName;
    const std::string file = folder + sep + processName + ".log";

    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::u8path(folder), ec);
    if (ec) {
        warn("cannot create the log folder " + folder + ": " + ec.message());
        return "";
    }
    std::string name = detail::appenderFileName(file);
    std::ofstream probe(name, std::ios::app);
    if (!probe) {
        warn("cannot open the log file " + file + " for writing");
        return "";
    }
    return name;
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

    const std::string fileName = prepareLogFile(app, process);
    if (!fileName.empty()) {
        log4cplus::SharedAppenderPtr file(
            new log4cplus::RollingFileAppender(fileName, kMaxFileSize, kBackups, true, false));
        file->setLayout(makeLayout());
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
}

}  // namespace orvel_public
