// What the run tools, the Windows-target tests and the benchmarks share under
// Wine: the clock, the environment, paths and files, Unix commands, the
// simulated unit as a process, and finding, reading and answering message
// boxes.
#pragma once

#include "sim/wire_log_reader.hpp"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qvtest
{

// Microseconds of QueryPerformanceCounter. Under Wine it counts
// CLOCK_MONOTONIC_RAW, the clock the simulator stamps its wire log with.
int64_t NowUs();
inline int64_t NowMs()
{
    return NowUs() / 1000;
}

std::string Env(const char* name, const std::string& fallback = std::string());

// A Unix path as Wine's Z: drive sees it; Windows paths pass unchanged.
std::string WinPath(const std::string& path);
// UTF-8 (paths too: a folder name may lie outside the ANSI code page) for
// the wide Windows calls.
std::wstring Wide(const std::string& utf8);

// Polls `done` every `pollMs` until it holds or `timeoutMs` have passed;
// whether it held.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 5);

// Files by Unix or Windows path.
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
void MakeDir(const std::string& path);
void TouchFile(const std::string& path);
void RemoveFile(const std::string& path);

// Starts `/bin/sh -c "<command>"` and returns without waiting for it (Wine
// gives no waitable handle for a Unix process).
bool StartUnix(const std::string& command);
// Runs a Unix command line, its output discarded, and waits for `doneFile`
// to appear.
bool RunUnix(const std::string& command, const std::string& doneFile, int timeoutMs);

// ---------------------------------------------------------------------------
// The simulated QV-6100: the native simulator, publishing COM<com> in this
// prefix, with its files in `dir` (a Unix path).

class Simulator
{
public:
    Simulator(int com, const std::string& dir);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Returns once the port is published; on failure `error` says why.
    // QV_SIM names the simulator, else the one the build configured.
    bool Start(const std::string& options, int lifetimeSec, std::string& error);
    // Asks it to stop and waits for its "# stopped" note (its files are then
    // complete). False if it did not stop within 10 s.
    bool Stop();

    qvsim::WireLogReader Log() const;
    std::string LogPath() const { return m_dir + "/wire.log"; }
    std::string ImagePath() const { return m_dir + "/image.bin"; }
    std::string ProgramPath() const { return m_dir + "/program.bin"; }
    int Com() const { return m_com; }
    std::string PortName() const { return "COM" + std::to_string(m_com); }

private:
    bool LogEndsStopped() const;

    int m_com;
    std::string m_dir;
    bool m_running = false;
};

// ---------------------------------------------------------------------------
// Windows and message boxes

// Never blocks on a busy program.
std::string WindowText(HWND hWnd);
// A visible top-level window of process pid, other than `exclude`, that
// `match` accepts; or nullptr.
HWND FindTopWindow(DWORD pid, const std::function<bool(HWND)>& match, HWND exclude = nullptr);

enum class BoxIcon
{
    None,
    Information,
    Exclamation,
    Hand,
    Unknown
};

struct Box
{
    HWND hWnd = nullptr;
    std::string caption;
    std::string text;
    HWND textControl = nullptr;  // the static that shows `text`
    BoxIcon icon = BoxIcon::None;
    bool hasCancel = false;
    int64_t shownUs = 0;  // when it was found
};

// A message box, or a box like it such as the About box: a dialog with a
// static text that has no identifier of its own.
bool IsMessageBox(HWND hWnd);
// A visible message box of process pid other than `exclude`, or nullptr.
HWND FindMessageBox(DWORD pid, HWND exclude = nullptr);
// Reads a box's caption, text, icon and buttons. For a box of another
// process it asks that process only with time-outs; for a box of this
// process, call it on the box's own thread.
Box ReadBox(HWND box);
// Presses one of the box's buttons and waits up to 5 s for the box to go.
void AnswerBox(HWND box, int button);
// Selects `text` in a combo box of this process, adding it if missing.
void SelectOrAdd(HWND combo, const std::string& text);

// Reads and answers the message boxes that the thread which creates it shows
// from then on. A hook on that thread sees each box once it is set up, reads
// it there and posts the answer, so nothing ever waits on a thread that sits
// in a box's modal loop.
class BoxWatcher
{
public:
    BoxWatcher();
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    // Answers for the next boxes, in order (IDOK or IDCANCEL); IDOK after.
    void Answer(std::vector<int> answers);
    std::vector<Box> Boxes() const;
    std::vector<std::string> Texts() const;
    void Clear();

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    void Seen(HWND box);

    HHOOK m_hook = nullptr;
    mutable std::mutex m_mutex;
    std::vector<Box> m_boxes;
    std::vector<int> m_answers;
};

}  // namespace qvtest
