#include "ScriptedUtil.h"

#include "FileUtil.h"
#include "ProcUtil.h"

namespace scripted {

UtilScript& util() {
    static UtilScript script;
    return script;
}

void resetUtil() { util() = UtilScript(); }

std::string UtilScript::runWords() const {
    std::string out;
    for (const Run& run : runs) {
        if (!out.empty()) {
            out += ' ';
        }
        out += run.args == "-l" ? "l" : run.args == "-s" ? "s" : "?" + run.args;
    }
    return out;
}

}  // namespace scripted

namespace orvel_public {

const char* CFileUtil::getProcSuffix() { return ".sfx"; }

std::string CFileUtil::getPathOfBinFile(const std::string& fileName, std::string* /*p*/) {
    scripted::util().lookups.push_back(fileName);
    return scripted::util().programPresent ? scripted::util().binDir + "/" + fileName : "";
}

int32_t CProcUtil::execScript(const std::string& program, const std::string& args) {
    scripted::UtilScript& s = scripted::util();
    const scripted::Run run{program, args};
    if (s.onRun) {
        s.onRun(run);
    }
    s.runs.push_back(run);
    std::deque<int32_t>& results = args == "-l" ? s.startResults : s.stopResults;
    if (results.empty()) {
        return 0;
    }
    const int32_t result = results.front();
    results.pop_front();
    return result;
}

}  // namespace orvel_public
