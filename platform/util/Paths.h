// Where the platform's files are: the binary directory and path helpers.
#pragma once

#include <string>

namespace orvel_public {

namespace detail {

// The folder of the running executable, as UTF-8 and without a trailing
// separator; "" when it cannot be found out.
std::string binaryDirectory();

// The folder separator the system prefers when joining paths.
char pathSeparator();

// True when path names an existing regular file (links are followed).
bool isRegularFile(const std::string& path);

// The parent folder of path, or "" when it has none.
std::string parentFolder(const std::string& path);

}  // namespace detail

}  // namespace orvel_public
