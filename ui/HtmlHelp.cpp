#include "ui/HtmlHelp.h"

#include "update/Registry.h"

#include <string>

namespace
{
typedef HWND(WINAPI* HtmlHelpFn)(HWND, LPCSTR, UINT, DWORD_PTR);

const WORD kHtmlHelpAOrdinal = 14;

bool g_tried = false;             // a failed load is not retried
HtmlHelpFn g_pHtmlHelp = nullptr;

HMODULE LoadHtmlHelpLibrary()
{
    const std::string registered = RegisteredHtmlHelpPath();
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
}  // namespace

HWND HtmlHelpA(HWND hwndCaller, LPCSTR pszFile, UINT uCommand, DWORD_PTR dwData)
{
    if (!g_tried)
    {
        g_tried = true;
        if (HMODULE h = LoadHtmlHelpLibrary())
            g_pHtmlHelp = reinterpret_cast<HtmlHelpFn>(
                reinterpret_cast<void*>(::GetProcAddress(h, MAKEINTRESOURCEA(kHtmlHelpAOrdinal))));
    }
    if (!g_pHtmlHelp)
        return nullptr;
    return g_pHtmlHelp(hwndCaller, pszFile, uCommand, dwData);
}
