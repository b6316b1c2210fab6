#include "FileUtil.h"

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

}  // namespace

std::string CFileUtil::getPathOfBinFile(const std::string& fileName, std::string* /*p*/) {
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

}  // namespace orvel_public
