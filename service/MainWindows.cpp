// The process entry and the service shell around the system launcher: it
// registers with the service manager, reports the service's states, takes
// STOP, waits the settle delay and ticks the launcher until it has finished.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>

#include "CSysLauncher.h"
#include "LogMacros.h"
#include "ScmApi.h"

WCHAR SERVICE_NAME[] = L"quendra_launcher";
#define PROCESS_NAME "ventrix"
static const std::string APPLICATION_NAME("BASE");

SERVICE_STATUS g_svcStatus;
SERVICE_STATUS_HANDLE g_svcStatusHandle = nullptr;

void WINAPI serviceStrl(DWORD dwControl);
void WINAPI serviceMain(DWORD dwArgc, LPWSTR* lpszArgv);

namespace {

constexpr DWORD kSettleDelayMs = 15000;

// Bounds main's wait for the service thread's last record, so that a service
// main that never ran cannot hold up the exit.
constexpr std::chrono::seconds kLastRecordWait(10);

// Each change of g_svcStatus and its report happen together under this lock,
// on whichever thread makes them, so the reports go out in the order the
// changes were made.
std::mutex g_statusLock;

// Set once the service thread has written its last record.
std::mutex g_doneLock;
std::condition_variable g_doneSignal;
bool g_serviceDone = false;

void reportLocked() { SetServiceStatus(g_svcStatusHandle, &g_svcStatus); }

DWORD currentState() {
    std::lock_guard<std::mutex> held(g_statusLock);
    return g_svcStatus.dwCurrentState;
}

void markServiceDone() {
    std::lock_guard<std::mutex> held(g_doneLock);
    g_serviceDone = true;
    g_doneSignal.notify_all();
}

// True once the service thread has written its last record; false when the
// bound has passed first.
bool awaitServiceDone() {
    std::unique_lock<std::mutex> held(g_doneLock);
    return g_doneSignal.wait_for(held, kLastRecordWait, [] { return g_serviceDone; });
}

void runLauncher() {
    orvel_sys::CSysLauncher launcher;
    for (;;) {
        const bool stop = currentState() != SERVICE_RUNNING;
        const int32_t wait = launcher.processOnce(stop);
        if (wait < 0) {
            break;
        }
        Sleep(static_cast<DWORD>(wait));
    }
}

}  // namespace

void WINAPI serviceMain(DWORD /*dwArgc*/, LPWSTR* /*lpszArgv*/) {
    LOGINFO("serviceMain(): Service starting .");
    {
        std::lock_guard<std::mutex> held(g_statusLock);
        g_svcStatus.dwCurrentState = SERVICE_START_PENDING;
        g_svcStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    }
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerW(SERVICE_NAME, serviceStrl);
    if (handle == nullptr) {
        LOGERROR("serviceMain(): RegisterServiceCtrlHandler() return NULL !");
        markServiceDone();
        return;
    }
    {
        std::lock_guard<std::mutex> held(g_statusLock);
        g_svcStatusHandle = handle;
        reportLocked();
    }
    {
        std::lock_guard<std::mutex> held(g_statusLock);
        g_svcStatus.dwWin32ExitCode = 0;
        g_svcStatus.dwCheckPoint = 0;
        g_svcStatus.dwWaitHint = 0;
        // A STOP taken since the start-pending report must not be overwritten:
        // the service stays stop-pending and the launcher sees it at its first tick.
        if (g_svcStatus.dwCurrentState == SERVICE_START_PENDING) {
            g_svcStatus.dwCurrentState = SERVICE_RUNNING;
            reportLocked();
        }
    }
    LOGINFO("serviceMain(): Service running .");

    Sleep(kSettleDelayMs);
    runLauncher();

    {
        std::lock_guard<std::mutex> held(g_statusLock);
        g_svcStatus.dwCurrentState = SERVICE_STOPPED;
        reportLocked();
    }
    LOGINFO("serviceMain(): Service stopped .");
    markServiceDone();
}

void WINAPI serviceStrl(DWORD dwControl) {
    switch (dwControl) {
        case SERVICE_CONTROL_STOP: {
            std::lock_guard<std::mutex> held(g_statusLock);
            // Once stopped is reported it stays the last report.
            if (g_svcStatus.dwCurrentState != SERVICE_STOPPED) {
                g_svcStatus.dwCurrentState = SERVICE_STOP_PENDING;
                reportLocked();
            }
            return;
        }
        case SERVICE_CONTROL_PAUSE:
        case SERVICE_CONTROL_CONTINUE:
        case SERVICE_CONTROL_INTERROGATE:
        case SERVICE_CONTROL_SHUTDOWN:
            return;
        default:
            LOGERROR("serviceStrl(): Invalid operation code !");
            return;
    }
}

int main(int /*argc*/, char** /*argv*/) {
    orvel_public::StartLogSystem(APPLICATION_NAME.c_str(), PROCESS_NAME);
    {
        std::lock_guard<std::mutex> held(g_statusLock);
        g_svcStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        g_svcStatus.dwCurrentState = SERVICE_STOPPED;
        g_svcStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP;
        g_svcStatus.dwWin32ExitCode = 0;
        g_svcStatus.dwServiceSpecificExitCode = 0;
        g_svcStatus.dwCheckPoint = 0;
        g_svcStatus.dwWaitHint = 0;
    }
    {
        std::lock_guard<std::mutex> held(g_doneLock);
        g_serviceDone = false;
    }

    SERVICE_TABLE_ENTRYW table[] = {{SERVICE_NAME, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        LOGERROR("main(): StartServiceCtrlDispatcher() return false !");
    } else if (!awaitServiceDone()) {
        // The dispatcher may return as soon as stopped is reported, before the
        // service thread has written its last record. Past the bound that
        // thread may still write at any moment: the log system is not stopped
        // under it, nor torn down by the exit's destructors. Every record
        // written so far is in the file already.
        std::_Exit(0);
    }
    orvel_public::StopLogSystem();
    return 0;
}
