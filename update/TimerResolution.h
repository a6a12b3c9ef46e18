// Holds the system timer resolution at the wait step while it lives. The
// waits sleep kWaitStepMs at a time; without it a Windows sleep lasts a whole
// scheduler tick (often 15.6 ms).
#pragma once

#include "serial/SerialLink.h"

#include <windows.h>

#include <mmsystem.h>

class TimerResolution
{
public:
    TimerResolution() : m_ok(::timeBeginPeriod(kWaitStepMs) == TIMERR_NOERROR) {}
    ~TimerResolution()
    {
        if (m_ok)
            ::timeEndPeriod(kWaitStepMs);
    }
    TimerResolution(const TimerResolution&) = delete;
    TimerResolution& operator=(const TimerResolution&) = delete;

private:
    bool m_ok;
};
