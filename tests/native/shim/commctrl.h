// The progress bar messages of ui/RunView.cpp.
#pragma once

#include <windows.h>

#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
