// Test support for the Windows-target tests: the simulated unit and the COM
// ports for one test, the registry marker, the update dialog created
// modeless, and one press of Start on it. Failures here fail the test.
#pragma once

#include "ui/UpdateDlg.h"
#include "wine/WineSide.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace qvtest
{

// The COM number and scratch folder ctest gave this test program.
int TestComNumber();
std::string TestTmpDir();  // Unix path

// The payloads built into the program, as strings.
std::string BuiltInImage();
std::string BuiltInProgram();

// The simulated QV-6100 for one test: on the test's COM port in the test's
// folder, or on `com` in a folder of its own.
class Sim : public qvwine::Simulator
{
public:
    Sim();
    explicit Sim(int com);
    ~Sim();

    // Starts it with these extra options; returns when the port is published.
    // Fails the test (and returns false) otherwise.
    bool Start(const std::string& options = std::string());
    // Stops it and waits for it to finish writing its files.
    void Stop();
};

// Makes the test's COM port exist but fail to open (a link to a folder).
void MakePortUnopenable(int com);
// Makes the test's COM port absent again.
void MakePortAbsent(int com);

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
    qvwine::BoxWatcher boxes;
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
    // Posts a click on Cancel, from another thread, once `ready` holds (or
    // after two minutes).
    void ClickCancelOnce(std::function<bool()> ready);
    static LRESULT CALLBACK CautionProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    std::thread m_clicker;
};

// The clean-up at the end of a run has happened: port closed, receive
// thread stopped, idle status, empty percentage, bar at 0, caution hidden.
void ExpectIdleAfterRun(const TestDialog& t);

// The system's own text for an error code, as a message box shows it.
std::string SystemMessage(DWORD error);
const DWORD kErrorNotReady = 21;  // what a write to a pulled cable fails with

// A test that presses Start on a dialog of its own, against the simulated
// unit started with `baseOptions` and the run's own options.
class RunTest : public ::testing::Test
{
protected:
    explicit RunTest(std::string options = std::string()) : baseOptions(std::move(options)) {}

    // One press of Start: the boxes answered as given (then OK); with
    // `cancelOnNote`, Cancel once the unit logs that note. `log` holds the
    // wire log afterwards.
    void RunOnce(const std::string& simOptions, std::vector<int> answers = {},
                 const std::string& cancelOnNote = std::string());

    std::string baseOptions;
    Sim sim;
    TestDialog t;
    qvwine::BoxWatcher& boxes = t.boxes;
    qvsim::WireLogReader log{""};
    int64_t runStartUs = 0;
};

}  // namespace qvtest
