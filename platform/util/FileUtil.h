// File helpers of the platform utility library.
#pragma once

#include <string>

namespace orvel_public {

class CFileUtil {
public:
    // The suffix of executable files on this system: ".exe" on Windows, "" elsewhere.
    static const char* getProcSuffix();

    // The full path of fileName in the platform's binary directory (the folder
    // of the running executable), or "" when no regular file of that name is
    // there. A name with a folder separator, a drive letter, or "." / ".."
    // gives "": nothing outside the binary directory is ever looked up.
    // p is reserved and ignored; callers pass nullptr.
    static std::string getPathOfBinFile(const std::string& fileName, std::string* p);
};

}  // namespace orvel_public
