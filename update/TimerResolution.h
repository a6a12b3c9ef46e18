// Holds a 1 ms system timer resolution while it lives. The waits sleep 1 ms
// at a time; without it a Windows sleep lasts a whole scheduler tick
// (often 15.6 ms).
#pragma once

#include <windows.h>

#include <mmsystem.h>

class TimerResolution
{
public:
    TimerResolution() : m_ok(::timeBeginPeriod(1) == TIMERR_NOERROR) {}
    ~TimerResolution()
    {
        if (m_ok)
            ::timeEndPeriod(1);
    }
    TimerResolution(const TimerResolution&) = delete;
    TimerResolution& operator=(const TimerResolution&) = delete;

private:
    bool m_ok;
};
