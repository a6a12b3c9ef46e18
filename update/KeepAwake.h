// Keeps the PC and its display awake while it lives. Windows counts only
// keyboard and mouse input as activity, not serial traffic, and the user is
// asked not to touch either during the update: a PC that went to sleep
// mid-write would leave the unit without firmware.
#pragma once

#include <windows.h>

class KeepAwake
{
public:
    KeepAwake() : m_previous(::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED)) {}
    // A previous state without ES_CONTINUOUS held nothing (Wine reports its
    // defaults that way): handing it back would only reset the idle timers
    // and leave this request in force, so the request is cleared instead.
    ~KeepAwake()
    {
        if (m_previous != 0)
            ::SetThreadExecutionState((m_previous & ES_CONTINUOUS) ? m_previous : ES_CONTINUOUS);
    }
    KeepAwake(const KeepAwake&) = delete;
    KeepAwake& operator=(const KeepAwake&) = delete;

private:
    EXECUTION_STATE m_previous;  // 0: the request failed, nothing to release
};
