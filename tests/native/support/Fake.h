// The world the product's code sees when built natively: one fake COM port
// with the device's side scripted by the test, a clock, window timers and a
// message queue, the power and timer requests, the dialog's screen as its
// controls and message boxes show it, and the registry record.
//
// Two clocks. Virtual: Sleep(n) moves the clock n ms at once, and the receive
// thread runs only while the UI thread sleeps or waits for it, in lock-step,
// so every run of a test is the same run. Real: a steady clock, real sleeps,
// threads at full speed (for ThreadSanitizer).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class CWnd;
namespace qvsim
{
struct Config;
class Unit;
}  // namespace qvsim

namespace qvtest
{
using Bytes = std::vector<std::uint8_t>;

enum class ClockMode
{
    Virtual,
    Real,
};

// A fresh world: no ports, nothing queued or scheduled, no timers, an empty
// screen, the clock at 0. No receive thread may be running.
void ResetWorld(ClockMode mode);
std::int64_t NowMs();

// ---- The port ----------------------------------------------------------------
void AddPort(const std::string& name);     // a port CreateFileA can open ("COM3")
void SelectPort(const std::string& name);  // the dialog's port list selection; "" for none
bool PortOpen();

// The device sends bytes at a time of the clock (at once if it has passed).
void DeliverAt(std::int64_t atMs, const Bytes& bytes);
void Deliver(const Bytes& bytes);

// The device's answers to what the PC writes: called for every successful
// WriteFile with the bytes and the write's index (0 for the first), it returns
// what to send and how long after the write. It runs under the port's lock and
// must not call back into the port.
struct Reply
{
    std::int64_t delayMs;
    Bytes bytes;
};
using Responder = std::function<std::vector<Reply>(const Bytes& written, std::size_t writeIndex)>;
void SetResponder(Responder responder);

// The simulator's protocol core as the device, until the next ResetWorld or
// Connect: it reads every byte the PC writes when the PC writes it, and what
// it sends (answers, floods, a pulled cable) arrives at the times it gives.
const qvsim::Unit& ConnectUnit(const qvsim::Config& config);
// The notes of its wire log so far ("fault ...", "error: ...").
std::vector<std::string> UnitNotes();

// From the write with this index on, the cable is out: WriteFile and
// ClearCommError fail with ERROR_NOT_READY, whose system text is "Not ready.".
void UnplugAtWrite(std::size_t writeIndex);
void Replug();  // the cable is back
// At most this many bytes per ReadFile (0: all that is asked for and queued).
void LimitReads(DWORD maxBytes);
// These bytes join the driver's queue right after the first ClearCommError
// that finds bytes queued after the write with this index, on a thread other
// than the receive thread: between a direct reader's count and its read.
void DeliverAfterCount(std::size_t writeIndex, const Bytes& bytes);

std::size_t QueuedBytes();  // in the driver's queue now
Bytes Written();            // every byte the PC wrote, in order
std::size_t WriteCalls();   // successful and failed
Bytes HandedOut();          // every byte ReadFile gave the PC, in order
std::size_t HandedOutCount();
DWORD LargestThreadRead();  // largest ReadFile request from the receive thread
DWORD LargestDirectRead();  // largest ReadFile request from any other thread

// ---- Timers and messages --------------------------------------------------------
// A click on a dialog button that the message pump delivers from this time on.
void ClickAt(std::int64_t atMs, int controlId);

struct TimerState
{
    bool armed = false;
    std::int64_t lastSetMs = 0;  // clock at the last SetTimer
    UINT periodMs = 0;           // its period, after Windows' minimum of 10 ms
    std::size_t sets = 0;        // SetTimer calls since ResetWorld
};
TimerState Timer(UINT_PTR id);

// What the program asked of the power manager for its thread: ES_CONTINUOUS
// alone when nothing is held.
EXECUTION_STATE ExecutionState();
// What the thread reports before the run's request (Windows: ES_CONTINUOUS).
void SetExecutionState(EXECUTION_STATE state);
// timeBeginPeriod calls not yet matched by timeEndPeriod.
int TimerPeriodsHeld();
// Threads started and not yet waited for and deleted.
std::size_t LiveThreads();

// Called after every Sleep of the virtual clock; set it on the UI thread.
void SetSleepHook(std::function<void()> hook);

// ---- The screen -------------------------------------------------------------------
struct Message
{
    std::string text;
    std::string caption;
    UINT type;
    EXECUTION_STATE awake;  // what the thread asked of the power manager while it showed
    std::map<int, bool> enabled;  // the controls' states while it showed
};

struct Screen
{
    bool rangeSet = false;                                    // the progress bar's range was set
    std::vector<int> positions;                               // every position the bar was set to
    std::vector<std::pair<std::string, std::string>> labels;  // status and percent at every push to the labels
    bool caution = false;                                     // the caution label shows
    bool cautionShown = false;                                // it showed at some time
    std::map<int, bool> enabled;                              // each control as the dialog last enabled it
    std::vector<Message> messages;
    std::vector<int> answers;  // what the message boxes return, in turn; IDOK once these run out
};
Screen& TheScreen();

// ---- The registry record of update/Registry.h (support/Dialog.cpp) ------------------
struct Registry
{
    bool hasValue = false;  // "Data" is there to be read
    DWORD value = 0;
    bool writable = true;  // the program may store it
};
Registry& TheRegistry();
}  // namespace qvtest
