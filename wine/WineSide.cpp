#include "wine/WineSide.h"

#include <algorithm>
#include <cstdio>
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
    const DWORD n = ::GetEnvironmentVariableA(name, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf)
        return fallback;
    return std::string(buf, n);
}

std::string WinPath(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    std::string p = "Z:" + path;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

std::wstring Wide(const std::string& utf8)
{
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(WinPath(path), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesW(Wide(WinPath(path)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeDir(const std::string& path)
{
    ::CreateDirectoryA(WinPath(path).c_str(), nullptr);
}

void TouchFile(const std::string& path)
{
    HANDLE h = ::CreateFileA(WinPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
}

void RemoveFile(const std::string& path)
{
    ::DeleteFileA(WinPath(path).c_str());
}

bool StartUnix(const std::string& command)
{
    const std::string cmd = "/bin/sh -c \"" + command + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs)
{
    for (const int64_t end = NowMs() + timeoutMs; !done(); ::Sleep(static_cast<DWORD>(pollMs)))
        if (NowMs() >= end)
            return false;
    return true;
}

bool RunUnix(const std::string& command, const std::string& doneFile, int timeoutMs)
{
    RemoveFile(doneFile);
    if (!StartUnix(command + " </dev/null >/dev/null 2>&1; touch " + doneFile))
        return false;
    return WaitUntil([&] { return FileExists(doneFile); }, timeoutMs, 10);
}

// ---------------------------------------------------------------------------

Simulator::Simulator(int com, const std::string& dir) : m_com(com), m_dir(dir)
{
    MakeDir(m_dir);
}

Simulator::~Simulator()
{
    Stop();
}

bool Simulator::Start(const std::string& options, int lifetimeSec, std::string& error)
{
    Stop();
    const std::string exe = Env("QV_SIM", QV_DEFAULT_SIM);
    const std::string prefix = Env("WINEPREFIX");
    if (prefix.empty())
    {
        error = "WINEPREFIX is not set (run through ctest, bench/run.sh or scripts/wine-run.sh)";
        return false;
    }
    if (!FileExists(exe))
    {
        error = "no simulator at " + exe + " (build the host preset's qv6100-sim, or set QV_SIM)";
        return false;
    }
    const std::string ready = m_dir + "/ready";
    const std::string stop = m_dir + "/stop";
    for (const std::string& f : {ready, stop, LogPath(), ImagePath(), ProgramPath()})
        RemoveFile(f);

    // Its output goes to a file: it must not hold the caller's pipes open
    // should the caller be killed.
    const std::string cmd = "exec " + exe + " --prefix " + prefix + " --com " + std::to_string(m_com) + " --log " +
                            LogPath() + " --ready " + ready + " --stop-file " + stop + " --image-out " + ImagePath() +
                            " --program-out " + ProgramPath() + " --lifetime " + std::to_string(lifetimeSec) + " " +
                            options + " </dev/null >" + m_dir + "/sim.out 2>&1";
    if (!StartUnix(cmd))
    {
        error = "cannot start the simulator (error " + std::to_string(::GetLastError()) + "): " + cmd;
        return false;
    }
    m_running = true;
    for (const int64_t deadline = NowUs() + 10000000; NowUs() < deadline; ::Sleep(5))
        if (FileExists(ready))
            return true;
    error = "the simulator did not publish " + PortName() + " within 10 s (see " + m_dir + "/sim.out): " + cmd;
    Stop();
    return false;
}

bool Simulator::LogEndsStopped() const
{
    HANDLE h = ::CreateFileA(WinPath(LogPath()).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char tail[256] = {};
    LARGE_INTEGER size = {};
    ::GetFileSizeEx(h, &size);
    LARGE_INTEGER at;
    at.QuadPart = size.QuadPart > 255 ? size.QuadPart - 255 : 0;
    ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    DWORD got = 0;
    ::ReadFile(h, tail, sizeof tail - 1, &got, nullptr);
    ::CloseHandle(h);
    return std::string(tail, got).find("# stopped") != std::string::npos;
}

bool Simulator::Stop()
{
    if (!m_running)
        return true;
    m_running = false;
    TouchFile(m_dir + "/stop");
    // Wine gives no waitable handle for a Unix process: its last log line
    // says it is done.
    for (const int64_t deadline = NowUs() + 10000000; NowUs() < deadline; ::Sleep(5))
        if (LogEndsStopped())
            return true;
    return false;
}

qvsim::WireLogReader Simulator::Log() const
{
    return qvsim::WireLogReader(ReadFileBytes(LogPath()));
}

// ---------------------------------------------------------------------------

std::string WindowText(HWND hWnd)
{
    // GetWindowTextW reads another process's window without a message.
    wchar_t wide[4096] = {};
    ::GetWindowTextW(hWnd, wide, 4096);
    char text[8192] = {};
    ::WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

namespace
{
struct Search
{
    DWORD pid;
    HWND exclude;
    const std::function<bool(HWND)>& match;
    HWND found;
};

BOOL CALLBACK SearchProc(HWND hWnd, LPARAM lParam)
{
    auto* s = reinterpret_cast<Search*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (pid != s->pid || hWnd == s->exclude || !::IsWindowVisible(hWnd) || !s->match(hWnd))
        return TRUE;
    s->found = hWnd;
    return FALSE;
}

BoxIcon IconOf(HWND box)
{
    HWND hIcon = nullptr;
    for (int id : {0x14, 0x440})
        if ((hIcon = ::GetDlgItem(box, id)) != nullptr)
            break;
    DWORD_PTR icon = 0;
    if (!hIcon || !::SendMessageTimeoutW(hIcon, STM_GETICON, 0, 0, SMTO_NORMAL, 1000, &icon) || !icon)
        return BoxIcon::None;
    HICON h = reinterpret_cast<HICON>(icon);
    if (h == ::LoadIconA(nullptr, MAKEINTRESOURCEA(32516)))
        return BoxIcon::Information;
    if (h == ::LoadIconA(nullptr, MAKEINTRESOURCEA(32515)))
        return BoxIcon::Exclamation;
    if (h == ::LoadIconA(nullptr, MAKEINTRESOURCEA(32513)))
        return BoxIcon::Hand;
    return BoxIcon::Unknown;
}
}  // namespace

HWND FindTopWindow(DWORD pid, const std::function<bool(HWND)>& match, HWND exclude)
{
    Search s = {pid, exclude, match, nullptr};
    ::EnumWindows(SearchProc, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

namespace
{
// The static text of a box: a static control without an identifier of its
// own (0xFFFF in a message box, -1 in the About box's extended template) that
// is not an icon.
HWND TextStatic(HWND box)
{
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    {
        char cls[16] = {};
        ::GetClassNameA(child, cls, sizeof cls);
        if ((::GetDlgCtrlID(child) & 0xFFFF) == 0xFFFF && ::lstrcmpiA(cls, "Static") == 0 &&
            (::GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            return child;
    }
    return nullptr;
}
}  // namespace

bool IsMessageBox(HWND hWnd)
{
    char cls[64] = {};
    ::GetClassNameA(hWnd, cls, sizeof cls);
    return std::string(cls) == "#32770" && TextStatic(hWnd) != nullptr;
}

HWND FindMessageBox(DWORD pid, HWND exclude)
{
    return FindTopWindow(pid, IsMessageBox, exclude);
}

Box ReadBox(HWND hWnd)
{
    Box box;
    box.shownUs = NowUs();
    box.hWnd = hWnd;
    box.caption = WindowText(hWnd);
    box.textControl = TextStatic(hWnd);
    if (box.textControl)
        box.text = WindowText(box.textControl);
    box.icon = IconOf(hWnd);
    box.hasCancel = ::GetDlgItem(hWnd, IDCANCEL) != nullptr;
    return box;
}

void AnswerBox(HWND box, int button)
{
    ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, button)));
    WaitUntil([box] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 5000, 1);
}

void SelectOrAdd(HWND combo, const std::string& text)
{
    LRESULT i = ::SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                               reinterpret_cast<LPARAM>(text.c_str()));
    if (i == CB_ERR)
        i = ::SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
}

namespace
{
thread_local BoxWatcher* t_watcher = nullptr;
}  // namespace

BoxWatcher::BoxWatcher()
{
    t_watcher = this;
    m_hook = ::SetWindowsHookExA(WH_CALLWNDPROCRET, Hook, nullptr, ::GetCurrentThreadId());
}

BoxWatcher::~BoxWatcher()
{
    if (m_hook)
        ::UnhookWindowsHookEx(m_hook);
    if (t_watcher == this)
        t_watcher = nullptr;
}

// Runs on the thread that shows the box, as the box finishes setting itself
// up: its texts, icon and buttons are in place, and its modal loop has not
// started, so the answer posted here is the first thing it handles.
LRESULT CALLBACK BoxWatcher::Hook(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && msg->message == WM_INITDIALOG && t_watcher && IsMessageBox(msg->hwnd))
        t_watcher->Seen(msg->hwnd);
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void BoxWatcher::Seen(HWND hWnd)
{
    const Box seen = ReadBox(hWnd);
    int answer = IDOK;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_boxes.size() < m_answers.size())
            answer = m_answers[m_boxes.size()];
        m_boxes.push_back(seen);
    }
    ::PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(hWnd, answer)));
}

void BoxWatcher::Answer(std::vector<int> answers)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers = std::move(answers);
}

std::vector<Box> BoxWatcher::Boxes() const
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

}  // namespace qvtest
