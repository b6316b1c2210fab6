#include "RollOver.h"

#include <string>

namespace orvel_public::detail {

namespace fs = std::filesystem;

std::error_code rollOver(const fs::path& file, int backups) {
    std::error_code ec;
    if (backups <= 0) {
        return ec;
    }
    const auto numbered = [&file](const std::string& suffix) {
        fs::path p = file;
        p += "." + suffix;
        return p;
    };
    const fs::path aside = numbered("rolling");
    fs::rename(file, aside, ec);
    if (ec) {
        return ec;
    }
    fs::remove(numbered(std::to_string(backups)), ec);
    for (int i = backups - 1; i >= 1; --i) {
        fs::rename(numbered(std::to_string(i)), numbered(std::to_string(i + 1)), ec);
    }
    fs::rename(aside, numbered("1"), ec);
    if (ec) {
        std::error_code back;
        fs::rename(aside, file, back);
    }
    return ec;
}

}  // namespace orvel_public::detail
