// Drives QV-6100 Update from outside, as a user would: starts the program,
// finds its dialog and controls, clicks, types keys, reads and answers its
// message boxes, reads labels, the progress bar and button states, and takes
// screenshots of the display.
#pragma once

#include "wine/WineSide.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvtest
{

class App
{
public:
    ~App();

    // Starts a program (a UTF-8 path) in its own folder, with `args` after
    // its quoted path; false if it cannot be started.
    bool Launch(const std::string& exePath, const std::string& args = std::string());
    bool Running() const;
    // Waits for the program to end; returns its exit code, or -1 on timeout.
    long WaitExit(int timeoutMs);
    void Kill();

    // The update dialog once it is visible and idle (Start enabled); nullptr
    // after the time-out or once the program has ended.
    HWND WaitIdleDialog(int timeoutMs, int pollMs = 5);
    HWND Dialog() const { return m_dialog; }
    HWND Control(int id) const { return ::GetDlgItem(m_dialog, id); }

    // A message box of the program (not its update dialog; the About box
    // counts as one), or nullptr.
    bool FindBox(Box& box) const;
    bool WaitBox(Box& box, int timeoutMs) const;
    void Answer(const Box& box, int button) const { AnswerBox(box.hWnd, button); }
    // Waits for a top-level window of the program with this caption.
    HWND WaitWindow(const std::string& caption, int timeoutMs) const;

    void Click(int id) const;
    std::string Text(int id) const;
    int ProgressPos() const;
    bool Enabled(int id) const;
    bool Visible(int id) const;
    HWND Focus() const;
    int DefaultId() const;
    std::vector<std::string> PortList() const;
    int PortSelection() const;
    void SelectPort(const std::string& name) const;
    // Brings the dialog forward and presses a key (with Alt when asked).
    void PressKey(WORD vk, bool alt = false) const;

    // Follows a run that Start began until the dialog is idle again,
    // answering every message box with OK: `onBox` sees each box before it is
    // answered, `onLook` is called at every look, every `pollMs`. Returns the
    // boxes' texts in order; gives up after `timeoutMs`.
    std::vector<std::string> FollowRun(int pollMs, const std::function<void(const Box&)>& onBox,
                               const std::function<void()>& onLook, int timeoutMs = 300000) const;

    DWORD ProcessId() const { return m_pi.dwProcessId; }

private:
    PROCESS_INFORMATION m_pi = {};
    HWND m_dialog = nullptr;
};

// Screenshot of the whole display (ImageMagick's import), or of `window`
// alone: a 24-bit BMP for a .bmp path, else PNG.
bool Screenshot(const std::string& unixPath, HWND window = nullptr);

// The screen's DPI for the programs this prefix starts from now on, and the
// earlier setting back at the end. Wine reads HKCU\Control Panel\Desktop
// LogPixels once in each process: running programs keep the DPI they began
// with, the wineserver need not restart.
class ScreenDpi
{
public:
    explicit ScreenDpi(DWORD dpi);
    ~ScreenDpi();
    ScreenDpi(const ScreenDpi&) = delete;
    ScreenDpi& operator=(const ScreenDpi&) = delete;

private:
    bool m_had = false;
    DWORD m_old = 0;
};

// The font that a dialog template of a program names (DIALOGEX with
// DS_SETFONT), made here as the dialog manager makes it at `dpi`: a program's
// font cannot be asked for from another process (WM_GETFONT answers nothing
// across processes under Wine, and on Windows a font handle is the process's
// own). Without such a template it holds no font.
class DialogFont
{
public:
    DialogFont(const std::string& exePath, int dialogId, int dpi);
    ~DialogFont();
    DialogFont(const DialogFont&) = delete;
    DialogFont& operator=(const DialogFont&) = delete;

    HFONT Get() const { return m_font; }
    // The dialog's client size in pixels that this font's dialog units make
    // of the template's: the dialog's own, if the font is the dialog's.
    SIZE ClientSize() const { return m_client; }

private:
    HFONT m_font = nullptr;
    SIZE m_client = {};
};

// The room a control's text needs, drawn with `font` as the control draws it,
// and the room the control has: buttons and statics with SS_CENTERIMAGE or
// SS_LEFTNOWORDWRAP in one line, other statics wrapped at the control's
// width; a button's text keeps clear of its edge and focus frame.
struct TextFit
{
    SIZE needed = {};
    SIZE room = {};
    bool Fits() const { return needed.cx <= room.cx && needed.cy <= room.cy; }
};
TextFit MeasureText(HWND control, const std::string& text, HFONT font);

struct Bitmap
{
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;  // top-down, 3 bytes a pixel
    bool Load(const std::string& unixPath);
    // Pixels in the rectangle with exactly this colour.
    int Count(const RECT& r, unsigned char red, unsigned char green, unsigned char blue) const;
};

}  // namespace qvtest
