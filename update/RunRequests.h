// What the run asks of the system while it lasts, handed back in the reverse
// order when it ends:
// - the system timer at the wait step's resolution. The waits sleep
//   kWaitStepMs at a time; without it a Windows sleep lasts a whole scheduler
//   tick (often 15.6 ms).
// - the PC and its display kept awake. Windows counts only keyboard and mouse
//   input as activity, not serial traffic, and the user is asked not to touch
//   either during the update: a PC that went to sleep mid-write would leave
//   the unit without firmware.
#pragma once

#include "serial/SerialLink.h"

#include <windows.h>

#include <mmsystem.h>

class RunRequests
{
public:
    RunRequests()
        : m_timerHeld(::timeBeginPeriod(kWaitStepMs) == TIMERR_NOERROR),
          m_previous(::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED))
    {
    }
    // A previous state without ES_CONTINUOUS held nothing (Wine reports its
    // defaults that way): handing it back would only reset the idle timers
    // and leave the request in force, so the request is cleared instead.
    ~RunRequests()
    {
        if (m_previous != 0)
            ::SetThreadExecutionState((m_previous & ES_CONTINUOUS) ? m_previous : ES_CONTINUOUS);
        if (m_timerHeld)
            ::timeEndPeriod(kWaitStepMs);
    }
    RunRequests(const RunRequests&) = delete;
    RunRequests& operator=(const RunRequests&) = delete;

private:
    bool m_timerHeld;
    EXECUTION_STATE m_previous;  // 0: the power request failed, nothing to release
};
