// A scripted service manager in virtual time, linked in place of the real one:
// Sleep advances a virtual clock at once, controls are delivered on the
// dispatcher's (main) thread at chosen virtual times, and every report is
// recorded with its virtual time and the whole record.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "ScmApi.h"

namespace scripted {

struct Report {
    int64_t at;
    SERVICE_STATUS status;
    bool fromMainThread;
};

struct Event {
    int64_t at;
    std::string what;  // "report 2", "sleep 15000", "control 1", "run -l"
};

struct ScmScript {
    bool dispatcherFails = false;
    bool registrationFails = false;
    // Delivered on the main thread once virtual time reaches them; the service
    // thread waits until each is handled.
    std::multimap<int64_t, DWORD> controls;
    // Delivered on the main thread as soon as a report of that state is made,
    // without the reporting thread waiting: a real race with it.
    std::multimap<DWORD, DWORD> controlsOnReport;

    // What happened.
    bool serviceMainRan = false;
    SERVICE_STATUS_HANDLE registeredHandle = nullptr;
    std::vector<Report> reports;
    std::vector<Event> events;
    std::unique_ptr<testsupport::LogCapture> log;  // attached when the dispatcher is called

    std::vector<DWORD> states() const;
    std::vector<std::string> eventsOf(const std::string& kind) const;
};

ScmScript& scm();
void resetScm();

int64_t now();
// Moves virtual time on by ms from the service thread, delivering the controls due meanwhile.
void advance(int64_t ms);
// Records an event at the current virtual time.
void note(const std::string& what);

}  // namespace scripted
