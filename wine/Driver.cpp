#include "wine/Driver.h"

#include "ui/resource.h"

#include <commctrl.h>

#include <fstream>

namespace qvtest
{

App::~App()
{
    Kill();
}

bool App::Launch(const std::string& exePath, const std::string& args)
{
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    std::wstring line = Wide("\"" + exePath + "\"" + (args.empty() ? "" : " " + args));
    const size_t slash = exePath.find_last_of("\\/");
    const std::wstring dir = slash == std::string::npos ? std::wstring() : Wide(exePath.substr(0, slash));
    m_dialog = nullptr;
    return ::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, dir.empty() ? nullptr : dir.c_str(),
                            &si, &m_pi) != FALSE;
}

bool App::Running() const
{
    return m_pi.hProcess && ::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT;
}

long App::WaitExit(int timeoutMs)
{
    if (!m_pi.hProcess || ::WaitForSingleObject(m_pi.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(m_pi.hProcess, &code);
    return static_cast<long>(code);
}

void App::Kill()
{
    if (!m_pi.hProcess)
        return;
    if (Running())
    {
        ::TerminateProcess(m_pi.hProcess, 1);
        ::WaitForSingleObject(m_pi.hProcess, 5000);
    }
    ::CloseHandle(m_pi.hProcess);
    ::CloseHandle(m_pi.hThread);
    m_pi = {};
}

HWND App::WaitIdleDialog(int timeoutMs, int pollMs)
{
    // The update dialog is the program's window with a Start button and a
    // port list.
    const auto idle = [](HWND hWnd) {
        HWND start = ::GetDlgItem(hWnd, IDC_START);
        return start && ::GetDlgItem(hWnd, IDC_PORT) && ::IsWindowEnabled(start);
    };
    for (const int64_t end = NowMs() + timeoutMs; NowMs() < end && Running(); ::Sleep(static_cast<DWORD>(pollMs)))
        if ((m_dialog = FindTopWindow(m_pi.dwProcessId, idle)) != nullptr)
            return m_dialog;
    return nullptr;
}

bool App::FindBox(Box& box) const
{
    HWND found = FindMessageBox(m_pi.dwProcessId, m_dialog);
    if (found)
        box = ReadBox(found);
    return found != nullptr;
}

bool App::WaitBox(Box& box, int timeoutMs) const
{
    for (const int64_t end = NowMs() + timeoutMs; NowMs() < end; ::Sleep(5))
        if (FindBox(box))
            return true;
    return false;
}

HWND App::WaitWindow(const std::string& caption, int timeoutMs) const
{
    const auto titled = [&caption](HWND hWnd) { return WindowText(hWnd) == caption; };
    for (const int64_t end = NowMs() + timeoutMs; NowMs() < end; ::Sleep(5))
        if (HWND found = FindTopWindow(m_pi.dwProcessId, titled))
            return found;
    return nullptr;
}

void App::Click(int id) const
{
    ::PostMessageA(m_dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
}

std::string App::Text(int id) const
{
    return WindowText(Control(id));
}

int App::ProgressPos() const
{
    DWORD_PTR pos = 0;
    ::SendMessageTimeoutW(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0, SMTO_NORMAL, 1000, &pos);
    return static_cast<int>(pos);
}

bool App::Enabled(int id) const
{
    return ::IsWindowEnabled(Control(id)) != FALSE;
}

bool App::Visible(int id) const
{
    return ::IsWindowVisible(Control(id)) != FALSE;
}

HWND App::Focus() const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(m_dialog, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

int App::DefaultId() const
{
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(m_dialog, DM_GETDEFID, 0, 0, SMTO_NORMAL, 1000, &result);
    return HIWORD(result) == DC_HASDEFID ? LOWORD(result) : 0;
}

std::vector<std::string> App::PortList() const
{
    std::vector<std::string> names;
    HWND list = Control(IDC_PORT);
    DWORD_PTR count = 0;
    ::SendMessageTimeoutW(list, CB_GETCOUNT, 0, 0, SMTO_NORMAL, 1000, &count);
    for (DWORD_PTR i = 0; i < count; ++i)
    {
        wchar_t wide[64] = {};
        DWORD_PTR n = 0;
        ::SendMessageTimeoutW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide), SMTO_NORMAL, 1000, &n);
        char text[64] = {};
        ::WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        names.push_back(text);
    }
    return names;
}

int App::PortSelection() const
{
    DWORD_PTR sel = 0;
    ::SendMessageTimeoutW(Control(IDC_PORT), CB_GETCURSEL, 0, 0, SMTO_NORMAL, 1000, &sel);
    return static_cast<int>(static_cast<LRESULT>(sel));
}

void App::SelectPort(const std::string& name) const
{
    const auto names = PortList();
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name)
        {
            DWORD_PTR r = 0;
            ::SendMessageTimeoutW(Control(IDC_PORT), CB_SETCURSEL, i, 0, SMTO_NORMAL, 1000, &r);
        }
}

void App::PressKey(WORD vk, bool alt) const
{
    ::SetForegroundWindow(m_dialog);
    ::Sleep(50);
    std::vector<INPUT> in;
    auto key = [&](WORD k, bool up) {
        INPUT i = {};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = k;
        i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        in.push_back(i);
    };
    if (alt)
        key(VK_MENU, false);
    key(vk, false);
    key(vk, true);
    if (alt)
        key(VK_MENU, true);
    ::SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

std::vector<std::string> App::FollowRun(int pollMs, const std::function<void(const Box&)>& onBox,
                                        const std::function<void()>& onLook, int timeoutMs) const
{
    std::vector<std::string> texts;
    bool started = false;
    for (const int64_t end = NowMs() + timeoutMs; NowMs() < end;)
    {
        Box box;
        if (FindBox(box))
        {
            if (onBox)
                onBox(box);
            texts.push_back(box.text);
            Answer(box, IDOK);
            continue;
        }
        if (onLook)
            onLook();
        if (!Enabled(IDC_START))
            started = true;
        else if (started)
            break;
        ::Sleep(static_cast<DWORD>(pollMs));
    }
    return texts;
}

bool Screenshot(const std::string& unixPath, HWND window)
{
    char display[64] = {};
    ::GetEnvironmentVariableA("DISPLAY", display, sizeof display);
    const bool bmp = unixPath.size() > 4 && unixPath.compare(unixPath.size() - 4, 4, ".bmp") == 0;
    const std::string tmp = unixPath + (bmp ? ".tmp.bmp" : ".tmp.png");
    const std::string out = (bmp ? "bmp3:" : "") + tmp;
    std::string grab = "DISPLAY=" + std::string(display) + " import -window root ";
    RECT r;
    if (window && ::GetWindowRect(window, &r) && r.right > r.left && r.bottom > r.top)
    {
        // The virtual desktop sits at the display's origin: window
        // coordinates are display coordinates.
        grab += "-crop " + std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
                std::to_string(r.left) + "+" + std::to_string(r.top) + " +repage ";
    }
    return RunUnix(grab + out + " && mv " + tmp + " " + unixPath, unixPath + ".done", 20000) && FileExists(unixPath);
}

ScreenDpi::ScreenDpi(DWORD dpi)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD size = sizeof m_old;
    m_had = ::RegQueryValueExW(key, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&m_old), &size) ==
            ERROR_SUCCESS;
    ::RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    ::RegCloseKey(key);
}

ScreenDpi::~ScreenDpi()
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (m_had)
        ::RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_old), sizeof m_old);
    else
        ::RegDeleteValueW(key, L"LogPixels");
    ::RegCloseKey(key);
}

namespace
{
// Past a name or ordinal field of a dialog template.
const WORD* SkipNameOrOrdinal(const WORD* p)
{
    if (*p == 0xFFFF)
        return p + 2;
    while (*p)
        ++p;
    return p + 1;
}
}  // namespace

DialogFont::DialogFont(const std::string& exePath, int dialogId, int dpi)
{
    HMODULE module = ::LoadLibraryExW(Wide(exePath).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return;
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(dialogId), MAKEINTRESOURCEW(5));  // RT_DIALOG
    const WORD* p = found ? static_cast<const WORD*>(::LockResource(::LoadResource(module, found))) : nullptr;
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, help id, extended style,
    // style, item count, x, y, cx, cy; then menu, class, caption, font.
    if (p && p[0] == 1 && p[1] == 0xFFFF && ((p[6] | (p[7] << 16)) & DS_SETFONT))
    {
        const int cx = p[11], cy = p[12];
        const WORD* q = SkipNameOrOrdinal(SkipNameOrOrdinal(p + 13));
        while (*q++)
            ;
        m_font = ::CreateFontW(-::MulDiv(q[0], dpi, 72), 0, 0, 0, q[1], LOBYTE(q[2]), FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY, FF_DONTCARE,
                               reinterpret_cast<const wchar_t*>(q + 3));
        // Dialog units as the dialog manager reckons them: a quarter of the
        // letters' average width, an eighth of the font's height.
        HDC dc = ::CreateCompatibleDC(nullptr);
        HGDIOBJ old = ::SelectObject(dc, m_font);
        TEXTMETRICW tm = {};
        ::GetTextMetricsW(dc, &tm);
        SIZE letters = {};
        ::GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
        m_client = {::MulDiv(cx, (letters.cx / 26 + 1) / 2, 4), ::MulDiv(cy, tm.tmHeight, 8)};
    }
    ::FreeLibrary(module);
}

DialogFont::~DialogFont()
{
    if (m_font)
        ::DeleteObject(m_font);
}

TextFit MeasureText(HWND control, const std::string& text, HFONT font)
{
    // Push buttons draw their text inside a 2-pixel edge and a focus frame.
    const int kButtonInsetPx = 3;
    wchar_t cls[16] = {};
    ::GetClassNameW(control, cls, 16);
    const bool button = ::lstrcmpiW(cls, L"Button") == 0;
    const LONG style = ::GetWindowLongW(control, GWL_STYLE);
    RECT client = {};
    ::GetClientRect(control, &client);
    if (button)
        ::InflateRect(&client, -kButtonInsetPx, -kButtonInsetPx);

    UINT flags = DT_CALCRECT | DT_EXPANDTABS;
    if (button || (style & SS_CENTERIMAGE) || (style & SS_TYPEMASK) == SS_LEFTNOWORDWRAP)
        flags |= DT_SINGLELINE;
    else
        flags |= DT_WORDBREAK;
    if (!button && (style & SS_NOPREFIX))
        flags |= DT_NOPREFIX;

    TextFit fit;
    fit.room = {client.right - client.left, client.bottom - client.top};
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, font);
    const std::wstring wide = Wide(text);
    RECT r = {0, 0, fit.room.cx, 0};
    ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &r, flags);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    fit.needed = {r.right - r.left, r.bottom - r.top};
    return fit;
}

bool Bitmap::Load(const std::string& unixPath)
{
    std::ifstream in(WinPath(unixPath), std::ios::binary);
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() < 54 || data[0] != 'B' || data[1] != 'M')
        return false;
    auto u32 = [&](size_t o) {
        return static_cast<uint32_t>(data[o] | (data[o + 1] << 8) | (data[o + 2] << 16) | (data[o + 3] << 24));
    };
    const uint32_t offset = u32(10);
    width = static_cast<int>(u32(18));
    const int32_t h = static_cast<int32_t>(u32(22));
    const int bpp = data[28] | (data[29] << 8);
    if (bpp != 24 && bpp != 32)
        return false;
    height = h < 0 ? -h : h;
    const int bytesPerPixel = bpp / 8;
    const size_t stride = (static_cast<size_t>(width) * bytesPerPixel + 3) & ~size_t(3);
    if (data.size() < offset + stride * height)
        return false;
    rgb.assign(static_cast<size_t>(width) * height * 3, 0);
    for (int y = 0; y < height; ++y)
    {
        const int srcRow = h < 0 ? y : height - 1 - y;
        const unsigned char* src = &data[offset + stride * srcRow];
        for (int x = 0; x < width; ++x)
        {
            unsigned char* dst = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            dst[0] = src[x * bytesPerPixel + 2];
            dst[1] = src[x * bytesPerPixel + 1];
            dst[2] = src[x * bytesPerPixel + 0];
        }
    }
    return true;
}

int Bitmap::Count(const RECT& r, unsigned char red, unsigned char green, unsigned char blue) const
{
    int n = 0;
    for (int y = r.top; y < r.bottom && y < height; ++y)
        for (int x = r.left; x < r.right && x < width; ++x)
        {
            if (x < 0 || y < 0)
                continue;
            const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            if (p[0] == red && p[1] == green && p[2] == blue)
                ++n;
        }
    return n;
}

}  // namespace qvtest
