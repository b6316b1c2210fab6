#include "Paths.h"

namespace orvel_public {

namespace detail {

std::string parentFolder(const std::string& path) {
    const std::string::size_type cut = path.find_last_of("/\\");
    if (cut == std::string::npos) {
        return "";
    }
    return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

}  // namespace detail

}  // namespace orvel_public
