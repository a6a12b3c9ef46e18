// Native stand-in for framework/Framework.h: just the window, dialog, data
// exchange and thread members the serial link, the update engine and the
// dialog use. It sits before the source root on the include path, so
// ui/UpdateDlg.h picks it up; its out-of-line members are in support/Fake.cpp.
#pragma once

#define QV_NATIVE_FRAMEWORK 1

#include <windows.h>

#include <map>
#include <string>
#include <utility>

// The program's own message maps.
#include "framework/MessageMap.h"

inline constexpr Inert<std::nullptr_t> AfxGetInstanceHandle{};

class CWnd
{
public:
    CWnd() = default;
    explicit CWnd(HWND hWnd) : m_hWnd(hWnd) {}
    virtual ~CWnd() = default;

    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse) { return ::SetTimer(m_hWnd, nIDEvent, nElapse, nullptr); }
    BOOL KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }
    int MessageBox(LPCSTR lpszText, LPCSTR lpszCaption = nullptr, UINT nType = MB_OK)
    {
        return ::MessageBoxA(m_hWnd, lpszText, lpszCaption, nType);
    }
    // The window layer: no native test paints, or opens the system menu.
    HMENU GetSystemMenu(BOOL) const { return nullptr; }
    HICON SetIcon(HICON, BOOL) { return nullptr; }
    BOOL IsIconic() const { return FALSE; }
    HBRUSH OnCtlColor(HDC, CWnd*, UINT) { return nullptr; }

    // Returns TRUE when a handler took the message; with pResult == nullptr
    // it only reports whether a handler exists.
    virtual BOOL OnWndMsg(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }

    HWND m_hWnd = nullptr;

protected:
    // As the framework's: a handler asks for the default handling, the map
    // takes the request.
    void Default() { m_bDefault = TRUE; }
    BOOL TakeDefault() { return std::exchange(m_bDefault, FALSE); }

private:
    BOOL m_bDefault = FALSE;
};

class CDataExchange
{
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value);

class CDialog : public CWnd
{
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    virtual INT_PTR DoModal() { return IDCANCEL; }
    void EndDialog(int) {}
    HWND GetItem(int nID) { return GetDlgItem(nID)->m_hWnd; }
    BOOL EnableItem(int nID, bool bEnable) { return ::EnableWindow(GetItem(nID), bEnable ? TRUE : FALSE); }
    HWND FocusItem(int nID) { return ::SetFocus(GetItem(nID)); }
    LRESULT SendItemMessage(int nID, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return GetDlgItem(nID)->SendMessage(message, wParam, lParam);
    }
    BOOL ShowItem(int nID, int nCmdShow) { return ::ShowWindow(GetDlgItem(nID)->m_hWnd, nCmdShow); }
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    BOOL IsDialogMessage(LPMSG lpMsg) { return ::IsDialogMessageA(m_hWnd, lpMsg); }

    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() {}
    virtual void OnCancel() {}

protected:
    virtual void DoDataExchange(CDataExchange*) {}
    void OnTimer(UINT_PTR) { Default(); }
    void OnPaint() { Default(); }
    void OnDestroy() { Default(); }
    void OnActivate(UINT, HWND, BOOL) { Default(); }
    void OnSysCommand(UINT, LPARAM) { Default(); }

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    // The child control with the given identifier (each is a fake window).
    CWnd* GetDlgItem(int nID);

    std::map<int, CWnd> m_controls;
};

// The application object the program's own app/UpdateApp.cpp defines; the
// native tests never start it.
class CWinApp
{
public:
    explicit CWinApp(LPCSTR = nullptr) {}
    virtual ~CWinApp() = default;
    virtual BOOL InitInstance() { return FALSE; }
    void Enable3dControlsStatic() {}

    CWnd* m_pMainWnd = nullptr;
};

typedef UINT(__cdecl* AFX_THREADPROC)(LPVOID);

class CWinThread
{
public:
    CWinThread() = default;
    ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    HANDLE m_hThread = nullptr;
    UINT m_nThreadID = 0;
};

// Starts pfnThreadProc(pParam) on a thread of its own; the caller waits for
// m_hThread and deletes the object.
CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority = THREAD_PRIORITY_NORMAL,
                           UINT nStackSize = 0, DWORD dwCreateFlags = 0);
