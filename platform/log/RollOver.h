// The one roll-over of the files the log system writes: the log file (five
// backups) and, on Windows, the output of the programs the process runs (one).
#pragma once

#include <string>
#include <system_error>

#include "LogFolder.h"

namespace orvel_public::detail {

// Moves name to name.1, each backup before it one up (name.N-1 to name.N),
// and drops the oldest, in folder. The live file is moved aside first, under
// a name no leftover of an interrupted roll-over holds (name.rolling, then
// name.rolling.2 ...): where that fails (held open without delete sharing on
// Windows, a bind mount or an append-only file on Linux) nothing has changed.
// Every move after it is undone where a later one fails, and the oldest is
// deleted only once the rest are in place, so that a failure leaves every
// file as it was; the error says why. With no backups, nothing is moved.
std::error_code rollOver(const Folder& folder, const std::string& name, int backups);

}  // namespace orvel_public::detail
