// The platform log system: one shared log4cplus logger per process.
#pragma once

#include <log4cplus/logger.h>

namespace orvel_public {

// Opens the log system for the named application and process. Records go to
// <root>/log/<appName>/<processName>.log, where <root> is the parent of the
// platform's binary directory, and to standard error. A second call while
// started does nothing.
void StartLogSystem(const char* appName, const char* processName);

// The process's logger. ok is true only between StartLogSystem and
// StopLogSystem; the reference is always valid, but must not be written to
// when ok is false.
log4cplus::Logger& getLogger(bool& ok);

// Closes the log system. Harmless when it is not started.
void StopLogSystem();

}  // namespace orvel_public
