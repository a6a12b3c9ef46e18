// Holds Wine's virtual desktop open for the life of the prefix's server.
// Wine starts the desktop for the first window of the first program and ends
// it with the last program: started by a test, it would share that test's
// output pipes and go with it. wine-up.sh starts this detached instead.
#include <windows.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    HWND hWnd = ::CreateWindowA("STATIC", "QV6100 desktop keeper", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                hInstance, nullptr);
    if (!hWnd)
        return 1;
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0)
        ::DispatchMessageA(&msg);
    return 0;
}
