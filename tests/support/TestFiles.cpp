#include "TestFiles.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Paths.h"

namespace fs = std::filesystem;

namespace testsupport {

fs::path u8(const std::string& utf8) { return fs::u8path(utf8); }

std::string utf8Of(const fs::path& p) {
    const auto s = p.u8string();
    return std::string(s.begin(), s.end());
}

fs::path binDir() { return u8(orvel_public::detail::binaryDirectory()); }

fs::path freshDir(const std::string& name) {
    const fs::path dir = binDir().parent_path() / "tmp" / u8(name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> readLines(const fs::path& p) {
    std::vector<std::string> lines;
    std::ifstream in(p, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

void writeFile(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

std::string programName(const std::string& base) { return base + ORVEL_EXE_SUFFIX; }

void copyProgram(const std::string& base, const fs::path& dir, const std::string& asBase) {
    fs::copy_file(binDir() / programName(base), dir / programName(asBase.empty() ? base : asBase),
                  fs::copy_options::overwrite_existing);
    for (const auto& entry : fs::directory_iterator(binDir())) {
        // Checked by hand: MinGW's copy_file fails on an existing file even with skip_existing.
        if (entry.path().extension() == ".dll" && !fs::exists(dir / entry.path().filename())) {
            fs::copy_file(entry.path(), dir / entry.path().filename());
        }
    }
}

bool underEmulation() { return std::getenv("ORVEL_EMULATION") != nullptr; }  // NOLINT(concurrency-mt-unsafe)

std::vector<std::string> logMessages(const fs::path& logFile) {
    std::vector<std::string> out;
    for (const std::string& line : readLines(logFile)) {
        const std::string::size_type dash = line.find(" - ");
        if (line.size() > 24 && line[4] == '-' && line[13] == ':' && dash != std::string::npos) {
            out.push_back(line.substr(dash + 3));
        } else if (!out.empty()) {
            out.back() += "\n" + line;
        }
    }
    return out;
}

std::vector<std::string> runsIn(const fs::path& binDir) {
    std::vector<std::string> out;
    for (const std::string& line : readLines(binDir / "sys_ctrl.runs")) {
        out.push_back(line.substr(line.find(' ') + 1));  // without its time stamp
    }
    return out;
}

}  // namespace testsupport
