// Drives a real launcher to its end, with the real log system and utility
// library, from whatever binary directory it is copied into. It does not wait
// between ticks: the waits belong to the service host.
#include <filesystem>
#include <fstream>

#include "CSysLauncher.h"
#include "LogSystem.h"
#include "Paths.h"

int main() {
    orvel_public::StartLogSystem("BASE", "launcher_driver");
    int ticks = 0;
    {
        orvel_sys::CSysLauncher launcher;
        while (launcher.processOnce(false) >= 0) {
            ++ticks;
        }
        ++ticks;
    }
    orvel_public::StopLogSystem();
    // The number of ticks, for the test that copied us here.
    std::ofstream(std::filesystem::u8path(orvel_public::detail::binaryDirectory()) / "driver.ticks") << ticks << '\n';
    return 0;
}
