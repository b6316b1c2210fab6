// Watches a service through the service control manager, from outside, the
// way an operator's tools see it, and sends it controls:
//   svc_probe NAME OUTFILE [CODE@STATE+MS ...]
// It samples QueryServiceStatusEx every 2 ms and writes a line for each
// record that differs from the one before:
//   <epoch ms> state=S type=T accepted=A win32=W specific=X checkpoint=C hint=H
// Each CODE@STATE+MS sends control CODE with ControlService MS milliseconds
// after STATE (a state number) was first seen, and writes
//   <epoch ms> control CODE ok|failed ERROR
// It waits for the service to leave the stopped state, then ends once it is
// stopped again (exit 0), or after 120 s, writing "<epoch ms> limit" (exit 2).
// A query that fails ends it at once, after "<epoch ms> query failed ERROR"
// (exit 4), so that a caller can tell a lost manager from a service that
// never stopped.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

long long epochMs() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    return static_cast<long long>(t.QuadPart / 10000ULL) - 11644473600000LL;
}

struct Control {
    DWORD code;
    DWORD afterState;
    long long delayMs;
    long long dueAt = -1;
    bool sent = false;
};

std::wstring widen(const char* s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s, -1, out.data(), n);
    out.resize(static_cast<size_t>(n) - 1);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: svc_probe NAME OUTFILE [CODE@STATE+MS ...]\n");
        return 3;
    }
    std::vector<Control> controls;
    for (int i = 3; i < argc; ++i) {
        Control c{};
        unsigned long code = 0, state = 0;
        long long delay = 0;
        if (std::sscanf(argv[i], "%lu@%lu+%lld", &code, &state, &delay) != 3) {
            std::fprintf(stderr, "svc_probe: bad control '%s'\n", argv[i]);
            return 3;
        }
        c.code = static_cast<DWORD>(code);
        c.afterState = static_cast<DWORD>(state);
        c.delayMs = delay;
        controls.push_back(c);
    }
    FILE* out = std::fopen(argv[2], "w");
    if (out == nullptr) {
        return 3;
    }
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = scm ? OpenServiceW(scm, widen(argv[1]).c_str(),
                                       SERVICE_QUERY_STATUS | SERVICE_STOP | SERVICE_INTERROGATE |
                                           SERVICE_USER_DEFINED_CONTROL)
                        : nullptr;
    if (svc == nullptr) {
        std::fprintf(out, "%lld open failed %lu\n", epochMs(), GetLastError());
        std::fclose(out);
        return 3;
    }

    SERVICE_STATUS_PROCESS last{};
    bool first = true;
    bool left = false;
    const long long deadline = epochMs() + 120000;
    int result = 2;
    while (epochMs() < deadline) {
        SERVICE_STATUS_PROCESS s{};
        DWORD needed = 0;
        if (!QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof s, &needed)) {
            std::fprintf(out, "%lld query failed %lu\n", epochMs(), GetLastError());
            result = 4;
            break;
        }
        const long long now = epochMs();
        const bool changed = first || s.dwCurrentState != last.dwCurrentState ||
                             s.dwControlsAccepted != last.dwControlsAccepted ||
                             s.dwWin32ExitCode != last.dwWin32ExitCode ||
                             s.dwServiceSpecificExitCode != last.dwServiceSpecificExitCode ||
                             s.dwCheckPoint != last.dwCheckPoint || s.dwWaitHint != last.dwWaitHint ||
                             s.dwServiceType != last.dwServiceType;
        if (changed) {
            std::fprintf(out, "%lld state=%lu type=%lu accepted=%lu win32=%lu specific=%lu checkpoint=%lu hint=%lu\n",
                         now, s.dwCurrentState, s.dwServiceType, s.dwControlsAccepted, s.dwWin32ExitCode,
                         s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint);
            std::fflush(out);
            for (Control& c : controls) {
                if (c.dueAt < 0 && s.dwCurrentState == c.afterState) {
                    c.dueAt = now + c.delayMs;
                }
            }
            last = s;
            first = false;
        }
        for (Control& c : controls) {
            if (!c.sent && c.dueAt >= 0 && now >= c.dueAt) {
                SERVICE_STATUS ignored{};
                const BOOL ok = ControlService(svc, c.code, &ignored);
                std::fprintf(out, "%lld control %lu %s %lu\n", epochMs(), c.code, ok ? "ok" : "failed",
                             ok ? 0UL : GetLastError());
                std::fflush(out);
                c.sent = true;
            }
        }
        if (s.dwCurrentState != SERVICE_STOPPED) {
            left = true;
        } else if (left) {
            result = 0;
            break;
        }
        Sleep(2);
    }
    if (result == 2) {
        std::fprintf(out, "%lld limit\n", epochMs());
    }
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    std::fclose(out);
    return result;
}
