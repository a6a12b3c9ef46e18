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

std::string RegisteredHtmlHelpPath()
{
    const char kKey[] = "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
    HKEY hKey = nullptr;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, kKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return std::string();
    char path[MAX_PATH] = {};
    DWORD size = sizeof path - 1;  // room for a terminator the value may lack
    DWORD type = 0;
    const LONG rc = ::RegQueryValueExA(hKey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
    ::RegCloseKey(hKey);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    if (type == REG_EXPAND_SZ)
    {
        char expanded[MAX_PATH] = {};
        const DWORD n = ::ExpandEnvironmentStringsA(path, expanded, MAX_PATH);
        if (n == 0 || n > MAX_PATH)
            return std::string();
        return expanded;
    }
    return path;
}
