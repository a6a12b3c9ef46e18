// The process-wide state of the serial link, for code that inspects it
// (the dialog's member operations in SerialLink.cpp are its only writers).
#pragma once

#include <windows.h>

#include <atomic>

extern HANDLE g_hPort;                           // the open port, or INVALID_HANDLE_VALUE
extern unsigned char RxRing[256];                // received bytes, modulo 256
extern std::atomic<unsigned char> g_rxWrite;     // next store position; receive thread only
extern std::atomic<unsigned char> g_rxRead;      // next take position; UI thread only
extern std::atomic<int> g_rxRun;                 // 1 while the receive thread is to keep polling
