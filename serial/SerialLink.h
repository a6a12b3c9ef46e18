// The serial link's constants, and its process-wide state for code that
// inspects it (the dialog's member operations in SerialLink.cpp are its only
// writers).
#pragma once

#include <windows.h>

#include <atomic>

// Every wait loop of the run sleeps this long between two polls; the run
// holds the system timer at this resolution (update/RunRequests.h).
const UINT kWaitStepMs = 1;

// Size of every buffer the serial link copies received bytes into.
const int kReplyBufferBytes = 256;

extern HANDLE g_hPort;                           // the open port, or INVALID_HANDLE_VALUE
extern unsigned char RxRing[256];                // received bytes, modulo 256
extern std::atomic<unsigned char> g_rxWrite;     // next store position; receive thread only
extern std::atomic<unsigned char> g_rxRead;      // next take position; UI thread only
extern std::atomic<int> g_rxRun;                 // 1 while the receive thread is to keep polling
