#include "RollOver.h"

#include <vector>

namespace orvel_public::detail {

namespace {

// Leftovers of interrupted roll-overs that the live file steps round.
constexpr int kAsideNames = 9;

std::string numbered(const std::string& name, int n) { return name + "." + std::to_string(n); }

}  // namespace

std::error_code rollOver(const Folder& folder, const std::string& name, int backups) {
    if (backups <= 0) {
        return {};
    }
    std::string aside;
    std::error_code ec;
    for (int i = 1; i <= kAsideNames; ++i) {
        aside = name + ".rolling" + (i == 1 ? "" : "." + std::to_string(i));
        ec = folder.rename(name, aside, false);
        if (ec != std::errc::file_exists) break;
    }
    if (ec) {
        return ec;
    }
    std::vector<int> moved;
    const auto undo = [&] {
        for (auto k = moved.rbegin(); k != moved.rend(); ++k) {
            (void)folder.rename(numbered(name, *k + 1), numbered(name, *k), false);
        }
        (void)folder.rename(aside, name, false);
    };
    // The oldest goes one past the backups, and is dropped from there last.
    // Only it may replace a name (a leftover there): a look-up that failed
    // and skipped a backup then stops the next move, rather than let it
    // overwrite that backup.
    for (int k = backups; k >= 1; --k) {
        if (!folder.exists(numbered(name, k))) continue;
        ec = folder.rename(numbered(name, k), numbered(name, k + 1), k == backups);
        if (ec) {
            undo();
            return ec;
        }
        moved.push_back(k);
    }
    ec = folder.rename(aside, numbered(name, 1), false);
    if (ec) {
        undo();
        return ec;
    }
    // A leftover of an interrupted roll-over there is dropped too: it was the oldest.
    (void)folder.remove(numbered(name, backups + 1));
    return {};
}

}  // namespace orvel_public::detail
