// Test support for the Windows-target tests: the simulated unit and the COM
// ports for one test, the registry marker, the update dialog created
// modeless, and one press of Start on it. Failures here fail the test.
#pragma once

#include "ui/UpdateDlg.h"
#include "wine/WineSide.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace qvtest
{

// The COM number and scratch folder ctest gave this test program.
int TestComNumber();
std::string TestTmpDir();  // Unix path

// The payloads built into the program.
std::string BuiltInImage();
std::string BuiltInProgram();

// The simulated QV-6100 for one test: on the test's COM port in the test's
// folder, or on `com` in a folder of its own.
class Sim : public qvtest::Simulator
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
void SetMarkerValue(DWORD value);
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
    qvtest::BoxWatcher boxes;
    CUpdateDlg dlg;

    void SelectPort(const std::string& name);
    std::string LabelText(int id) const;
    int ProgressPos() const;
    bool CautionVisible() const;
    // Keeps the message queue moving for a while (as a modal loop would).
    void Pump(int ms);
};

// The clean-up at the end of a run has happened: port closed, receive
// thread stopped, idle status, empty percentage, bar at 0, caution hidden.
void ExpectIdleAfterRun(const TestDialog& t);

// A test that presses Start on a dialog of its own, against the simulated
// unit.
class RunTest : public ::testing::Test
{
protected:
    // One press of Start: the boxes answered as given (then OK). `log`
    // holds the wire log afterwards.
    void RunOnce(const std::string& simOptions, std::vector<int> answers = {});

    Sim sim;
    TestDialog t;
    qvtest::BoxWatcher& boxes = t.boxes;
    qvsim::WireLogReader log{""};
};

}  // namespace qvtest
