// The serial link: the one open port, the receive thread and its ring, and the
// waits that the protocol steps are built from. Every Win32 call that touches
// the port is here.
#include "serial/SerialLink.h"
#include "framework/SystemError.h"
#include "serial/PortNames.h"
#include "ui/Texts.h"
#include "ui/UpdateDlg.h"

#include <atomic>
#include <cstring>

namespace
{
const DWORD kBaudRate = 9600;
const DWORD kDriverQueueBytes = 4096;
}  // namespace

// ---------------------------------------------------------------------------
// Process-wide state of the link. One port per process.

// Written by the UI thread (open/close); read by both threads.
HANDLE g_hPort = INVALID_HANDLE_VALUE;

// The receive ring: a single-producer, single-consumer queue. The receive
// thread stores bytes, then publishes g_rxWrite (release); the UI thread loads
// g_rxWrite (acquire), takes the bytes, then publishes g_rxRead (release).
// Empty when the indices are equal, so it holds at most 255 unread bytes.
unsigned char RxRing[256];
std::atomic<unsigned char> g_rxWrite{0};  // written by the receive thread
std::atomic<unsigned char> g_rxRead{0};   // written by the UI thread
std::atomic<int> g_rxRun{0};              // written by the UI thread
CWinThread* g_pRxThread = nullptr;        // owned by the UI thread

PortNameTable::PortNameTable()
{
    for (int i = 0; i < kCount; ++i)
        m_names[i] = "COM" + std::to_string(i + 1);
}

namespace
{
std::string DevicePath(const char* name)
{
    return std::string("\\\\.\\") + name;
}

UINT __cdecl ReceiveThread(LPVOID)
{
    unsigned char chunk[256];
    while (g_rxRun.load(std::memory_order_acquire) != 0)
    {
        DWORD errors = 0;
        COMSTAT stat = {};
        if (!::ClearCommError(g_hPort, &errors, &stat) || stat.cbInQue == 0)
            continue;

        // Take no more than the ring can hold: the rest stays queued in the
        // driver until the UI thread has made room.
        const unsigned char w = g_rxWrite.load(std::memory_order_relaxed);
        const unsigned char r = g_rxRead.load(std::memory_order_acquire);
        const DWORD space = 255u - static_cast<unsigned char>(w - r);
        const DWORD want = stat.cbInQue < space ? stat.cbInQue : space;
        if (want == 0)
            continue;

        DWORD got = 0;
        if (!::ReadFile(g_hPort, chunk, want, &got, nullptr) || got == 0)
            continue;
        if (got > want)
            got = want;
        for (DWORD i = 0; i < got; ++i)
            RxRing[static_cast<unsigned char>(w + i)] = chunk[i];
        g_rxWrite.store(static_cast<unsigned char>(w + got), std::memory_order_release);
    }
    return 1;
}
}  // namespace

// ---------------------------------------------------------------------------
// Port access

int CUpdateDlg::ProbePort(const char* name)
{
    HANDLE h = ::CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    ::CloseHandle(h);
    return 1;
}

int CUpdateDlg::OpenPort()
{
    // Says so, and closes the port if it was opened.
    auto failed = [this] {
        ShowMessage(kOpenFailedText, kCaption, MB_ICONEXCLAMATION);
        ClosePort();
        return 0;
    };

    char name[64] = {};
    const LRESULT sel = SendItemMessage(IDC_PORT, CB_GETCURSEL);
    if (sel != CB_ERR)
    {
        const LRESULT len = SendItemMessage(IDC_PORT, CB_GETLBTEXTLEN, static_cast<WPARAM>(sel));
        if (len != CB_ERR && len < static_cast<LRESULT>(sizeof name))
            SendItemMessage(IDC_PORT, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(name));
    }

    g_hPort = ::CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_hPort == INVALID_HANDLE_VALUE)
        return failed();

    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(g_hPort, &dcb))
        return failed();
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = kBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fOutX = 0;  // 0x11 is a protocol byte, never flow control
    dcb.fInX = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!::SetCommState(g_hPort, &dcb))
        return failed();

    ::SetCommMask(g_hPort, EV_RXCHAR);
    ::SetupComm(g_hPort, kDriverQueueBytes, kDriverQueueBytes);
    return 1;
}

void CUpdateDlg::ClosePort()
{
    if (g_hPort != INVALID_HANDLE_VALUE)
        ::CloseHandle(g_hPort);
    g_hPort = INVALID_HANDLE_VALUE;
}

void CUpdateDlg::StartReader()
{
    g_rxRead.store(0, std::memory_order_relaxed);
    g_rxWrite.store(0, std::memory_order_relaxed);
    g_rxRun.store(1, std::memory_order_release);
    g_pRxThread = AfxBeginThread(ReceiveThread, nullptr);
}

void CUpdateDlg::StopReader()
{
    g_rxRun.store(0, std::memory_order_release);
    if (!g_pRxThread)
        return;
    ::WaitForSingleObject(g_pRxThread->m_hThread, INFINITE);
    delete g_pRxThread;
    g_pRxThread = nullptr;
}

int CUpdateDlg::WritePort(const BYTE* bytes, DWORD count)
{
    DWORD written = 0;
    if (!::WriteFile(g_hPort, bytes, count, &written, nullptr))
    {
        ShowMessage(SystemErrorText(::GetLastError()).c_str(), kCaption, MB_ICONEXCLAMATION);
        return 0;
    }
    return written == count ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Reading the ring

namespace
{
// Takes the unread bytes oldest first, up to and with the first `stop` byte
// (-1: none stops), copies the first `capacity` of them into dest and drops
// the rest. Returns the number of bytes taken.
int TakeFromRing(BYTE* dest, int capacity, int stop)
{
    int taken = 0;
    unsigned char r = g_rxRead.load(std::memory_order_relaxed);
    const unsigned char w = g_rxWrite.load(std::memory_order_acquire);
    while (r != w)
    {
        const BYTE b = RxRing[r];
        r = static_cast<unsigned char>(r + 1);
        if (taken < capacity)
            dest[taken] = b;
        ++taken;
        if (b == stop)
            break;
    }
    g_rxRead.store(r, std::memory_order_release);
    return taken;
}
}  // namespace

// The ring holds at most 255 bytes: a reply always fits the buffer.
int CUpdateDlg::ReadReply(BYTE* buffer)
{
    return TakeFromRing(buffer, kReplyBufferBytes, ';');
}

int CUpdateDlg::RingEmpty() const
{
    return g_rxRead.load(std::memory_order_relaxed) == g_rxWrite.load(std::memory_order_acquire) ? 1 : 0;
}

// Copies up to `capacity` unread bytes; whatever does not fit is taken from
// the ring and dropped. Returns the number of bytes that arrived.
int CUpdateDlg::DrainRing(BYTE* dest, int capacity)
{
    return TakeFromRing(dest, capacity, -1);
}

DWORD CUpdateDlg::QueuedBytes()
{
    DWORD errors = 0;
    COMSTAT stat = {};
    if (!::ClearCommError(g_hPort, &errors, &stat))
        return 0;
    return stat.cbInQue;
}

// Direct read while the receive thread is stopped: one ReadFile of the
// `count` bytes the caller's wait saw queued (at most the 256-byte
// destination); bytes that came in since stay queued for the next read.
// *pRead is what the read delivered. Returns 1 when it got all it asked.
int CUpdateDlg::ReadPortDirect(BYTE* dest, DWORD count, DWORD* pRead)
{
    *pRead = 0;
    if (count == 0)
        return 1;
    const DWORD want = count < static_cast<DWORD>(kReplyBufferBytes) ? count : kReplyBufferBytes;
    if (!::ReadFile(g_hPort, dest, want, pRead, nullptr))
        *pRead = 0;
    if (*pRead > want)
        *pRead = want;
    return *pRead == want ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Waiting

void CUpdateDlg::ArmTimeout(UINT periodMs)
{
    KillTimer(TIMEOUT_TIMER_ID);
    m_bTimeout = 0;
    SetTimer(TIMEOUT_TIMER_ID, periodMs);
}

void CUpdateDlg::PumpOneMessage()
{
    MSG msg;
    if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        return;
    if (!IsDialogMessage(&msg))
    {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

int CUpdateDlg::WaitForBytes(UINT timeoutMs, const BYTE* expected, int count)
{
    BYTE gathered[kReplyBufferBytes];
    int nGathered = 0;
    bool overflow = false;

    ArmTimeout(timeoutMs);
    for (;;)
    {
        if (!RingEmpty())
        {
            const int room = kReplyBufferBytes - nGathered;
            const int arrived = DrainRing(gathered + nGathered, room);
            if (arrived > room)
            {
                overflow = true;
                nGathered = kReplyBufferBytes;
            }
            else
            {
                nGathered += arrived;
            }
            if (!overflow && nGathered == count)
                return std::memcmp(gathered, expected, static_cast<size_t>(count)) == 0 ? 1 : 0;
        }
        PumpOneMessage();
        if (m_bCancel == 1)
            return 0;
        ::Sleep(kWaitStepMs);
        if (m_bTimeout == 1)
            return 0;
    }
}
