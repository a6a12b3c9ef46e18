#include "ui/Help.h"

#include <windows.h>

#include <string>

namespace
{
typedef HWND(WINAPI* HtmlHelpFn)(HWND, LPCWSTR, UINT, DWORD_PTR);

// The library's HtmlHelpW is exported by ordinal; its commands.
const WORD kHtmlHelpWOrdinal = 15;
const UINT kDisplayTopic = 0x0000;
const UINT kCloseAll = 0x0012;

bool g_tried = false;  // a failed load is not retried
HtmlHelpFn g_pHtmlHelp = nullptr;

// The file registered for the HTML Help control, or an empty string.
std::string RegisteredLibraryPath()
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

HMODULE LoadLibraryOnce()
{
    const std::string registered = RegisteredLibraryPath();
    if (!registered.empty())
    {
        if (HMODULE h = ::LoadLibraryA(registered.c_str()))
            return h;
    }
    // By name, but from the system directory only: a bare name would search
    // the application's folder and the current directory first.
    char dir[MAX_PATH] = {};
    const UINT n = ::GetSystemDirectoryA(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return nullptr;
    const std::string path = std::string(dir) + "\\hhctrl.ocx";
    return ::LoadLibraryA(path.c_str());
}

void CallHtmlHelp(LPCWSTR pszFile, UINT uCommand)
{
    if (!g_tried)
    {
        g_tried = true;
        if (HMODULE h = LoadLibraryOnce())
            g_pHtmlHelp = reinterpret_cast<HtmlHelpFn>(
                reinterpret_cast<void*>(::GetProcAddress(h, MAKEINTRESOURCEA(kHtmlHelpWOrdinal))));
    }
    if (g_pHtmlHelp)
        g_pHtmlHelp(nullptr, pszFile, uCommand, 0);
}
}  // namespace

void ShowHelpTopic(const wchar_t* path)
{
    CallHtmlHelp(path, kDisplayTopic);
}

void CloseAllHelp()
{
    CallHtmlHelp(nullptr, kCloseAll);
}
