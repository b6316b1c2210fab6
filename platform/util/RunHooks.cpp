#include "RunHooks.h"

#include <atomic>

namespace orvel_public {

namespace {

std::atomic<const RunHooks*> g_hooks{nullptr};

}  // namespace

void setRunHooks(const RunHooks* hooks) { g_hooks.store(hooks); }

namespace detail {

OutputHandle runStarting(const std::string& program, const std::string& args) {
    const RunHooks* hooks = g_hooks.load();
    return hooks != nullptr && hooks->starting != nullptr ? hooks->starting(program, args) : kNoOutput;
}

void runEnded(const std::string& program, const std::string& args, int32_t status) {
    const RunHooks* hooks = g_hooks.load();
    if (hooks != nullptr && hooks->ended != nullptr) hooks->ended(program, args, status);
}

}  // namespace detail

}  // namespace orvel_public
