// The part of the Windows service control manager's API that the service host
// uses, for systems that have no such manager. Names, types and values are
// Windows's, so the host compiles unchanged.
#pragma once

#include <cstdint>

#define WINAPI

using DWORD = uint32_t;
using BOOL = int;
using WCHAR = wchar_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
using LPSERVICE_STATUS = SERVICE_STATUS*;

struct ServiceStatusHandleTag;
using SERVICE_STATUS_HANDLE = ServiceStatusHandleTag*;

using LPSERVICE_MAIN_FUNCTIONW = void (*)(DWORD dwNumServicesArgs, LPWSTR* lpServiceArgVectors);
using LPHANDLER_FUNCTION = void (*)(DWORD dwControl);

struct SERVICE_TABLE_ENTRYW {
    LPWSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONW lpServiceProc;
};

constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;

constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;

constexpr DWORD SERVICE_ACCEPT_STOP = 1;

constexpr DWORD SERVICE_CONTROL_STOP = 1;
constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;

// Runs the table's first service on a thread of its own, delivering stop
// requests (SIGTERM, SIGINT, SIGHUP) to the registered handler on the calling
// thread. Returns TRUE once the service has reported stopped and its thread
// has ended, or, should that thread not end, 5 s after the stopped report.
// Returns FALSE, running no service, for a table without a named service and
// where the dispatcher cannot have what it needs: its signal and wake-up
// descriptors, or a thread for the service.
BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable);

// The status handle for the service, or null when name or handler is missing.
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(LPCWSTR lpServiceName, LPHANDLER_FUNCTION lpHandlerProc);

// Reports the whole record.
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus);

// Sleeps the whole time asked, interruptions included.
void Sleep(DWORD dwMilliseconds);
