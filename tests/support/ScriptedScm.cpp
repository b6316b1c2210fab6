#include "ScriptedScm.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace scripted {

namespace {

struct Engine {
    std::mutex lock;
    std::condition_variable changed;
    int64_t now = 0;
    std::deque<DWORD> queue;  // controls for the main thread
    uint64_t posted = 0;
    uint64_t handled = 0;
    bool serviceEnded = false;
    LPHANDLER_FUNCTION handler = nullptr;
    std::thread::id mainThread;
};

Engine g_engine;
ScmScript g_script;

SERVICE_STATUS_HANDLE fakeHandle() { return reinterpret_cast<SERVICE_STATUS_HANDLE>(&g_engine); }

// Hands a control to the main thread; with wait, returns once it is handled.
void post(DWORD control, bool wait, std::unique_lock<std::mutex>& held) {
    g_engine.queue.push_back(control);
    const uint64_t ticket = ++g_engine.posted;
    g_engine.changed.notify_all();
    if (wait) {
        g_engine.changed.wait(held, [ticket] { return g_engine.handled >= ticket; });
    }
}

}  // namespace

ScmScript& scm() { return g_script; }

void resetScm() {
    g_script = ScmScript();
    std::lock_guard<std::mutex> held(g_engine.lock);
    g_engine.now = 0;
    g_engine.queue.clear();
    g_engine.posted = g_engine.handled = 0;
    g_engine.serviceEnded = false;
    g_engine.handler = nullptr;
}

int64_t now() {
    std::lock_guard<std::mutex> held(g_engine.lock);
    return g_engine.now;
}

void note(const std::string& what) {
    std::lock_guard<std::mutex> held(g_engine.lock);
    g_script.events.push_back({g_engine.now, what});
}

void advance(int64_t ms) {
    std::unique_lock<std::mutex> held(g_engine.lock);
    // Racing controls posted earlier are handled before time moves on, so a
    // test's outcome does not hang on thread scheduling.
    g_engine.changed.wait(held, [] { return g_engine.handled >= g_engine.posted; });
    const int64_t target = g_engine.now + ms;
    while (!g_script.controls.empty() && g_script.controls.begin()->first <= target) {
        const auto next = g_script.controls.begin();
        if (next->first > g_engine.now) {
            g_engine.now = next->first;
        }
        const DWORD control = next->second;
        g_script.controls.erase(next);
        post(control, true, held);
    }
    g_engine.now = target;
}

std::vector<DWORD> ScmScript::states() const {
    std::vector<DWORD> out;
    for (const Report& r : reports) {
        out.push_back(r.status.dwCurrentState);
    }
    return out;
}

std::vector<std::string> ScmScript::eventsOf(const std::string& kind) const {
    std::vector<std::string> out;
    for (const Event& e : events) {
        if (e.what.rfind(kind, 0) == 0) {
            out.push_back(std::to_string(e.at) + " " + e.what);
        }
    }
    return out;
}

}  // namespace scripted

using scripted::g_engine;
using scripted::g_script;
using scripted::fakeHandle;

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable) {
    g_script.log = std::make_unique<testsupport::LogCapture>();
    if (g_script.dispatcherFails || lpServiceStartTable == nullptr || lpServiceStartTable[0].lpServiceProc == nullptr) {
        return FALSE;
    }
    g_engine.mainThread = std::this_thread::get_id();
    const LPSERVICE_MAIN_FUNCTIONW serviceMain = lpServiceStartTable[0].lpServiceProc;
    LPWSTR name = lpServiceStartTable[0].lpServiceName;
    std::thread service([serviceMain, name] {
        g_script.serviceMainRan = true;
        LPWSTR args[] = {name, nullptr};
        serviceMain(1, args);
        std::lock_guard<std::mutex> held(g_engine.lock);
        g_engine.serviceEnded = true;
        g_engine.changed.notify_all();
    });

    std::unique_lock<std::mutex> held(g_engine.lock);
    for (;;) {
        g_engine.changed.wait(held, [] { return !g_engine.queue.empty() || g_engine.serviceEnded; });
        if (g_engine.queue.empty()) {
            break;  // the service has ended and every control was handled
        }
        const DWORD control = g_engine.queue.front();
        g_engine.queue.pop_front();
        g_script.events.push_back({g_engine.now, "control " + std::to_string(control)});
        const LPHANDLER_FUNCTION handler = g_engine.handler;
        held.unlock();
        if (handler != nullptr) {
            handler(control);
        }
        held.lock();
        ++g_engine.handled;
        g_engine.changed.notify_all();
    }
    held.unlock();
    service.join();
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(LPCWSTR /*lpServiceName*/, LPHANDLER_FUNCTION lpHandlerProc) {
    std::lock_guard<std::mutex> held(g_engine.lock);
    if (g_script.registrationFails) {
        return nullptr;
    }
    g_engine.handler = lpHandlerProc;
    g_script.registeredHandle = fakeHandle();
    return fakeHandle();
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus) {
    std::unique_lock<std::mutex> held(g_engine.lock);
    if (hServiceStatus != fakeHandle()) {
        g_script.events.push_back({g_engine.now, "report with a bad handle"});
        return FALSE;
    }
    const bool onMain = std::this_thread::get_id() == g_engine.mainThread;
    g_script.reports.push_back({g_engine.now, *lpServiceStatus, onMain});
    g_script.events.push_back({g_engine.now, "report " + std::to_string(lpServiceStatus->dwCurrentState)});
    const auto range = g_script.controlsOnReport.equal_range(lpServiceStatus->dwCurrentState);
    std::vector<DWORD> racing;
    for (auto it = range.first; it != range.second; ++it) {
        racing.push_back(it->second);
    }
    g_script.controlsOnReport.erase(range.first, range.second);
    for (const DWORD control : racing) {
        scripted::post(control, false, held);
    }
    return TRUE;
}

void Sleep(DWORD dwMilliseconds) {
    scripted::note("sleep " + std::to_string(dwMilliseconds));
    scripted::advance(dwMilliseconds);
}
