// What the distribution tests ask Windows itself (under Wine):
//   qv_dist_probe version FILE           the version resource of FILE
//   qv_dist_probe shortcut FILE.lnk      where a shortcut points
//   qv_dist_probe com N SEND EXPECT      opens COMn, sends SEND, waits for EXPECT
// Prints NAME=VALUE lines; exits 0 on success, 1 with a message otherwise.
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
int Fail(const char* what, DWORD error = ::GetLastError())
{
    std::fprintf(stderr, "qv_dist_probe: %s (error %lu)\n", what, static_cast<unsigned long>(error));
    return 1;
}

std::string Utf8(const wchar_t* text)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string out(static_cast<size_t>(n - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const char* text)
{
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], n);
    out.resize(out.size() - 1);
    return out;
}

int Version(const char* file)
{
    const std::wstring path = Wide(file);
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0)
        return Fail("no version resource");
    std::vector<BYTE> data(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data()))
        return Fail("GetFileVersionInfo failed");

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) || !fixed)
        return Fail("no fixed version information", 0);
    std::printf("FixedFileVersion=%lu.%lu.%lu.%lu\n", static_cast<unsigned long>(HIWORD(fixed->dwFileVersionMS)),
                static_cast<unsigned long>(LOWORD(fixed->dwFileVersionMS)),
                static_cast<unsigned long>(HIWORD(fixed->dwFileVersionLS)),
                static_cast<unsigned long>(LOWORD(fixed->dwFileVersionLS)));
    std::printf("FixedProductVersion=%lu.%lu.%lu.%lu\n",
                static_cast<unsigned long>(HIWORD(fixed->dwProductVersionMS)),
                static_cast<unsigned long>(LOWORD(fixed->dwProductVersionMS)),
                static_cast<unsigned long>(HIWORD(fixed->dwProductVersionLS)),
                static_cast<unsigned long>(LOWORD(fixed->dwProductVersionLS)));

    struct Translation
    {
        WORD language;
        WORD codePage;
    }* translations = nullptr;
    if (!::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                          &len) ||
        len < sizeof(Translation))
        return Fail("no translation table", 0);
    const wchar_t* names[] = {L"ProductName", L"CompanyName", L"FileDescription", L"FileVersion", L"ProductVersion"};
    for (const wchar_t* name : names)
    {
        wchar_t query[128];
        std::swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translations[0].language,
                      translations[0].codePage, name);
        wchar_t* value = nullptr;
        if (::VerQueryValueW(data.data(), query, reinterpret_cast<void**>(&value), &len) && value)
            std::printf("%s=%s\n", Utf8(name).c_str(), Utf8(value).c_str());
    }
    return 0;
}

int Shortcut(const char* file)
{
    if (FAILED(::CoInitialize(nullptr)))
        return Fail("CoInitialize failed");
    IShellLinkW* link = nullptr;
    HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(&link));
    if (FAILED(hr))
        return Fail("no ShellLink object", static_cast<DWORD>(hr));
    IPersistFile* persist = nullptr;
    hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
    if (FAILED(hr))
        return Fail("no IPersistFile", static_cast<DWORD>(hr));
    hr = persist->Load(Wide(file).c_str(), STGM_READ);
    if (FAILED(hr))
        return Fail("cannot load the shortcut", static_cast<DWORD>(hr));
    wchar_t target[MAX_PATH] = {};
    hr = link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
    if (FAILED(hr))
        return Fail("shortcut without a target", static_cast<DWORD>(hr));
    std::printf("Target=%s\n", Utf8(target).c_str());
    wchar_t text[MAX_PATH] = {};
    if (SUCCEEDED(link->GetDescription(text, MAX_PATH)))
        std::printf("Description=%s\n", Utf8(text).c_str());
    persist->Release();
    link->Release();
    ::CoUninitialize();
    return 0;
}

int Com(const char* number, const char* send, const char* expect)
{
    const std::string name = std::string("\\\\.\\COM") + number;
    HANDLE port = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return Fail(("cannot open " + name.substr(4)).c_str());
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb))
        return Fail("GetCommState failed");
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutX = dcb.fInX = FALSE;
    if (!::SetCommState(port, &dcb))
        return Fail("SetCommState failed");
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = 50;
    timeouts.ReadTotalTimeoutConstant = 100;
    ::SetCommTimeouts(port, &timeouts);

    DWORD written = 0;
    const DWORD length = static_cast<DWORD>(std::strlen(send));
    if (!::WriteFile(port, send, length, &written, nullptr) || written != length)
        return Fail("WriteFile failed");

    std::string received;
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    while (received.find(expect) == std::string::npos && ::GetTickCount64() < deadline)
    {
        char buffer[64];
        DWORD got = 0;
        if (!::ReadFile(port, buffer, sizeof buffer, &got, nullptr))
            return Fail("ReadFile failed");
        received.append(buffer, got);
    }
    ::CloseHandle(port);
    std::printf("Received=%s\n", received.c_str());
    if (received.find(expect) == std::string::npos)
        return Fail(("no \"" + std::string(expect) + "\" from the port").c_str(), 0);
    return 0;
}
}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "version" && argc == 3)
        return Version(argv[2]);
    if (command == "shortcut" && argc == 3)
        return Shortcut(argv[2]);
    if (command == "com" && argc == 5)
        return Com(argv[2], argv[3], argv[4]);
    std::fprintf(stderr,
                 "usage: qv_dist_probe version FILE | shortcut FILE.lnk | com N SEND EXPECT\n");
    return 2;
}
