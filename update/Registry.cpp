#include "update/Registry.h"

const char kMarkerKey[] = "SOFTWARE\\CORVANE\\QV-6100 Update";
const char kMarkerValue[] = "Data";

void ReadMarker(DWORD& marker)
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return;
    // Whatever four bytes "Data" holds are taken, whatever its type; a
    // shorter value replaces only its own bytes, a longer one nothing.
    DWORD value = marker;
    DWORD size = sizeof value;
    if (::RegQueryValueExA(hKey, kMarkerValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
        ERROR_SUCCESS)
        marker = value;
    ::RegCloseKey(hKey);
}

void WriteMarker()
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS)
        return;
    const DWORD value = DETECTED_MARKER;
    ::RegSetValueExA(hKey, kMarkerValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    ::RegCloseKey(hKey);
}
