#include "support/Harness.h"

#include "payload/Payload.h"
#include "serial/SerialLink.h"
#include "tests/UserTexts.h"
#include "update/Registry.h"

#include <aclapi.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <cstdlib>

namespace qvtest
{

int TestComNumber()
{
    return std::atoi(Env("QV_TEST_COM", "5").c_str());
}

std::string TestTmpDir()
{
    std::string dir = Env("QV_TEST_TMP", Env("QV_BUILD_DIR", "/tmp") + "/wine/tmp/default");
    MakeDir(dir);
    return dir;
}

std::string BuiltInImage()
{
    return std::string(reinterpret_cast<const char*>(FirmwareImage), kFirmwareImageBytes);
}

std::string BuiltInProgram()
{
    return std::string(reinterpret_cast<const char*>(WriteControlProgram), kWriteControlProgramBytes);
}

// ---------------------------------------------------------------------------

Sim::Sim() : Simulator(TestComNumber(), TestTmpDir()) {}

Sim::Sim(int com) : Simulator(com, TestTmpDir() + "/sim" + std::to_string(com)) {}

Sim::~Sim()
{
    Stop();
}

bool Sim::Start(const std::string& options)
{
    std::string error;
    if (Simulator::Start(options, 300, error))
        return true;
    ADD_FAILURE() << error;
    return false;
}

void Sim::Stop()
{
    if (!Simulator::Stop())
        ADD_FAILURE() << "the simulator did not stop";
}

namespace
{
std::string ComLinkUnixPath(int com)
{
    return Env("WINEPREFIX") + "/dosdevices/com" + std::to_string(com);
}

// Points the COM link at target (on the Unix side: Wine cannot make symbolic
// links) and waits until opening the port fails with expectedError.
void Relink(int com, const std::string& target, DWORD expectedError)
{
    ASSERT_TRUE(StartUnix("exec /bin/ln -sfn " + target + " " + ComLinkUnixPath(com)));
    const std::string path = "\\\\.\\COM" + std::to_string(com);
    const int64_t deadline = NowUs() + 5000000;
    for (;;)
    {
        HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const DWORD error = ::GetLastError();
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
        else if (error == expectedError)
            return;
        ASSERT_LT(NowUs(), deadline) << "COM" << com << " did not change to " << target;
        ::Sleep(2);
    }
}
}  // namespace

void MakePortUnopenable(int com)
{
    Relink(com, "/", ERROR_ACCESS_DENIED);
}

void MakePortAbsent(int com)
{
    Relink(com, "/nonexistent/qv6100-absent", ERROR_FILE_NOT_FOUND);
}

// ---------------------------------------------------------------------------

namespace
{
void CreateMarkerKey()
{
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, &h, nullptr));
    ::RegCloseKey(h);
}
}  // namespace

void DeleteMarkerKey()
{
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMarkerKey);
}


void SetMarkerValue(DWORD value)
{
    SetMarkerRaw(REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value));
}

void SetMarkerRaw(DWORD type, const std::string& bytes)
{
    CreateMarkerKey();
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, KEY_SET_VALUE, &h));
    EXPECT_EQ(ERROR_SUCCESS, ::RegSetValueExA(h, kMarkerValue, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                              static_cast<DWORD>(bytes.size())));
    ::RegCloseKey(h);
}

bool GetMarkerRaw(DWORD& type, std::string& bytes)
{
    HKEY h = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
        return false;
    char buf[256];
    DWORD size = sizeof buf;
    const LONG rc = ::RegQueryValueExA(h, kMarkerValue, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    ::RegCloseKey(h);
    if (rc != ERROR_SUCCESS)
        return false;
    bytes.assign(buf, size);
    return true;
}

void MakeMarkerKeyReadOnly()
{
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, WRITE_DAC | READ_CONTROL, &h));
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)(A;;KR;;;BA)(A;;KR;;;SY)",
                                                                     SDDL_REVISION_1, &sd, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, ::RegSetKeySecurity(h, DACL_SECURITY_INFORMATION, sd));
    ::LocalFree(sd);
    ::RegCloseKey(h);
}

// ---------------------------------------------------------------------------

TestDialog::TestDialog()
{
    dlg.Create();
    // Without any port the dialog has said so and ended; the tests pick
    // their port themselves.
    boxes.Clear();
    dlg.ShowWindow(SW_SHOW);
}

TestDialog::~TestDialog()
{
    dlg.StopReader();
    dlg.ClosePort();
    dlg.KillTimer(TIMEOUT_TIMER_ID);
    dlg.DestroyWindow();
}

void ExpectIdleAfterRun(const TestDialog& t)
{
    EXPECT_EQ(INVALID_HANDLE_VALUE, g_hPort) << "port closed";
    EXPECT_EQ(0, g_rxRun.load()) << "receive thread stopped";
    EXPECT_EQ(qvtest::kIdleStatusText, t.LabelText(IDC_STATUS));
    EXPECT_EQ("", t.LabelText(IDC_PERCENT));
    EXPECT_EQ(0, t.ProgressPos());
    EXPECT_FALSE(t.CautionVisible());
}

void RunTest::RunOnce(const std::string& simOptions, std::vector<int> answers)
{
    boxes.Clear();
    boxes.Answer(std::move(answers));
    ASSERT_TRUE(sim.Start(simOptions));
    t.SelectPort(sim.PortName());
    t.dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), 0);
    sim.Stop();
    log = sim.Log();
}

void TestDialog::SelectPort(const std::string& name)
{
    SelectOrAdd(::GetDlgItem(dlg.m_hWnd, IDC_PORT), name);
}

std::string TestDialog::LabelText(int id) const
{
    char buf[512] = {};
    ::GetDlgItemTextA(dlg.m_hWnd, id, buf, sizeof buf);
    return buf;
}

int TestDialog::ProgressPos() const
{
    return static_cast<int>(::SendMessageA(::GetDlgItem(dlg.m_hWnd, IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

bool TestDialog::CautionVisible() const
{
    return ::IsWindowVisible(::GetDlgItem(dlg.m_hWnd, IDC_CAUTION)) != FALSE;
}

void TestDialog::Pump(int ms)
{
    const int64_t end = NowUs() + ms * 1000LL;
    while (NowUs() < end)
    {
        dlg.PumpOneMessage();
        ::Sleep(1);
    }
}

}  // namespace qvtest
