// What the distribution tests ask Windows itself (under Wine):
//   qv_dist_probe version FILE           the version resource of FILE
//   qv_dist_probe shortcut FILE.lnk      where a shortcut points
//   qv_dist_probe com N SEND EXPECT      opens COMn, sends SEND, waits for EXPECT
//   qv_dist_probe program FILE           what Windows reads from a program: PE header,
//                                        icon, version resource, manifest
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

// The decoded size of each image of the first icon group, as Explorer picks
// from them: "16,32,...", "bad" for an image that does not decode.
std::string IconSizes(HMODULE module)
{
    const LPCWSTR groupType = MAKEINTRESOURCEW(14), imageType = MAKEINTRESOURCEW(3);  // RT_GROUP_ICON, RT_ICON
    LPWSTR first = nullptr;
    ::EnumResourceNamesW(
        module, groupType,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
            *reinterpret_cast<LPWSTR*>(found) = IS_INTRESOURCE(name) ? name : nullptr;
            return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&first));
    HRSRC group = first ? ::FindResourceW(module, first, groupType) : nullptr;
    if (!group)
        return "none";
    const BYTE* dir = static_cast<const BYTE*>(::LockResource(::LoadResource(module, group)));
    std::string sizes;
    for (WORD i = 0; i < *reinterpret_cast<const WORD*>(dir + 4); ++i)
    {
        WORD id = 0;  // GRPICONDIRENTRY: 14 bytes each after a 6-byte header, the image's id last
        std::memcpy(&id, dir + 6 + 14 * i + 12, sizeof id);
        HRSRC image = ::FindResourceW(module, MAKEINTRESOURCEW(id), imageType);
        HICON icon = image ? ::CreateIconFromResourceEx(static_cast<PBYTE>(::LockResource(::LoadResource(module, image))),
                                                        ::SizeofResource(module, image), TRUE, 0x00030000, 0, 0, 0)
                           : nullptr;
        ICONINFO info = {};
        BITMAP bitmap = {};
        if (icon && ::GetIconInfo(icon, &info) && ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap))
            sizes += (sizes.empty() ? "" : ",") + std::to_string(bitmap.bmWidth);
        else
            sizes += sizes.empty() ? "bad" : ",bad";
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        if (icon)
            ::DestroyIcon(icon);
    }
    return sizes;
}

// The PE header (machine, subsystem and the oldest Windows version the
// loader accepts), the icon, the version resource, then the manifest as the
// loader's activation context reads it. Fails without a manifest Windows
// accepts: such a program runs without visual styles, scaled blurry by the
// system, and may be offered elevation by installer detection.
int Program(const char* file)
{
    const std::wstring path = Wide(file);
    std::vector<char> head(4096);
    if (FILE* f = ::_wfopen(path.c_str(), L"rb"))
    {
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fclose(f);
    }
    else
        return Fail("cannot open the file");
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS64 nt = {};
    if (head.size() >= sizeof dos)
        std::memcpy(&dos, head.data(), sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 || dos.e_lfanew + sizeof nt > head.size())
        return Fail("not a Windows program", 0);
    std::memcpy(&nt, head.data() + dos.e_lfanew, sizeof nt);
    if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return Fail("not a PE32+ program", 0);
    std::printf("Format=PE32+\nMachine=%s\nSubsystem=%s\nSubsystemVersion=%u.%u\n",
                nt.FileHeader.Machine == IMAGE_FILE_MACHINE_AMD64 ? "AMD64" : "other",
                nt.OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI ? "GUI" : "other",
                nt.OptionalHeader.MajorSubsystemVersion, nt.OptionalHeader.MinorSubsystemVersion);

    HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module)
        return Fail("cannot load its resources");
    std::printf("Icons=%s\n", IconSizes(module).c_str());
    ::FreeLibrary(module);
    if (Version(file) != 0)
        return 1;

    ACTCTXW request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = path.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);  // CREATEPROCESS_MANIFEST_RESOURCE_ID
    HANDLE context = ::CreateActCtxW(&request);
    if (context == INVALID_HANDLE_VALUE)
        return Fail("no manifest that Windows accepts");
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    SIZE_T size = 0;
    const char* levels[] = {"unspecified", "asInvoker", "highestAvailable", "requireAdministrator"};
    if (::QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &level, sizeof level, &size) &&
        level.RunLevel < ACTCTX_RUN_LEVEL_NUMBERS)
        std::printf("RunLevel=%s\n", levels[level.RunLevel]);
    // Assembly 1 is the program itself, the others what it depends on.
    for (DWORD index = 2;; ++index)
    {
        std::vector<BYTE> buffer(4096);
        if (!::QueryActCtxW(0, context, &index, AssemblyDetailedInformationInActivationContext, buffer.data(),
                            buffer.size(), &size))
            break;
        const auto* assembly = reinterpret_cast<ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
        std::printf("Dependency=%s\n", Utf8(assembly->lpAssemblyEncodedAssemblyIdentity).c_str());
    }
    const wchar_t* settings[][2] = {{L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"},
                                    {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"}};
    for (const auto& setting : settings)
    {
        wchar_t value[256] = {};
        if (::QueryActCtxSettingsW(0, context, setting[0], setting[1], value, 256, &size))
            std::printf("%s=%s\n", Utf8(setting[1]).c_str(), Utf8(value).c_str());
    }
    ::ReleaseActCtx(context);
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
    if (command == "program" && argc == 3)
        return Program(argv[2]);
    std::fprintf(stderr,
                 "usage: qv_dist_probe version FILE | shortcut FILE.lnk | com N SEND EXPECT | program FILE\n");
    return 2;
}
