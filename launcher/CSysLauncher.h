// Brings the platform system up through its control program, one step a tick.
#pragma once

#include <cstdint>

namespace orvel_sys {

class CSysLauncher {
public:
    static constexpr int32_t STATE_IDLE = 0;     // nothing done yet
    static constexpr int32_t STATE_START = 1;    // a start run is due
    static constexpr int32_t STATE_STARTED = 2;  // the platform system is up
    static constexpr int32_t STATE_STOP = 3;     // a start failed; a clean-up run is due
    static constexpr int32_t STATE_STOPPED = 4;  // clean-up done; retry or give up next

    static constexpr int32_t TICK_WAIT_MS = 1000;  // every tick that does not finish asks for this
    static constexpr int32_t FINISHED = -1;

    CSysLauncher();
    virtual ~CSysLauncher();

    CSysLauncher(const CSysLauncher&) = delete;
    CSysLauncher& operator=(const CSysLauncher&) = delete;

    // One tick: at most one run of the control program. bStop is true once the
    // service is no longer running. Returns the wait before the next tick, or
    // FINISHED.
    int32_t processOnce(bool bStop);

protected:
    // Protected rather than private so that a test can look at them.
    int32_t m_nState;
    int32_t m_nStopFailCount;
    int32_t m_nStartFailCount;

private:
    bool doStart();
    bool doStop();
};

}  // namespace orvel_sys
