#include "FileUtil.h"

#include <new>

#include "Paths.h"

namespace orvel_public {

namespace {

// Only a plain name inside the binary directory may be looked up.
bool isPlainName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    return name.find_first_of("/\\:") == std::string::npos && name.find('\0') == std::string::npos;
}

std::string findInBinaryDirectory(const std::string& fileName) {
    if (!isPlainName(fileName)) {
        return "";
    }
    const std::string dir = detail::binaryDirectory();
    if (dir.empty()) {
        return "";
    }
    std::string path = dir + detail::pathSeparator() + fileName;
    return detail::isRegularFile(path) ? path : "";
}

}  // namespace

std::string CFileUtil::getPathOfBinFile(const std::string& fileName, std::string* /*p*/) {
    // Out of memory: nothing found, which the caller reports, rather than an
    // exception that would end the process.
    try {
        return findInBinaryDirectory(fileName);
    } catch (const std::bad_alloc&) {
        return "";
    }
}

}  // namespace orvel_public
