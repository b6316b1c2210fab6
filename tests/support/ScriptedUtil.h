// A scripted platform utility library, linked in place of the real one, that
// records what the launcher asks of it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace scripted {

struct Run {
    std::string program;
    std::string args;
};

struct UtilScript {
    std::string binDir = "/opt/platform/bin";
    bool programPresent = true;
    // Results handed out per option, in order; once used up, 0.
    std::deque<int32_t> startResults;
    std::deque<int32_t> stopResults;
    // Called for every run before its result is handed out; may throw.
    std::function<void(const Run&)> onRun;

    std::vector<std::string> lookups;
    std::vector<Run> runs;

    // The runs as one word per run: "l" for a start run, "s" for a stop run.
    std::string runWords() const;
};

UtilScript& util();
void resetUtil();

}  // namespace scripted
