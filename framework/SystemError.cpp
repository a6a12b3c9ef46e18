#include "framework/SystemError.h"

std::string SystemErrorText(DWORD error)
{
    LPSTR text = nullptr;
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
                     nullptr);
    if (!text)
        return std::string();
    const std::string result = text;
    ::LocalFree(text);
    return result;
}
