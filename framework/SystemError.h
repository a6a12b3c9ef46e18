// The system's own text for a Win32 error code.
#pragma once

#include <windows.h>

#include <string>

// The message table's text for the code, in the user's default language,
// exactly as the system words it (line end included); empty when the system
// has none.
std::string SystemErrorText(DWORD error);
