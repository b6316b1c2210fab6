// Files of the process's own beside its log file.
#pragma once

#include <string>

namespace orvel_public::detail {

// <log folder>/<process name>.<name>.log, for another record of the process's
// own (the output of the programs it runs, say); "" while the log system is
// stopped or has no log folder.
std::string logFileFor(const std::string& name);

}  // namespace orvel_public::detail
