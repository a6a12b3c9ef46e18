// The few Win32 types, constants and functions the serial link, the update
// engine and the dialog use, so that they build natively against the fake
// Win32 of support/Fake.cpp. Sizes follow Win32 (DWORD is 32 bits, handles are
// pointers); nothing here talks to a real device.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#ifndef __cdecl
#define __cdecl
#endif

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef unsigned int UINT;
typedef std::uintptr_t UINT_PTR;
typedef std::intptr_t INT_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t LRESULT;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef void* HANDLE;
typedef void* HLOCAL;

struct HWND__;
typedef HWND__* HWND;
struct HICON__;
typedef HICON__* HICON;
typedef HICON HCURSOR;
struct HBRUSH__;
typedef HBRUSH__* HBRUSH;
struct HDC__;
typedef HDC__* HDC;
struct HMENU__;
typedef HMENU__* HMENU;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef DWORD COLORREF;

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_FAILED 0xFFFFFFFFu

#define LOWORD(l) (static_cast<WORD>(static_cast<std::uintptr_t>(l) & 0xFFFF))
#define HIWORD(l) (static_cast<WORD>((static_cast<std::uintptr_t>(l) >> 16) & 0xFFFF))
#define MAKEWPARAM(l, h) (static_cast<WPARAM>((static_cast<DWORD>(h) << 16) | static_cast<WORD>(l)))
#define MAKELPARAM(l, h) (static_cast<LPARAM>((static_cast<DWORD>(h) << 16) | static_cast<WORD>(l)))
#define MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(i))))
#define RGB(r, g, b) (static_cast<COLORREF>((r) | ((g) << 8) | ((b) << 16)))

// Errors
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_READY 21u

// Files and ports
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define NOPARITY 0
#define ONESTOPBIT 0
#define RTS_CONTROL_ENABLE 0x01
#define EV_RXCHAR 0x0001u

struct COMSTAT
{
    DWORD fFlags;  // the hold and end-of-file bits, unused here
    DWORD cbInQue;
    DWORD cbOutQue;
};

struct DCB
{
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};

// Messages
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
#define WM_USER 0x0400u
#define WM_DESTROY 0x0002u
#define WM_ACTIVATE 0x0006u
#define WM_PAINT 0x000Fu
#define WM_ICONERASEBKGND 0x0027u
#define WM_QUERYDRAGICON 0x0037u
#define WM_CONTEXTMENU 0x007Bu
#define WM_COMMAND 0x0111u
#define WM_SYSCOMMAND 0x0112u
#define WM_TIMER 0x0113u
#define WM_CTLCOLORMSGBOX 0x0132u
#define WM_CTLCOLORSTATIC 0x0138u
#define DM_SETDEFID (WM_USER + 1)
#define BN_CLICKED 0
#define BM_SETSTYLE 0x00F4u
#define BS_PUSHBUTTON 0x0000u
#define USER_TIMER_MINIMUM 0x0000000Au
#define CB_ERR (-1)
#define CB_ADDSTRING 0x0143u
#define CB_GETCURSEL 0x0147u
#define CB_GETLBTEXT 0x0148u
#define CB_GETLBTEXTLEN 0x0149u
#define CB_SETCURSEL 0x014Eu

// The system menu, and the icon's size
#define SC_MOUSEMENU 0xF090u
#define SC_KEYMENU 0xF100u
#define SC_DEFAULT 0xF160u
#define MF_STRING 0x0000u
#define MF_BYPOSITION 0x0400u
#define MF_SEPARATOR 0x0800u
#define SM_CXICON 11
#define SM_CYICON 12

struct POINT
{
    LONG x;
    LONG y;
};

struct RECT
{
    LONG left, top, right, bottom;
};
struct PAINTSTRUCT
{
};

struct MSG
{
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

// Windows
#define SW_HIDE 0
#define SW_SHOW 5

// Message boxes
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ICONHAND 0x00000010u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONINFORMATION 0x00000040u
#define IDOK 1
#define IDCANCEL 2

// System texts
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((static_cast<DWORD>(static_cast<WORD>(s)) << 10) | static_cast<WORD>(p))

// Threads and power
#define THREAD_PRIORITY_NORMAL 0
typedef DWORD EXECUTION_STATE;
#define ES_SYSTEM_REQUIRED 0x00000001u
#define ES_DISPLAY_REQUIRED 0x00000002u
#define ES_USER_PRESENT 0x00000004u
#define ES_CONTINUOUS 0x80000000u

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL CloseHandle(HANDLE hObject);
BOOL GetCommState(HANDLE hFile, DCB* lpDCB);
BOOL SetCommState(HANDLE hFile, DCB* lpDCB);
BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask);
BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue);
BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, COMSTAT* lpStat);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, void* Arguments);
HLOCAL LocalFree(HLOCAL hMem);

BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
BOOL TranslateMessage(const MSG* lpMsg);
LRESULT DispatchMessageA(const MSG* lpMsg);
BOOL IsDialogMessageA(HWND hDlg, LPMSG lpMsg);
LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);
BOOL ShowWindow(HWND hWnd, int nCmdShow);
BOOL EnableWindow(HWND hWnd, BOOL bEnable);
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

void Sleep(DWORD dwMilliseconds);
EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE esFlags);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// The window layer's calls that no native test makes (the icon, the system
// menu, painting, the help file's path), and the focus: they return zero or
// a null handle.
template <class R>
struct Inert
{
    template <class... A> R operator()(A&&...) const { return R(); }
};
inline constexpr Inert<int> LoadStringA{}, AppendMenuA{}, RemoveMenu{}, IsWindowEnabled{}, GetModuleFileNameW{},
    _wsplitpath_s{}, GetSystemMetrics{}, GetClientRect{}, DrawIcon{}, EndPaint{}, SetTextColor{};
inline constexpr Inert<std::nullptr_t> LoadIconA{}, BeginPaint{}, SetFocus{};
