// A small stand-in for the application framework the dialog code is written
// against: an application object, windows with a message map, modal dialogs
// built from templates, dialog data exchange and worker threads. It knows
// nothing about the program that uses it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "framework/MessageMap.h"

#ifndef ID_HELP
#define ID_HELP 0xE146  // 57670
#endif

class CWnd;
class CWinApp;
class CDataExchange;

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();

// ---------------------------------------------------------------------------
// Windows

class CWnd
{
public:
    CWnd() = default;
    explicit CWnd(HWND hWnd) : m_hWnd(hWnd) {}
    virtual ~CWnd() = default;

    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }

    BOOL EnableWindow(BOOL bEnable = TRUE) { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    HWND SetFocus() { return ::SetFocus(m_hWnd); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse) { return ::SetTimer(m_hWnd, nIDEvent, nElapse, nullptr); }
    BOOL KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }
    HMENU GetSystemMenu(BOOL bRevert) const { return ::GetSystemMenu(m_hWnd, bRevert); }
    HICON SetIcon(HICON hIcon, BOOL bBigIcon)
    {
        return reinterpret_cast<HICON>(
            SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
    }

    // A modal message box owned by this window; without a caption it shows the
    // application's name.
    int MessageBox(LPCSTR lpszText, LPCSTR lpszCaption = nullptr, UINT nType = MB_OK);

    // Message map entry point: returns TRUE when a handler took the message.
    // Called with pResult == nullptr it only reports whether a handler exists.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    // Base handling of WM_CTLCOLOR*: the system's dialog colours.
    HBRUSH OnCtlColor(HDC hDC, CWnd* pWnd, UINT nCtlColor);

    HWND m_hWnd = nullptr;

protected:
    // Lets the window manager's default handling run after the current handler.
    void Default() { m_bDefault = TRUE; }
    BOOL TakeDefault()
    {
        BOOL bDefault = m_bDefault;
        m_bDefault = FALSE;
        return bDefault;
    }

private:
    BOOL m_bDefault = FALSE;
};

// ---------------------------------------------------------------------------
// Dialog data exchange

class CDataExchange
{
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Towards the control, the text is written only when it differs from what
// the control shows, so an unchanged label is not redrawn.
void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value);

// ---------------------------------------------------------------------------
// Dialogs

class CDialog : public CWnd
{
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    virtual INT_PTR DoModal();
    // Modeless creation from the same template.
    BOOL Create(CWnd* pParentWnd = nullptr);
    BOOL DestroyWindow();
    void EndDialog(int nResult);

    // The child control with the given identifier, and thin wrappers on it.
    // For a missing control each does nothing and returns 0.
    HWND GetItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    BOOL EnableItem(int nID, bool bEnable) { return ::EnableWindow(GetItem(nID), bEnable ? TRUE : FALSE); }
    BOOL ShowItem(int nID, int nCmdShow) { return ::ShowWindow(GetItem(nID), nCmdShow); }
    HWND FocusItem(int nID)
    {
        HWND hCtl = GetItem(nID);
        return hCtl ? ::SetFocus(hCtl) : nullptr;
    }
    LRESULT SendItemMessage(int nID, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return ::SendDlgItemMessageA(m_hWnd, nID, message, wParam, lParam);
    }
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    BOOL IsDialogMessage(LPMSG lpMsg) { return ::IsDialogMessageA(m_hWnd, lpMsg); }

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);

    void OnTimer(UINT_PTR) { Default(); }
    void OnPaint() { Default(); }
    void OnDestroy() { Default(); }
    void OnActivate(UINT, HWND, BOOL) { Default(); }
    void OnSysCommand(UINT, LPARAM) { Default(); }

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// ---------------------------------------------------------------------------
// Threads

typedef UINT(__cdecl* AFX_THREADPROC)(LPVOID);

class CWinThread
{
public:
    ~CWinThread();
    HANDLE m_hThread = nullptr;
    UINT m_nThreadID = 0;
};

// Starts a thread running pfnThreadProc(pParam). The caller owns the result:
// it waits for m_hThread and deletes the object.
CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority = THREAD_PRIORITY_NORMAL,
                           UINT nStackSize = 0, DWORD dwCreateFlags = 0);

// ---------------------------------------------------------------------------
// The application

class CWinApp
{
public:
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    virtual ~CWinApp();

    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int Run();
    virtual int ExitInstance();

    // Three-dimensional control drawing is what the system does anyway.
    BOOL Enable3dControlsStatic() { return TRUE; }

    // Fills in the instance handle and the application's name; called by the
    // entry point before InitInstance.
    void InitApplication(HINSTANCE hInstance);

    CWnd* m_pMainWnd = nullptr;
    LPCSTR m_pszAppName = nullptr;
    HINSTANCE m_hInstance = nullptr;

private:
    std::string m_strAppName;
};

// The framework's entry point; WinMain calls it.
int AfxWinMain(HINSTANCE hInstance);
