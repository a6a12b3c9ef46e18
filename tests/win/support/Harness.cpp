#include "support/Harness.h"

#include "gui/Driver.h"
#include "payload/Payload.h"
#include "serial/SerialLink.h"
#include "update/Registry.h"

#include <aclapi.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qvtest
{

int64_t NowUs()
{
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return static_cast<int64_t>(static_cast<double>(c.QuadPart) * 1e6 / static_cast<double>(f.QuadPart));
}

std::string Env(const char* name, const std::string& fallback)
{
    char buf[1024];
    DWORD n = ::GetEnvironmentVariableA(name, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf)
        return fallback;
    return std::string(buf, n);
}

std::string WinPath(const std::string& unixPath)
{
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

int TestComNumber()
{
    return std::atoi(Env("QV_TEST_COM", "5").c_str());
}

std::string TestTmpDir()
{
    std::string dir = Env("QV_TEST_TMP", Env("QV_BUILD_DIR", "/tmp") + "/wine/tmp/default");
    ::CreateDirectoryA(WinPath(dir).c_str(), nullptr);
    return dir;
}

std::string ReadFileBytes(const std::string& unixPath)
{
    std::ifstream in(WinPath(unixPath), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool FileExists(const std::string& unixPath)
{
    return ::GetFileAttributesA(WinPath(unixPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---------------------------------------------------------------------------

WireLog::WireLog(const std::string& text)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
    {
        if (line.empty())
            continue;
        WireEvent e;
        if (line.compare(0, 2, "# ") == 0)
        {
            e.note = line.substr(2);
            events.push_back(e);
            continue;
        }
        std::istringstream fields(line);
        std::string dir;
        long long t = 0;
        fields >> t >> dir;
        e.tUs = t;
        e.fromPc = dir == "rx";
        std::string hex;
        while (fields >> hex)
            e.bytes.push_back(static_cast<char>(std::strtoul(hex.c_str(), nullptr, 16)));
        events.push_back(e);
    }
}

std::string WireLog::FromPc() const
{
    std::string s;
    for (const auto& e : events)
        if (e.note.empty() && e.fromPc)
            s += e.bytes;
    return s;
}

std::string WireLog::ToPc() const
{
    std::string s;
    for (const auto& e : events)
        if (e.note.empty() && !e.fromPc)
            s += e.bytes;
    return s;
}

bool WireLog::HasNote(const std::string& fragment) const
{
    for (const auto& e : events)
        if (!e.note.empty() && e.note.find(fragment) != std::string::npos)
            return true;
    return false;
}

int64_t WireLog::TimeOfByte(bool fromPc, size_t index) const
{
    size_t seen = 0;
    for (const auto& e : events)
    {
        if (!e.note.empty() || e.fromPc != fromPc)
            continue;
        seen += e.bytes.size();
        if (seen > index)
            return e.tUs;
    }
    return -1;
}

// ---------------------------------------------------------------------------

Sim::Sim() : m_com(TestComNumber()), m_dir(TestTmpDir()) {}

Sim::Sim(int com) : m_com(com), m_dir(TestTmpDir() + "/sim" + std::to_string(com))
{
    ::CreateDirectoryA(WinPath(m_dir).c_str(), nullptr);
}

Sim::~Sim()
{
    Stop();
}

bool Sim::Start(const std::string& options)
{
    Stop();
    const std::string exe = Env("QV_SIM");
    const std::string prefix = Env("WINEPREFIX");
    if (exe.empty() || prefix.empty())
    {
        ADD_FAILURE() << "QV_SIM and WINEPREFIX must name the simulator and the Wine prefix";
        return false;
    }
    const std::string ready = m_dir + "/ready";
    const std::string stop = m_dir + "/stop";
    ::DeleteFileA(WinPath(ready).c_str());
    ::DeleteFileA(WinPath(stop).c_str());
    ::DeleteFileA(WinPath(LogPath()).c_str());
    ::DeleteFileA(WinPath(ImagePath()).c_str());
    ::DeleteFileA(WinPath(ProgramPath()).c_str());

    // Through a shell that detaches the simulator's output: it must not hold
    // the test runner's pipes open should the test be killed.
    std::string cmd = "/bin/sh -c \"exec " + exe + " --prefix " + prefix + " --com " + std::to_string(m_com) + " --log " + LogPath() +
                      " --ready " + ready + " --stop-file " + stop + " --image-out " + ImagePath() +
                      " --program-out " + ProgramPath() + " --lifetime 300 " + options + " </dev/null >" + m_dir +
                      "/sim.out 2>&1\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_pi))
    {
        ADD_FAILURE() << "cannot start the simulator: " << cmd << " (error " << ::GetLastError() << ")";
        return false;
    }
    m_running = true;
    const int64_t deadline = NowUs() + 10000000;
    while (NowUs() < deadline)
    {
        if (FileExists(ready))
            return true;
        ::Sleep(5);
    }
    ADD_FAILURE() << "the simulator did not publish COM" << m_com << ": " << cmd;
    Stop();
    return false;
}

void Sim::Stop()
{
    if (!m_running)
        return;
    m_running = false;
    const std::string stop = m_dir + "/stop";
    HANDLE h = ::CreateFileA(WinPath(stop).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
    // Wine gives no waitable handle for a Unix process: the simulator's last
    // words are its "stopped" note, written once its files are complete.
    const int64_t deadline = NowUs() + 10000000;
    while (!Log().HasNote("stopped") && NowUs() < deadline)
        ::Sleep(5);
    if (!Log().HasNote("stopped"))
        ADD_FAILURE() << "the simulator did not stop";
    m_pi = {};
}

WireLog Sim::Log() const
{
    return WireLog(ReadFileBytes(LogPath()));
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
    std::string cmd = "/bin/ln -sfn " + target + " " + ComLinkUnixPath(com);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    ASSERT_TRUE(::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
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

BoxWatcher::BoxWatcher() : m_thread([this] { Run(); }) {}

BoxWatcher::~BoxWatcher()
{
    m_stop = true;
    m_thread.join();
}

void BoxWatcher::Answer(std::vector<int> answers)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers = std::move(answers);
}

std::vector<SeenBox> BoxWatcher::Boxes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boxes;
}

std::vector<std::string> BoxWatcher::Texts() const
{
    std::vector<std::string> texts;
    for (const auto& b : Boxes())
        texts.push_back(b.text);
    return texts;
}

void BoxWatcher::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boxes.clear();
    m_answers.clear();
}

namespace
{
BoxIcon IconOf(HWND box)
{
    const std::string name = qvgui::MessageBoxIcon(box);
    if (name == "information")
        return BoxIcon::Information;
    if (name == "exclamation")
        return BoxIcon::Exclamation;
    if (name == "hand")
        return BoxIcon::Hand;
    return name == "none" ? BoxIcon::None : BoxIcon::Unknown;
}
}  // namespace

void BoxWatcher::Run()
{
    while (!m_stop)
    {
        struct
        {
            HWND found;
        } f = {qvgui::FindMessageBox(::GetCurrentProcessId(), nullptr)};
        if (!f.found)
        {
            ::Sleep(2);
            continue;
        }
        SeenBox seen;
        seen.shownUs = NowUs();
        char buf[2048] = {};
        ::GetDlgItemTextA(f.found, 0xFFFF, buf, sizeof buf);
        seen.text = buf;
        ::GetWindowTextA(f.found, buf, sizeof buf);
        seen.caption = buf;
        seen.icon = IconOf(f.found);
        seen.hasCancel = ::GetDlgItem(f.found, IDCANCEL) != nullptr;

        int answer = IDOK;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_boxes.size() < m_answers.size())
                answer = m_answers[m_boxes.size()];
            m_boxes.push_back(seen);
        }
        HWND button = ::GetDlgItem(f.found, answer);
        ::PostMessageA(f.found, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        // Wait for this box to go before looking for the next one.
        for (int i = 0; i < 5000 && ::IsWindow(f.found) && ::IsWindowVisible(f.found); ++i)
            ::Sleep(1);
    }
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
    EXPECT_EQ("Select a serial port, then click OK to continue.", t.LabelText(IDC_STATUS));
    EXPECT_EQ("", t.LabelText(IDC_PERCENT));
    EXPECT_EQ(0, t.ProgressPos());
    EXPECT_FALSE(t.CautionVisible());
}

void TestDialog::SelectPort(const std::string& name)
{
    HWND list = ::GetDlgItem(dlg.m_hWnd, IDC_PORT);
    LRESULT i = ::SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                               reinterpret_cast<LPARAM>(name.c_str()));
    if (i == CB_ERR)
        i = ::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    ::SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
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
    if (m_clicker.joinable())
        m_clicker.join();
    HWND hDlg = dlg.m_hWnd;
    m_clicker = std::thread([hDlg, delayMs] {
        ::Sleep(static_cast<DWORD>(delayMs));
        ::PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_RUN, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(hDlg, IDC_CANCEL_RUN)));
    });
}

void TestDialog::ClickCancelWhenStatus(const std::string& status)
{
    if (m_clicker.joinable())
        m_clicker.join();
    HWND hDlg = dlg.m_hWnd;
    m_clicker = std::thread([hDlg, status] {
        const int64_t deadline = NowUs() + 120000000;
        HWND label = ::GetDlgItem(hDlg, IDC_STATUS);
        char text[256];
        while (NowUs() < deadline)
        {
            // WM_GETTEXT without waiting on the busy UI thread.
            DWORD_PTR n = 0;
            if (::SendMessageTimeoutA(label, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                      SMTO_NORMAL, 100, &n) &&
                status == text)
                break;
            ::Sleep(5);
        }
        ::PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_RUN, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(hDlg, IDC_CANCEL_RUN)));
    });
}

void TestDialog::ClickCancelWhenLogged(const std::string& logPath, const std::string& note)
{
    if (m_clicker.joinable())
        m_clicker.join();
    HWND hDlg = dlg.m_hWnd;
    m_clicker = std::thread([hDlg, logPath, note] {
        const int64_t deadline = NowUs() + 120000000;
        LogTail log(logPath);
        while (NowUs() < deadline && !log.Seen(note))
            ::Sleep(2);
        ::PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_RUN, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(hDlg, IDC_CANCEL_RUN)));
    });
}

bool LogTail::Seen(const std::string& note)
{
    const std::string wanted = "# " + note;
    if (FILE* f = std::fopen(WinPath(m_path).c_str(), "rb"))
    {
        std::fseek(f, m_offset, SEEK_SET);
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        {
            m_tail.append(buf, n);
            m_offset += static_cast<long>(n);
        }
        std::fclose(f);
    }
    if (m_tail.find(wanted) != std::string::npos)
        return true;
    if (m_tail.size() > wanted.size())
        m_tail.erase(0, m_tail.size() - wanted.size());
    return false;
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
