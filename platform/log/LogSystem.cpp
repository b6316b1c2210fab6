#include "LogSystem.h"

#include <log4cplus/initializer.h>
#include <log4cplus/layout.h>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

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

std::unique_ptr<log4cplus::Layout> makeLayout() {
    return std::make_unique<log4cplus::PatternLayout>(kPattern);
}

// The log file is what failed, so the operator must learn it elsewhere.
void warnLine(const std::string& line) { detail::warnOperator("log system: " + line); }

void warn(const std::string& what) { warnLine(what + "; records go to standard error only"); }

// The log file's appender, its folder reached (and made where missing)
// first, and that folder; null after saying why not.
log4cplus::SharedAppenderPtr openLogFile(const std::string& appName, const std::string& processName,
                                         std::shared_ptr<const detail::Folder>& folderOut) {
    const std::string binDir = detail::binaryDirectory();
    if (binDir.empty()) {
        warn("cannot find the binary directory");
        return log4cplus::SharedAppenderPtr();
    }
    const char sep = detail::pathSeparator();
    const std::string root = detail::parentFolder(binDir);
    detail::OpenResult result = detail::OpenResult::Failed;
    std::string why;
    std::shared_ptr<const detail::LogFolder> folder =
        detail::LogFolder::open(root, {"log", appName}, result, why);
    if (!folder) {
        warn(std::string(result == detail::OpenResult::Refused ? "refuses" : "cannot create") +
             " the log folder " + root + sep + "log" + sep + appName + ": " + why);
        return log4cplus::SharedAppenderPtr();
    }
    log4cplus::helpers::SharedObjectPtr<detail::LogFile> appender(
        new detail::LogFile(folder, processName + ".log", kMaxFileSize, kBackups, warnLine));
    folderOut = folder;
    if (!appender->opened()) {
        return log4cplus::SharedAppenderPtr();  // it has said why
    }
    appender->setLayout(makeLayout());
    return log4cplus::SharedAppenderPtr(appender.get());
}

void startLocked(const char* appName, const char* processName, bool& haveLogger);

}  // namespace

void StartLogSystem(const char* appName, const char* processName) {
    std::lock_guard<std::mutex> lock(g_lifecycle);
    if (g_open.load()) {
        return;
    }
    detail::prepareStandardStreams();
    // Nothing thrown while the log system starts may end the process (an
    // allocation, a name the file system refuses): the process goes on with
    // whatever appenders it has by then, standard error first.
    bool haveLogger = false;
    try {
        startLocked(appName, processName, haveLogger);
    } catch (const std::exception& e) {
        warnLine(std::string("cannot start in full: ") + e.what());
    }
    g_open.store(haveLogger);  // no logger, no records: none is ever half made
}

namespace {

void startLocked(const char* appName, const char* processName, bool& haveLogger) {
    log4cplus::initialize();

    const std::string app = appName != nullptr ? appName : "";
    const std::string process = processName != nullptr && *processName != '\0' ? processName : "process";

    log4cplus::Logger logger = log4cplus::Logger::getInstance(process);
    logger.removeAllAppenders();
    logger.setAdditivity(false);
    logger.setLogLevel(log4cplus::INFO_LOG_LEVEL);
    g_logger = logger;
    haveLogger = true;

    for (log4cplus::SharedAppenderPtr& appender : detail::streamAppenders(process, kPattern)) {
        logger.addAppender(appender);
    }

    std::shared_ptr<const detail::Folder> folder;
    if (log4cplus::SharedAppenderPtr file = openLogFile(app, process, folder)) {
        logger.addAppender(file);
    }
    detail::keepRunRecords(folder, process);
}

}  // namespace

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
    detail::dropRunRecords();
}

}  // namespace orvel_public
