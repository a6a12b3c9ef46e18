// The multimedia timer calls of update/RunRequests.h; support/Fake.cpp
// counts the periods held.
#pragma once

#include <windows.h>

#define TIMERR_NOERROR 0u

UINT timeBeginPeriod(UINT uPeriod);
UINT timeEndPeriod(UINT uPeriod);
