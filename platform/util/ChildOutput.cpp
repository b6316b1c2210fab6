#include "ChildOutput.h"

#include <atomic>

namespace orvel_public {

namespace {

std::atomic<ChildOutputSource> g_source{nullptr};

}  // namespace

void setChildOutputSource(ChildOutputSource source) { g_source.store(source); }

namespace detail {

OutputHandle childOutputFor(const std::string& program, const std::string& args) {
    const ChildOutputSource source = g_source.load();
    return source != nullptr ? source(program, args) : kNoOutput;
}

}  // namespace detail

}  // namespace orvel_public
