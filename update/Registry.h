// The registry marker that records a successful identification of the unit.
#pragma once

#include <windows.h>

const DWORD DETECTED_MARKER = 3120;  // 0x0C30

// HKEY_LOCAL_MACHINE\SOFTWARE\CORVANE\QV-6100 Update, value "Data".
extern const char kMarkerKey[];
extern const char kMarkerValue[];

// Reads "Data" into marker; a missing key or value leaves marker unchanged.
void ReadMarker(DWORD& marker);
// Stores DETECTED_MARKER. The key is opened, never created; failures are
// discovered by reading the marker back.
void WriteMarker();
