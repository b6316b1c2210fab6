// The one roll-over of the files the log system writes: the log file (five
// backups) and, on Windows, the output of the programs the process runs (one).
#pragma once

#include <filesystem>
#include <system_error>

namespace orvel_public::detail {

// Moves file to file.1, each backup before it one up (file.N-1 to file.N)
// and the oldest dropped. The live file is moved aside first: where that
// fails (held open without delete sharing on Windows, a bind mount or an
// append-only file on Linux), nothing else is touched, and the error says
// why; a file.1 that cannot be replaced puts the live file back. With no
// backups, nothing is moved.
std::error_code rollOver(const std::filesystem::path& file, int backups);

}  // namespace orvel_public::detail
