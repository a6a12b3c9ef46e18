// Drives QV-6100 Update from outside, as a user would: starts the program,
// finds its dialog and controls, clicks, types keys, reads and answers its
// message boxes, reads labels, the progress bar and button states, and takes
// screenshots of the display.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvgui
{

int64_t NowMs();

struct Box
{
    HWND hWnd = nullptr;
    std::string caption;
    std::string text;
    std::string icon;  // "information", "exclamation", "hand", "none", "other"
    bool hasCancel = false;
};

class App
{
public:
    ~App();

    // Starts the program; false if it cannot be started.
    bool Launch(const std::string& exePath);
    bool Running() const;
    // Waits for the program to end; returns its exit code, or -1 on timeout.
    long WaitExit(int timeoutMs);
    void Kill();

    // The main dialog once it is visible and idle (Start enabled).
    HWND WaitIdleDialog(int timeoutMs);
    HWND Dialog() const { return m_dialog; }
    HWND Control(int id) const { return ::GetDlgItem(m_dialog, id); }

    // A message box of the program (not its main dialog), or nullptr.
    bool FindBox(Box& box) const;
    bool WaitBox(Box& box, int timeoutMs) const;
    void Answer(const Box& box, int button) const;
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

    DWORD ProcessId() const { return m_pi.dwProcessId; }

private:
    PROCESS_INFORMATION m_pi = {};
    HWND m_dialog = nullptr;
};

// A visible message box of process pid (a dialog with the static text
// control 0xFFFF) other than `exclude`, or nullptr.
HWND FindMessageBox(DWORD pid, HWND exclude);
// The box's icon: "information", "exclamation", "hand", "none" or "other".
std::string MessageBoxIcon(HWND box);

// Screenshot of the whole display (ImageMagick's import), or of `window`
// alone: a 24-bit BMP for a .bmp path, else PNG.
bool Screenshot(const std::string& unixPath, HWND window = nullptr);

struct Bitmap
{
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;  // top-down, 3 bytes a pixel
    bool Load(const std::string& unixPath);
    // Pixels in the rectangle with exactly this colour.
    int Count(const RECT& r, unsigned char red, unsigned char green, unsigned char blue) const;
};

// Runs a Unix command line and waits for `doneFile` to appear.
bool RunUnix(const std::string& command, const std::string& doneFile, int timeoutMs);

std::string WinPath(const std::string& unixPath);

}  // namespace qvgui
