#include "support/Harness.h"

#include "payload/Payload.h"
#include "serial/SerialLink.h"
#include "tests/UserTexts.h"
#include "update/Registry.h"

#include <aclapi.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <atomic>
#include <cstdlib>

namespace qvtest
{
using namespace qvwine;

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

void DeleteMarkerKey()
{
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMarkerKey);
}

void CreateMarkerKey()
{
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, &h, nullptr));
    ::RegCloseKey(h);
}

void SetMarkerValue(DWORD value)
{
    CreateMarkerKey();
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, KEY_SET_VALUE, &h));
    ::RegSetValueExA(h, kMarkerValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    ::RegCloseKey(h);
}

bool GetMarkerValue(DWORD& value)
{
    HKEY h = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof value;
    const LONG rc = ::RegQueryValueExA(h, kMarkerValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    ::RegCloseKey(h);
    return rc == ERROR_SUCCESS;
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

namespace
{
WNDPROC g_cautionProc = nullptr;
std::atomic<int> g_cautionShows{0};
}  // namespace

LRESULT CALLBACK TestDialog::CautionProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SHOWWINDOW && wParam)
        ++g_cautionShows;
    return ::CallWindowProcA(g_cautionProc, hWnd, message, wParam, lParam);
}

int TestDialog::CautionShows() const
{
    return g_cautionShows.load();
}

TestDialog::TestDialog()
{
    dlg.m_bCancel = 0;
    dlg.m_bTimeout = 0;
    dlg.Create();
    HWND caution = ::GetDlgItem(dlg.m_hWnd, IDC_CAUTION);
    g_cautionShows = 0;
    g_cautionProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(caution, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TestDialog::CautionProc)));
    // Without any port the dialog has said so and ended; the tests pick
    // their port themselves.
    boxes.Clear();
    dlg.ShowWindow(SW_SHOW);
}

TestDialog::~TestDialog()
{
    if (m_clicker.joinable())
        m_clicker.join();
    dlg.StopReader();
    dlg.ClosePort();
    dlg.KillTimer(TIMEOUT_TIMER_ID);
    dlg.DestroyWindow();
}

void ExpectIdleAfterRun(const TestDialog& t)
{
    EXPECT_EQ(INVALID_HANDLE_VALUE, g_hPort) << "port closed";
    EXPECT_EQ(0, g_rxRun.load()) << "receive thread stopped";
    EXPECT_EQ(texts::kIdleStatusText, t.LabelText(IDC_STATUS));
    EXPECT_EQ("", t.LabelText(IDC_PERCENT));
    EXPECT_EQ(0, t.ProgressPos());
    EXPECT_FALSE(t.CautionVisible());
}

std::string SystemMessage(DWORD error)
{
    LPSTR text = nullptr;
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
                     nullptr);
    std::string s = text ? text : "";
    if (text)
        ::LocalFree(text);
    return s;
}

void RunTest::RunOnce(const std::string& simOptions, std::vector<int> answers, const std::string& cancelOnNote)
{
    boxes.Clear();
    boxes.Answer(std::move(answers));
    ASSERT_TRUE(sim.Start(baseOptions + " " + simOptions));
    t.SelectPort(sim.PortName());
    t.dlg.m_bCancel = 0;
    if (!cancelOnNote.empty())
        t.ClickCancelWhenLogged(sim.LogPath(), cancelOnNote);
    runStartUs = NowUs();
    t.dlg.RunUpdate();
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

void TestDialog::ClickCancelAfter(int delayMs)
{
    const int64_t at = NowUs() + delayMs * 1000LL;
    ClickCancelOnce([at] { return NowUs() >= at; });
}

void TestDialog::ClickCancelWhenStatus(const std::string& status)
{
    HWND label = ::GetDlgItem(dlg.m_hWnd, IDC_STATUS);
    ClickCancelOnce([label, status] {
        // WM_GETTEXT without waiting on the busy UI thread.
        char text[256];
        DWORD_PTR n = 0;
        return ::SendMessageTimeoutA(label, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                                     100, &n) &&
               status == text;
    });
}

void TestDialog::ClickCancelWhenLogged(const std::string& logPath, const std::string& note)
{
    ClickCancelOnce([log = LogTail(logPath), note]() mutable { return log.Seen(note); });
}

void TestDialog::ClickCancelOnce(std::function<bool()> ready)
{
    if (m_clicker.joinable())
        m_clicker.join();
    HWND hDlg = dlg.m_hWnd;
    m_clicker = std::thread([hDlg, ready] {
        for (const int64_t deadline = NowUs() + 120000000; NowUs() < deadline && !ready();)
            ::Sleep(2);
        ::PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_RUN, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(hDlg, IDC_CANCEL_RUN)));
    });
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
