// The multimedia timer calls of update/TimerResolution.h: the native clock
// needs no resolution change.
#pragma once

#include <windows.h>

#define TIMERR_NOERROR 0u

inline UINT timeBeginPeriod(UINT)
{
    return TIMERR_NOERROR;
}

inline UINT timeEndPeriod(UINT)
{
    return TIMERR_NOERROR;
}
