// HTML Help, reached at run time: the library is loaded on first use.
#pragma once

#include <windows.h>

const UINT HH_DISPLAY_TOPIC = 0x0000;
const UINT HH_CLOSE_ALL = 0x0012;

// Forwards to the HTML Help library's HtmlHelpA; returns 0 and does nothing
// when the library or its entry cannot be had.
HWND HtmlHelpA(HWND hwndCaller, LPCSTR pszFile, UINT uCommand, DWORD_PTR dwData);
