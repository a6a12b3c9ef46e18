// Test support for the Windows-target tests: the simulated unit as a process,
// its wire log, message boxes read and answered from a watcher thread, the
// registry marker, and the update dialog created modeless.
#pragma once

#include "ui/UpdateDlg.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvtest
{

// Microseconds on the clock the simulator stamps its log with.
int64_t NowUs();

// Environment, with a default.
std::string Env(const char* name, const std::string& fallback = std::string());

// A Unix path as Wine's Z: drive sees it.
std::string WinPath(const std::string& unixPath);

// The COM number and scratch folder ctest gave this test program.
int TestComNumber();
std::string TestTmpDir();  // Unix path

std::string ReadFileBytes(const std::string& unixPath);

// The payloads built into the program, as strings.
std::string BuiltInImage();
std::string BuiltInProgram();
bool FileExists(const std::string& unixPath);

// ---------------------------------------------------------------------------
// The wire log written by the simulator.

struct WireEvent
{
    int64_t tUs = 0;
    bool fromPc = false;  // "rx": the unit received it; "tx": the unit sent it
    std::string bytes;    // empty for note lines
    std::string note;     // text after "# "
};

class WireLog
{
public:
    explicit WireLog(const std::string& text);
    std::vector<WireEvent> events;

    std::string FromPc() const;  // every byte the PC sent, in order
    std::string ToPc() const;    // every byte the unit sent, in order
    bool HasNote(const std::string& fragment) const;
    // Time of the first event sending (fromPc) bytes that completes `prefix`
    // of the stream in that direction; -1 if the stream never gets that long.
    int64_t TimeOfByte(bool fromPc, size_t index) const;
};

// ---------------------------------------------------------------------------
// The simulated QV-6100, started for one test on the test's COM port.

class Sim
{
public:
    Sim();
    explicit Sim(int com);
    ~Sim();

    // Starts qv6100-sim with these extra options; returns when the port is
    // published. Fails the test (and returns false) otherwise.
    bool Start(const std::string& options = std::string());
    // Stops it and waits for it to finish writing its files.
    void Stop();

    WireLog Log() const;
    std::string LogPath() const { return m_dir + "/wire.log"; }
    std::string ImagePath() const { return m_dir + "/image.bin"; }
    std::string ProgramPath() const { return m_dir + "/program.bin"; }
    int Com() const { return m_com; }
    std::string PortName() const { return "COM" + std::to_string(m_com); }

private:
    int m_com;
    std::string m_dir;
    PROCESS_INFORMATION m_pi = {};
    bool m_running = false;
};

// Watches a growing wire log for a note, reading only what was added since
// the last look (the log reaches hundreds of kilobytes during a transfer).
class LogTail
{
public:
    explicit LogTail(std::string unixPath) : m_path(std::move(unixPath)) {}
    // True once a note line containing `note` has been written.
    bool Seen(const std::string& note);

private:
    std::string m_path;
    std::string m_tail;
    long m_offset = 0;
};

// Makes the test's COM port exist but fail to open (a link to a folder).
void MakePortUnopenable(int com);
// Makes the test's COM port absent again.
void MakePortAbsent(int com);

// ---------------------------------------------------------------------------
// Message boxes of this process, read and answered by a watcher thread.

enum class BoxIcon
{
    None,
    Information,
    Exclamation,
    Hand,
    Unknown
};

struct SeenBox
{
    std::string text;
    std::string caption;
    BoxIcon icon = BoxIcon::None;
    bool hasCancel = false;
    int64_t shownUs = 0;
};

class BoxWatcher
{
public:
    BoxWatcher();
    ~BoxWatcher();

    // Answers for the next boxes, in order (IDOK or IDCANCEL); IDOK after.
    void Answer(std::vector<int> answers);
    std::vector<SeenBox> Boxes() const;
    std::vector<std::string> Texts() const;
    void Clear();

private:
    void Run();

    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<SeenBox> m_boxes;
    std::vector<int> m_answers;
    std::thread m_thread;  // last: it starts once the rest is built
};

// ---------------------------------------------------------------------------
// Registry marker under HKEY_LOCAL_MACHINE\SOFTWARE\CORVANE\QV-6100 Update.

void DeleteMarkerKey();
void CreateMarkerKey();
void SetMarkerValue(DWORD value);
bool GetMarkerValue(DWORD& value);
// "Data" with any type and bytes, and read back as it is stored.
void SetMarkerRaw(DWORD type, const std::string& bytes);
bool GetMarkerRaw(DWORD& type, std::string& bytes);
// The key may be read but not written (as for a user without administrative
// rights); undone by DeleteMarkerKey.
void MakeMarkerKeyReadOnly();

// ---------------------------------------------------------------------------
// The update dialog, modeless, with the test's port selected.

class TestDialog
{
public:
    TestDialog();
    ~TestDialog();

    // Declared first: it answers the boxes the dialog shows from its creation
    // on (the port list is filled then). Its record starts after creation.
    BoxWatcher boxes;
    CUpdateDlg dlg;

    void SelectPort(const std::string& name);
    std::string LabelText(int id) const;
    int ProgressPos() const;
    bool CautionVisible() const;
    // Posts a click on Cancel after `delayMs`, from another thread.
    void ClickCancelAfter(int delayMs);
    // Posts a click on Cancel once the status label reads `status`.
    void ClickCancelWhenStatus(const std::string& status);
    // Posts a click on Cancel once the simulator's wire log holds a note
    // containing `note`.
    void ClickCancelWhenLogged(const std::string& logPath, const std::string& note);
    // How often the caution label has been shown since construction.
    int CautionShows() const;
    // Keeps the message queue moving for a while (as a modal loop would).
    void Pump(int ms);

private:
    static LRESULT CALLBACK CautionProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    std::thread m_clicker;
};

// The clean-up at the end of a run has happened: port closed, receive
// thread stopped, idle status, empty percentage, bar at 0, caution hidden.
void ExpectIdleAfterRun(const TestDialog& t);

}  // namespace qvtest
