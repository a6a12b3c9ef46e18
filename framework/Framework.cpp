#include "Framework.h"

#include <commctrl.h>
#include <process.h>

namespace
{
CWinApp* g_pApp = nullptr;  // the one application object; set by its constructor
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

CWnd* AfxGetMainWnd()
{
    return g_pApp ? g_pApp->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle()
{
    if (g_pApp && g_pApp->m_hInstance)
        return g_pApp->m_hInstance;
    return ::GetModuleHandleA(nullptr);
}

// ---------------------------------------------------------------------------
// CWnd

int CWnd::MessageBox(LPCSTR lpszText, LPCSTR lpszCaption, UINT nType)
{
    if (!lpszCaption && g_pApp)
        lpszCaption = g_pApp->m_pszAppName;
    return ::MessageBoxA(m_hWnd, lpszText, lpszCaption, nType);
}

BOOL CWnd::OnWndMsg(UINT, WPARAM, LPARAM, LRESULT*)
{
    return FALSE;
}

HBRUSH CWnd::OnCtlColor(HDC hDC, CWnd*, UINT nCtlColor)
{
    // What the default window procedure does: window colours for edit fields
    // and lists, the dialog face colour for everything else.
    const bool window = nCtlColor == CTLCOLOR_EDIT || nCtlColor == CTLCOLOR_LISTBOX;
    const int background = window ? COLOR_WINDOW : COLOR_3DFACE;
    ::SetTextColor(hDC, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(hDC, ::GetSysColor(background));
    return ::GetSysColorBrush(background);
}

// ---------------------------------------------------------------------------
// Data exchange

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value)
{
    HWND hCtl = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
    if (!hCtl)
        return;
    const int length = ::GetWindowTextLengthA(hCtl);
    std::string current(static_cast<size_t>(length) + 1, '\0');
    const int got = ::GetWindowTextA(hCtl, &current[0], length + 1);
    current.resize(static_cast<size_t>(got > 0 ? got : 0));
    if (pDX->m_bSaveAndValidate)
        value = current;
    else if (current != value)
        ::SetWindowTextA(hCtl, value.c_str());
}

// ---------------------------------------------------------------------------
// CDialog

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog()
{
    if (m_hWnd && ::IsWindow(m_hWnd))
    {
        ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
    }
}

namespace
{
// Dialog templates may name common controls: register their classes before
// the first dialog is created.
void RegisterCommonControls()
{
    static bool done = false;
    if (done)
        return;
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    done = ::InitCommonControlsEx(&icc) != FALSE;
}

// Libraries loaded by name come from the system directory, never from the
// application's folder or the current directory.
void RestrictDllSearchPath()
{
    ::SetDllDirectoryA("");
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    const DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    HMODULE hKernel = ::GetModuleHandleA("kernel32.dll");
    auto pSet = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(hKernel, "SetDefaultDllDirectories")));
    if (pSet)
        pSet(kSearchSystem32);
}
}  // namespace

INT_PTR CDialog::DoModal()
{
    RegisterCommonControls();
    // Without a parent a modal dialog is owned by the main window, if any.
    HWND hParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    CWnd* pMain = AfxGetMainWnd();
    if (!hParent && pMain && pMain != this)
        hParent = pMain->m_hWnd;
    INT_PTR result = ::DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), hParent,
                                       &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

BOOL CDialog::Create(CWnd* pParentWnd)
{
    RegisterCommonControls();
    if (pParentWnd)
        m_pParentWnd = pParentWnd;
    HWND hParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    HWND hWnd = ::CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), hParent,
                                     &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    return hWnd != nullptr;
}

BOOL CDialog::DestroyWindow()
{
    if (!m_hWnd)
        return FALSE;
    BOOL ok = ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    return ok;
}

void CDialog::EndDialog(int nResult)
{
    ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);

    // The Help button is shown only when the main window handles ID_HELP.
    CWnd* pMain = AfxGetMainWnd();
    const BOOL handled = pMain && pMain->OnWndMsg(WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0, nullptr);
    ShowItem(ID_HELP, handled ? SW_SHOW : SW_HIDE);
    return TRUE;
}

void CDialog::OnOK()
{
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
    {
        if (!pResult)
            return TRUE;
        if (LOWORD(wParam) == IDOK)
            OnOK();
        else
            OnCancel();
        *pResult = 0;
        return TRUE;
    }
    if (message == WM_HELP)
    {
        // F1 becomes the ID_HELP command of the main window, unless a modifier
        // key is held.
        if (!pResult)
            return TRUE;
        const bool modifier = (::GetKeyState(VK_SHIFT) < 0) || (::GetKeyState(VK_CONTROL) < 0) ||
                              (::GetKeyState(VK_MENU) < 0);
        CWnd* pMain = AfxGetMainWnd();
        if (!modifier && pMain && pMain->m_hWnd)
            ::SendMessageA(pMain->m_hWnd, WM_COMMAND, MAKEWPARAM(ID_HELP, 0), 0);
        *pResult = TRUE;
        return TRUE;
    }
    return CWnd::OnWndMsg(message, wParam, lParam, pResult);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* pDlg;
    if (message == WM_INITDIALOG)
    {
        pDlg = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        pDlg->m_hWnd = hWnd;
        return pDlg->OnInitDialog();
    }
    pDlg = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hWnd, DWLP_USER));
    if (!pDlg)
        return FALSE;

    LRESULT result = 0;
    if (!pDlg->OnWndMsg(message, wParam, lParam, &result))
        return FALSE;

    // Colour requests and a few others return their result directly; the rest
    // go through DWLP_MSGRESULT.
    if ((message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) || message == WM_QUERYDRAGICON ||
        message == WM_COMPAREITEM || message == WM_VKEYTOITEM || message == WM_CHARTOITEM ||
        message == WM_INITDIALOG)
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

// ---------------------------------------------------------------------------
// Threads

namespace
{
struct ThreadStart
{
    AFX_THREADPROC proc;
    LPVOID param;
};

unsigned __stdcall ThreadEntry(void* p)
{
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    return start.proc(start.param);
}
}  // namespace

CWinThread::~CWinThread()
{
    if (m_hThread)
        ::CloseHandle(m_hThread);
}

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority, UINT nStackSize,
                           DWORD dwCreateFlags)
{
    auto* start = new ThreadStart{pfnThreadProc, pParam};
    unsigned id = 0;
    uintptr_t h = _beginthreadex(nullptr, nStackSize, &ThreadEntry, start, CREATE_SUSPENDED, &id);
    if (!h)
    {
        delete start;
        return nullptr;
    }
    auto* thread = new CWinThread;
    thread->m_hThread = reinterpret_cast<HANDLE>(h);
    thread->m_nThreadID = id;
    ::SetThreadPriority(thread->m_hThread, nPriority);
    if (!(dwCreateFlags & CREATE_SUSPENDED))
        ::ResumeThread(thread->m_hThread);
    return thread;
}

// ---------------------------------------------------------------------------
// CWinApp

CWinApp::CWinApp(LPCSTR lpszAppName)
{
    if (lpszAppName)
    {
        m_strAppName = lpszAppName;
        m_pszAppName = m_strAppName.c_str();
    }
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

void CWinApp::InitApplication(HINSTANCE hInstance)
{
    m_hInstance = hInstance;
    if (m_pszAppName)
        return;

    // The application-title string if the resources hold one, else the
    // executable's file name without directory and extension.
    const UINT kAppTitleStringId = 0xE000;
    char title[256] = {};
    if (::LoadStringA(hInstance, kAppTitleStringId, title, sizeof title) > 0)
    {
        m_strAppName = title;
    }
    else
    {
        char path[MAX_PATH] = {};
        DWORD n = ::GetModuleFileNameA(hInstance, path, MAX_PATH);
        std::string name(path, n < MAX_PATH ? n : 0);
        size_t slash = name.find_last_of("\\/");
        if (slash != std::string::npos)
            name.erase(0, slash + 1);
        size_t dot = name.find_last_of('.');
        if (dot != std::string::npos)
            name.erase(dot);
        m_strAppName = name;
    }
    m_pszAppName = m_strAppName.c_str();
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::Run()
{
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0)
    {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return ExitInstance();
}

int CWinApp::ExitInstance()
{
    return 0;
}

int AfxWinMain(HINSTANCE hInstance)
{
    RestrictDllSearchPath();
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return -1;
    pApp->InitApplication(hInstance);
    if (!pApp->InitInstance())
        return pApp->ExitInstance();
    return pApp->Run();
}
