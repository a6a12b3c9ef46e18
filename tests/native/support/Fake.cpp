// The fake Win32 of Fake.h, and the stand-in framework's out-of-line members.
#include "support/Fake.h"

#include "framework/Framework.h"
#include "unit.hpp"
#include "ui/resource.h"

#include <commctrl.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace
{
const char kDevicePrefix[] = "\\\\.\\";
// A virtual-clock loop that polls this often without ever sleeping would
// never see time pass: that is a wait that never ends.
const std::uint64_t kPollsWithoutSleepLimit = 1000000;

struct Batch
{
    std::int64_t at;
    std::uint64_t seq;
    qvtest::Bytes bytes;
    bool cut;
    bool cutOnceRead;  // the cut waits until the PC has read what came before it
};

struct TimerEntry
{
    UINT period;
    std::int64_t due;
};

struct Click
{
    std::int64_t at;
    int id;
};

struct ThreadObject
{
    std::thread thread;
    std::atomic<bool> finished{false};
};

char g_portTag;  // the open port's handle points here

// What ResetWorld starts afresh.
struct Scene
{
    qvtest::ClockMode mode = qvtest::ClockMode::Virtual;
    std::int64_t virtualNow = 0;
    std::chrono::steady_clock::time_point realStart = std::chrono::steady_clock::now();

    std::set<std::string> ports;
    std::string selected;
    bool open = false;
    std::int64_t openedAt = 0;
    bool unplugged = false;
    DCB dcb = {};
    std::deque<std::uint8_t> queue;
    std::vector<Batch> pending;  // sorted by (at, seq)
    std::uint64_t nextSeq = 0;
    qvtest::Responder responder;
    std::unique_ptr<qvsim::Unit> unit;
    std::uint32_t floodSeed = 0;
    std::vector<std::string> unitNotes;
    std::size_t unplugAt = std::numeric_limits<std::size_t>::max();
    DWORD readLimit = 0;
    std::map<std::size_t, qvtest::Bytes> afterCount;  // by write index
    qvtest::Bytes written;
    std::size_t writeCalls = 0;
    qvtest::Bytes handedOut;
    DWORD largestThreadRead = 0;
    DWORD largestDirectRead = 0;

    std::map<UINT_PTR, TimerEntry> timers;
    std::map<UINT_PTR, qvtest::TimerState> timerStates;
    std::vector<Click> clicks;
    std::uint64_t pollsWithoutSleep = 0;

    EXECUTION_STATE executionState = ES_CONTINUOUS;
    int timerPeriods = 0;
    qvtest::Registry registry;
    std::map<int, std::string> texts;  // the dialog's controls' texts, by identifier
    std::function<void()> sleepHook;   // UI thread only
    qvtest::Screen screen;
};

struct World : Scene
{
    std::mutex lock;  // guards the scene and the windows

    std::map<HWND, CWnd*> windows;
    std::map<HWND, int> controls;  // control window -> its identifier
    HWND dialog = nullptr;         // the latest dialog, target of clicks
    std::uintptr_t nextHwnd = 0x100;

    std::set<ThreadObject*> threads;   // live thread objects (UI thread only)
    ThreadObject* receiver = nullptr;  // the thread that runs in lock-step (UI thread only)

    // Virtual clock: exactly one of the UI thread and the receive thread runs;
    // receiverHolds says which, and changes under batonLock.
    std::mutex batonLock;
    std::condition_variable batonChanged;
    std::atomic<bool> receiverHolds{false};
    std::atomic<bool> receiverParked{false};  // waiting in ClearCommError
};

World& W()
{
    static World world;
    return world;
}

thread_local bool t_isReceiver = false;
thread_local bool t_polledSinceRead = false;
thread_local DWORD t_lastError = 0;

std::int64_t NowLocked(const World& w)
{
    if (w.mode == qvtest::ClockMode::Virtual)
        return w.virtualNow;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - w.realStart)
        .count();
}

void ScheduleLocked(World& w, std::int64_t at, const qvtest::Bytes& bytes, bool cut = false, bool cutOnceRead = false)
{
    Batch batch{at, w.nextSeq++, bytes, cut, cutOnceRead};
    auto pos = std::upper_bound(w.pending.begin(), w.pending.end(), batch, [](const Batch& a, const Batch& b) {
        return a.at != b.at ? a.at < b.at : a.seq < b.seq;
    });
    w.pending.insert(pos, std::move(batch));
}

// Lets the unit act on everything due by now, and schedules what it sends.
void AdvanceUnitLocked(World& w, std::int64_t now)
{
    if (!w.unit)
        return;
    for (qvsim::Output& out : w.unit->advance(now * qvsim::kNanosPerMs))
    {
        const std::int64_t at = (out.time + qvsim::kNanosPerMs - 1) / qvsim::kNanosPerMs;
        if (out.kind == qvsim::Output::Kind::Write)
            ScheduleLocked(w, at, out.bytes);
        else if (out.kind == qvsim::Output::Kind::Flood)
            ScheduleLocked(w, at, qvsim::floodContent(out.count, w.floodSeed));
        else if (out.kind == qvsim::Output::Kind::Unplug)
            ScheduleLocked(w, at, {}, true, out.count == 1);
        else if (out.kind == qvsim::Output::Kind::Note)
            w.unitNotes.push_back(out.text);
    }
}

// Moves every batch whose time has come into the driver's queue; what comes
// while the port is closed or the cable is out is lost.
void ArriveLocked(World& w)
{
    const std::int64_t now = NowLocked(w);
    AdvanceUnitLocked(w, now);
    std::size_t n = 0;
    while (n < w.pending.size() && w.pending[n].at <= now)
    {
        if (w.pending[n].cutOnceRead && !w.queue.empty())
            break;
        if (w.pending[n].cut)
            w.unplugged = true;
        else if (w.open && !w.unplugged && w.pending[n].at >= w.openedAt)
            w.queue.insert(w.queue.end(), w.pending[n].bytes.begin(), w.pending[n].bytes.end());
        ++n;
    }
    w.pending.erase(w.pending.begin(), w.pending.begin() + static_cast<std::ptrdiff_t>(n));
}

bool PortHandleLocked(const World& w, HANDLE h)
{
    return w.open && h == static_cast<HANDLE>(&g_portTag);
}

// The checks every transfer call makes first, failing as a driver would: a
// handle that is not the open port, or a pulled cable.
bool PortUsableLocked(const World& w, HANDLE h)
{
    if (!PortHandleLocked(w, h))
    {
        t_lastError = ERROR_INVALID_HANDLE;
        return false;
    }
    if (w.unplugged)
    {
        t_lastError = ERROR_NOT_READY;
        return false;
    }
    return true;
}

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fake Win32: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

// Waits until `ready` holds. A turn usually comes back within microseconds:
// yielding a while first saves the two sleeps and wake-ups of a handover.
template <class Ready>
void AwaitTurn(World& w, Ready ready)
{
    for (int i = 0; i < 200; ++i)
    {
        if (ready())
            return;
        std::this_thread::yield();
    }
    std::unique_lock<std::mutex> l(w.batonLock);
    w.batonChanged.wait(l, ready);
}

void GiveTurn(World& w, bool toReceiver)
{
    {
        std::lock_guard<std::mutex> g(w.batonLock);
        w.receiverHolds = toReceiver;
    }
    w.batonChanged.notify_all();
}

// UI thread: lets the receive thread run until it has nothing to do.
void HandBaton()
{
    World& w = W();
    GiveTurn(w, true);
    AwaitTurn(w, [&w] { return !w.receiverHolds; });
}

// Receive thread: gives the UI thread back its turn and waits for the next.
void ReceiverYield()
{
    World& w = W();
    w.receiverParked = true;
    GiveTurn(w, false);
    AwaitTurn(w, [&w] { return w.receiverHolds.load(); });
    w.receiverParked = false;
}

// UI thread, virtual clock: one turn for the receive thread, unless it is
// parked with nothing queued, when its turn would change nothing.
void RunReceiver()
{
    World& w = W();
    if (!w.receiver)
        return;
    bool idle;
    {
        std::lock_guard<std::mutex> g(w.lock);
        ArriveLocked(w);
        idle = w.queue.empty() || w.unplugged;
    }
    if (w.receiver->finished || (idle && w.receiverParked))
        return;
    HandBaton();
}

// Windows of the fake desktop, for message dispatch.
HWND NewWindow(CWnd* window)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    HWND h = reinterpret_cast<HWND>(w.nextHwnd++);
    w.windows[h] = window;
    return h;
}

void ForgetWindow(HWND hWnd)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    w.windows.erase(hWnd);
    w.controls.erase(hWnd);
    if (w.dialog == hWnd)
        w.dialog = nullptr;
}
}  // namespace

// ---------------------------------------------------------------------------
// The test's side

namespace qvtest
{
void ResetWorld(ClockMode mode)
{
    World& w = W();
    if (!w.threads.empty())
        Fail("ResetWorld with a thread still running");
    std::lock_guard<std::mutex> g(w.lock);
    static_cast<Scene&>(w) = Scene();
    w.mode = mode;
}

std::int64_t NowMs()
{
    std::lock_guard<std::mutex> g(W().lock);
    return NowLocked(W());
}

void AddPort(const std::string& name)
{
    std::lock_guard<std::mutex> g(W().lock);
    W().ports.insert(name);
}

void SelectPort(const std::string& name)
{
    std::lock_guard<std::mutex> g(W().lock);
    W().selected = name;
}

bool PortOpen()
{
    std::lock_guard<std::mutex> g(W().lock);
    return W().open;
}

void DeliverAt(std::int64_t atMs, const Bytes& bytes)
{
    std::lock_guard<std::mutex> g(W().lock);
    ScheduleLocked(W(), atMs, bytes);
}

void Deliver(const Bytes& bytes)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    ArriveLocked(w);
    w.queue.insert(w.queue.end(), bytes.begin(), bytes.end());
}

void SetResponder(Responder responder)
{
    std::lock_guard<std::mutex> g(W().lock);
    W().responder = std::move(responder);
}

const qvsim::Unit& ConnectUnit(const qvsim::Config& config)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    w.unit = std::make_unique<qvsim::Unit>(config);
    w.floodSeed = config.fault.floodSeed;
    w.unitNotes.clear();
    return *w.unit;
}

std::vector<std::string> UnitNotes()
{
    std::lock_guard<std::mutex> g(W().lock);
    return W().unitNotes;
}

void UnplugAtWrite(std::size_t writeIndex)
{
    std::lock_guard<std::mutex> g(W().lock);
    W().unplugAt = writeIndex;
}

void Replug()
{
    std::lock_guard<std::mutex> g(W().lock);
    W().unplugged = false;
    W().unplugAt = std::numeric_limits<std::size_t>::max();
}

void LimitReads(DWORD maxBytes)
{
    std::lock_guard<std::mutex> g(W().lock);
    W().readLimit = maxBytes;
}

void DeliverAfterCount(std::size_t writeIndex, const Bytes& bytes)
{
    std::lock_guard<std::mutex> g(W().lock);
    W().afterCount[writeIndex] = bytes;
}

std::size_t QueuedBytes()
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    ArriveLocked(w);
    return w.queue.size();
}

Bytes Written()
{
    std::lock_guard<std::mutex> g(W().lock);
    return W().written;
}

std::size_t WriteCalls()
{
    std::lock_guard<std::mutex> g(W().lock);
    return W().writeCalls;
}

Bytes HandedOut()
{
    std::lock_guard<std::mutex> g(W().lock);
    return W().handedOut;
}

std::size_t HandedOutCount()
{
    std::lock_guard<std::mutex> g(W().lock);
    return W().handedOut.size();
}

DWORD LargestThreadRead()
{
    std::lock_guard<std::mutex> g(W().lock);
    return W().largestThreadRead;
}

DWORD LargestDirectRead()
{
    std::lock_guard<std::mutex> g(W().lock);
    return W().largestDirectRead;
}

void ClickAt(std::int64_t atMs, int controlId)
{
    std::lock_guard<std::mutex> g(W().lock);
    W().clicks.push_back(Click{atMs, controlId});
}

TimerState Timer(UINT_PTR id)
{
    std::lock_guard<std::mutex> g(W().lock);
    auto it = W().timerStates.find(id);
    return it == W().timerStates.end() ? TimerState() : it->second;
}

EXECUTION_STATE ExecutionState()
{
    std::lock_guard<std::mutex> g(W().lock);
    return W().executionState;
}

void SetExecutionState(EXECUTION_STATE state)
{
    std::lock_guard<std::mutex> g(W().lock);
    W().executionState = state;
}

int TimerPeriodsHeld()
{
    std::lock_guard<std::mutex> g(W().lock);
    return W().timerPeriods;
}

std::size_t LiveThreads()
{
    return W().threads.size();
}

Registry& TheRegistry()
{
    return W().registry;
}

void SetSleepHook(std::function<void()> hook)
{
    W().sleepHook = std::move(hook);
}

Screen& TheScreen()
{
    return W().screen;
}

}  // namespace qvtest

// ---------------------------------------------------------------------------
// Files and the port

HANDLE CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    const std::size_t prefix = sizeof kDevicePrefix - 1;
    const std::string path = lpFileName ? lpFileName : "";
    if (path.compare(0, prefix, kDevicePrefix) != 0 || w.ports.count(path.substr(prefix)) == 0)
    {
        t_lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (w.open)
    {
        t_lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    w.open = true;
    w.openedAt = NowLocked(w);
    w.dcb = DCB{};
    w.dcb.BaudRate = 1200;
    w.dcb.ByteSize = 7;
    return static_cast<HANDLE>(&g_portTag);
}

BOOL CloseHandle(HANDLE hObject)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    if (!PortHandleLocked(w, hObject))
    {
        t_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    // Closing the port discards what the driver held.
    w.open = false;
    w.queue.clear();
    return TRUE;
}

BOOL GetCommState(HANDLE hFile, DCB* lpDCB)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    if (!PortHandleLocked(w, hFile) || !lpDCB)
    {
        t_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    const DWORD length = lpDCB->DCBlength;
    *lpDCB = w.dcb;
    lpDCB->DCBlength = length;
    return TRUE;
}

BOOL SetCommState(HANDLE hFile, DCB* lpDCB)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    if (!PortHandleLocked(w, hFile) || !lpDCB || lpDCB->DCBlength != sizeof(DCB))
    {
        t_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    w.dcb = *lpDCB;
    return TRUE;
}

BOOL SetCommMask(HANDLE hFile, DWORD)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    return PortHandleLocked(w, hFile) ? TRUE : FALSE;
}

BOOL SetupComm(HANDLE hFile, DWORD, DWORD)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    return PortHandleLocked(w, hFile) ? TRUE : FALSE;
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, COMSTAT* lpStat)
{
    World& w = W();
    // In lock-step, a second poll with no read in between means the receive
    // thread has nothing to do: its turn ends here.
    if (t_isReceiver && w.mode == qvtest::ClockMode::Virtual)
    {
        if (t_polledSinceRead)
            ReceiverYield();
        t_polledSinceRead = true;
    }
    bool empty;
    {
        std::lock_guard<std::mutex> g(w.lock);
        ArriveLocked(w);
        if (!PortUsableLocked(w, hFile))
            return FALSE;
        if (lpErrors)
            *lpErrors = 0;
        if (lpStat)
        {
            *lpStat = COMSTAT{};
            lpStat->cbInQue = static_cast<DWORD>(w.queue.size());
        }
        empty = w.queue.empty();
        auto after = w.afterCount.find(w.writeCalls - 1);
        if (!t_isReceiver && !empty && after != w.afterCount.end())
        {
            w.queue.insert(w.queue.end(), after->second.begin(), after->second.end());
            w.afterCount.erase(after);
        }
    }
    // A driver call takes time; a real-clock poller spinning on an empty
    // queue would otherwise starve the threads that feed and drain it.
    if (empty && w.mode == qvtest::ClockMode::Real)
        std::this_thread::yield();
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead, LPOVERLAPPED)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    ArriveLocked(w);
    if (!PortUsableLocked(w, hFile))
        return FALSE;
    DWORD& largest = t_isReceiver ? w.largestThreadRead : w.largestDirectRead;
    largest = std::max(largest, nNumberOfBytesToRead);

    std::size_t take = std::min<std::size_t>(nNumberOfBytesToRead, w.queue.size());
    if (w.readLimit != 0)
        take = std::min<std::size_t>(take, w.readLimit);
    auto* out = static_cast<std::uint8_t*>(lpBuffer);
    for (std::size_t i = 0; i < take; ++i)
    {
        out[i] = w.queue.front();
        w.handedOut.push_back(w.queue.front());
        w.queue.pop_front();
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = static_cast<DWORD>(take);
    if (t_isReceiver && take > 0)
        t_polledSinceRead = false;
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    if (!PortHandleLocked(w, hFile))
    {
        t_lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    const std::size_t index = w.writeCalls++;
    if (index >= w.unplugAt)
        w.unplugged = true;
    if (w.unplugged)
    {
        t_lastError = ERROR_NOT_READY;
        return FALSE;
    }
    const auto* in = static_cast<const std::uint8_t*>(lpBuffer);
    const qvtest::Bytes bytes(in, in + nNumberOfBytesToWrite);
    w.written.insert(w.written.end(), bytes.begin(), bytes.end());
    if (w.unit)
        w.unit->receive(bytes, NowLocked(w) * qvsim::kNanosPerMs);
    if (w.responder)
    {
        const std::int64_t now = NowLocked(w);
        for (const qvtest::Reply& reply : w.responder(bytes, index))
            ScheduleLocked(w, now + reply.delayMs, reply.bytes);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
}

DWORD GetLastError()
{
    return t_lastError;
}

void SetLastError(DWORD dwErrCode)
{
    t_lastError = dwErrCode;
}

DWORD FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize, void*)
{
    const std::string text =
        (dwMessageId == ERROR_NOT_READY ? std::string("Not ready.") : "Error " + std::to_string(dwMessageId) + ".") +
        "\r\n";
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER)
    {
        auto* p = static_cast<char*>(std::malloc(text.size() + 1));
        if (!p)
            return 0;
        std::memcpy(p, text.c_str(), text.size() + 1);
        *reinterpret_cast<LPSTR*>(lpBuffer) = p;
        return static_cast<DWORD>(text.size());
    }
    if (!lpBuffer || nSize <= text.size())
        return 0;
    std::memcpy(lpBuffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

HLOCAL LocalFree(HLOCAL hMem)
{
    std::free(hMem);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Messages and timers

BOOL PeekMessageA(LPMSG lpMsg, HWND, UINT, UINT, UINT wRemoveMsg)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    if (w.mode == qvtest::ClockMode::Virtual && ++w.pollsWithoutSleep > kPollsWithoutSleepLimit)
        Fail("a loop polls messages without ever sleeping: its wait never ends");
    const std::int64_t now = NowLocked(w);
    const bool remove = (wRemoveMsg & PM_REMOVE) != 0;

    // Posted input comes before timer messages, as on Windows.
    for (auto it = w.clicks.begin(); it != w.clicks.end(); ++it)
    {
        if (it->at > now || !w.dialog)
            continue;
        *lpMsg = MSG{};
        lpMsg->hwnd = w.dialog;
        lpMsg->message = WM_COMMAND;
        lpMsg->wParam = MAKEWPARAM(it->id, BN_CLICKED);
        if (remove)
            w.clicks.erase(it);
        return TRUE;
    }
    for (auto& [id, timer] : w.timers)
    {
        if (timer.due > now)
            continue;
        *lpMsg = MSG{};
        lpMsg->hwnd = w.dialog;
        lpMsg->message = WM_TIMER;
        lpMsg->wParam = id;
        if (remove)
            timer.due = now + timer.period;
        return TRUE;
    }
    return FALSE;
}

BOOL TranslateMessage(const MSG*)
{
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* lpMsg)
{
    CWnd* target = nullptr;
    {
        World& w = W();
        std::lock_guard<std::mutex> g(w.lock);
        auto it = w.windows.find(lpMsg->hwnd);
        if (it != w.windows.end())
            target = it->second;
    }
    LRESULT result = 0;
    if (target)
        target->OnWndMsg(lpMsg->message, lpMsg->wParam, lpMsg->lParam, &result);
    return result;
}

BOOL IsDialogMessageA(HWND, LPMSG)
{
    return FALSE;  // no keyboard navigation on the fake desktop
}

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    auto control = w.controls.find(hWnd);
    if (control == w.controls.end())
        return 0;
    if (control->second == IDC_PROGRESS)
    {
        if (Msg == PBM_SETRANGE && lParam == MAKELPARAM(0, 100))
            w.screen.rangeSet = true;
        else if (Msg == PBM_SETPOS)
            w.screen.positions.push_back(static_cast<int>(wParam));
        return 0;
    }
    if (control->second != IDC_PORT)
        return 0;
    // The port list holds the selected name only.
    const std::string& name = w.selected;
    switch (Msg)
    {
    case CB_GETCURSEL:
        return name.empty() ? CB_ERR : 0;
    case CB_GETLBTEXTLEN:
        return wParam == 0 && !name.empty() ? static_cast<LRESULT>(name.size()) : CB_ERR;
    case CB_GETLBTEXT:
        if (wParam != 0 || name.empty())
            return CB_ERR;
        std::memcpy(reinterpret_cast<char*>(lParam), name.c_str(), name.size() + 1);
        return static_cast<LRESULT>(name.size());
    default:
        return 0;
    }
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    if (w.controls.count(hWnd))
        w.screen.enabled[w.controls[hWnd]] = bEnable != FALSE;
    return TRUE;
}

BOOL ShowWindow(HWND hWnd, int nCmdShow)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    auto control = w.controls.find(hWnd);
    if (control != w.controls.end() && control->second == IDC_CAUTION)
    {
        w.screen.caution = nCmdShow != SW_HIDE;
        w.screen.cautionShown = w.screen.cautionShown || w.screen.caution;
    }
    return TRUE;
}

int MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    qvtest::Screen& screen = w.screen;
    screen.messages.push_back(
        qvtest::Message{lpText ? lpText : "", lpCaption ? lpCaption : "", uType, w.executionState, screen.enabled});
    const std::size_t shown = screen.messages.size();
    return shown <= screen.answers.size() ? screen.answers[shown - 1] : IDOK;
}

UINT_PTR SetTimer(HWND, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    const std::int64_t now = NowLocked(w);
    const UINT period = std::max<UINT>(uElapse, USER_TIMER_MINIMUM);
    w.timers[nIDEvent] = TimerEntry{period, now + period};
    qvtest::TimerState& state = w.timerStates[nIDEvent];
    state.armed = true;
    state.lastSetMs = now;
    state.periodMs = period;
    ++state.sets;
    return nIDEvent;
}

BOOL KillTimer(HWND, UINT_PTR uIDEvent)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    w.timerStates[uIDEvent].armed = false;
    return w.timers.erase(uIDEvent) ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------
// Time and threads

void Sleep(DWORD dwMilliseconds)
{
    World& w = W();
    if (w.mode == qvtest::ClockMode::Real)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
        return;
    }
    if (t_isReceiver)
        Fail("the receive thread sleeps: the lock-step clock has no turn for that");
    {
        std::lock_guard<std::mutex> g(w.lock);
        w.virtualNow += dwMilliseconds;
        w.pollsWithoutSleep = 0;
    }
    RunReceiver();
    if (w.sleepHook)
        w.sleepHook();
}

UINT timeBeginPeriod(UINT)
{
    std::lock_guard<std::mutex> g(W().lock);
    ++W().timerPeriods;
    return TIMERR_NOERROR;
}

UINT timeEndPeriod(UINT)
{
    std::lock_guard<std::mutex> g(W().lock);
    --W().timerPeriods;
    return TIMERR_NOERROR;
}

EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE esFlags)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    if (!(esFlags & ES_CONTINUOUS))
        return w.executionState;  // a one-off reset of the idle timers holds nothing
    return std::exchange(w.executionState, esFlags);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD)
{
    World& w = W();
    auto* thread = static_cast<ThreadObject*>(hHandle);
    if (!w.threads.count(thread))
    {
        t_lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    if (w.mode == qvtest::ClockMode::Virtual && thread == w.receiver)
    {
        while (!thread->finished)
            HandBaton();
        w.receiver = nullptr;
    }
    if (thread->thread.joinable())
        thread->thread.join();
    return WAIT_OBJECT_0;
}

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int, UINT, DWORD)
{
    World& w = W();
    auto* object = new ThreadObject;
    w.threads.insert(object);
    if (w.mode == qvtest::ClockMode::Virtual)
    {
        if (w.receiver)
            Fail("a second thread in lock-step");
        w.receiver = object;
        object->thread = std::thread([pfnThreadProc, pParam, object] {
            World& world = W();
            t_isReceiver = true;
            AwaitTurn(world, [&world] { return world.receiverHolds.load(); });
            pfnThreadProc(pParam);
            object->finished = true;
            GiveTurn(world, false);
        });
    }
    else
    {
        object->thread = std::thread([pfnThreadProc, pParam] {
            t_isReceiver = true;
            pfnThreadProc(pParam);
        });
    }
    auto* result = new CWinThread;
    result->m_hThread = static_cast<HANDLE>(object);
    return result;
}

CWinThread::~CWinThread()
{
    World& w = W();
    auto* thread = static_cast<ThreadObject*>(m_hThread);
    if (!thread || !w.threads.count(thread))
        return;
    if (thread->thread.joinable())
        WaitForSingleObject(m_hThread, INFINITE);
    w.threads.erase(thread);
    delete thread;
}

// ---------------------------------------------------------------------------
// The stand-in framework's dialog

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd)
{
    m_hWnd = NewWindow(this);
    std::lock_guard<std::mutex> g(W().lock);
    W().dialog = m_hWnd;
}

CDialog::~CDialog()
{
    for (auto& control : m_controls)
        ForgetWindow(control.second.m_hWnd);
    ForgetWindow(m_hWnd);
}

CWnd* CDialog::GetDlgItem(int nID)
{
    auto it = m_controls.find(nID);
    if (it == m_controls.end())
    {
        it = m_controls.emplace(std::piecewise_construct, std::forward_as_tuple(nID), std::forward_as_tuple()).first;
        it->second.m_hWnd = NewWindow(&it->second);
        std::lock_guard<std::mutex> g(W().lock);
        W().controls[it->second.m_hWnd] = nID;
    }
    return &it->second;
}

// The screen records the two labels at every push, whether or not they changed.
BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    if (!bSaveAndValidate)
    {
        World& w = W();
        std::lock_guard<std::mutex> g(w.lock);
        w.screen.labels.emplace_back(w.texts[IDC_STATUS], w.texts[IDC_PERCENT]);
    }
    return TRUE;
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value)
{
    World& w = W();
    std::lock_guard<std::mutex> g(w.lock);
    if (pDX->m_bSaveAndValidate)
        value = w.texts[nIDC];
    else
        w.texts[nIDC] = value;
}
