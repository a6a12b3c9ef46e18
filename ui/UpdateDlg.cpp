// The main dialog: construction, initialisation, the buttons, the system
// menu and painting. The members through which the run reaches the screen
// are in RunView.cpp.
#include "ui/UpdateDlg.h"

#include "serial/PortNames.h"
#include "ui/AboutDlg.h"
#include "ui/Help.h"
#include "ui/Texts.h"

#include <cstdlib>
#include <string>

namespace
{
const wchar_t kHelpFileName[] = L"QV6100_UPDATE.chm";
const COLORREF kCautionTextColour = RGB(255, 0, 0);
}  // namespace

CUpdateDlg::CUpdateDlg(CWnd* pParent) : CDialog(IDD_UPDATE_DIALOG, pParent)
{
    m_hIcon = ::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

BEGIN_MESSAGE_MAP(CUpdateDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_DESTROY()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_EXIT, &CUpdateDlg::OnExit)
    ON_BN_CLICKED(IDC_START, &CUpdateDlg::OnStart)
    ON_WM_TIMER()
    ON_BN_CLICKED(IDC_CANCEL_RUN, &CUpdateDlg::OnCancelRun)
    ON_WM_CONTEXTMENU()
    ON_WM_ACTIVATE()
    ON_WM_CTLCOLOR()
    ON_COMMAND(ID_HELP, &CUpdateDlg::OnHelp)
END_MESSAGE_MAP()

BOOL CUpdateDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    if (HMENU hSysMenu = GetSystemMenu(FALSE))
    {
        char about[128] = {};
        if (::LoadStringA(AfxGetInstanceHandle(), IDS_ABOUTBOX, about, sizeof about) > 0)
        {
            ::AppendMenuA(hSysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuA(hSysMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    // Restore, Move, Size, Minimize, Maximize, separator, Close, separator,
    // About: take out Size, the separator before Close, Maximize and Close.
    if (HMENU hSysMenu = GetSystemMenu(FALSE))
    {
        ::RemoveMenu(hSysMenu, 2, MF_BYPOSITION);
        ::RemoveMenu(hSysMenu, 4, MF_BYPOSITION);
        ::RemoveMenu(hSysMenu, 3, MF_BYPOSITION);
        ::RemoveMenu(hSysMenu, 3, MF_BYPOSITION);
    }

    m_strStatus = kIdleStatusText;
    PushLabels();

    EnumeratePorts();
    return TRUE;
}

void CUpdateDlg::EnumeratePorts()
{
    int count = 0;
    for (int i = 0; i < PortNameTable::kCount; ++i)
    {
        if (ProbePort(PortNames[i].c_str()))
        {
            SendItemMessage(IDC_PORT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(PortNames[i].c_str()));
            ++count;
        }
    }
    if (count > 0)
    {
        SendItemMessage(IDC_PORT, CB_SETCURSEL, 0);
        return;
    }
    ShowMessage(kNoPortsText, kCaption, MB_ICONHAND | MB_OK);
    EndDialog(1);
}

// During a run only Cancel and the percent label are enabled, and Cancel has
// the focus; between runs Start, Exit and the port list, with the focus on
// Start.
void CUpdateDlg::EnableRunControls(bool bRunning)
{
    EnableItem(IDC_START, !bRunning);
    EnableItem(IDC_CANCEL_RUN, bRunning);
    EnableItem(IDC_EXIT, !bRunning);
    EnableItem(IDC_PERCENT, bRunning);
    EnableItem(IDC_PORT, !bRunning);
    FocusItem(bRunning ? IDC_CANCEL_RUN : IDC_START);
}

void CUpdateDlg::OnStart()
{
    EnableRunControls(true);

    m_bCancel = 0;
    RunUpdate();

    EnableRunControls(false);

    SendItemMessage(IDC_CANCEL_RUN, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendItemMessage(ID_HELP, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessage(DM_SETDEFID, IDC_START);
}

void CUpdateDlg::OnExit()
{
    CloseAllHelp();
    std::exit(0);
}

void CUpdateDlg::OnDestroy()
{
    CloseAllHelp();
    CDialog::OnDestroy();
}

void CUpdateDlg::OnHelp()
{
    // Wide throughout: in a folder whose name the ANSI code page cannot spell
    // an ANSI path names no file.
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;

    wchar_t drive[_MAX_DRIVE] = {};
    wchar_t dir[_MAX_DIR] = {};
    if (_wsplitpath_s(path, drive, _MAX_DRIVE, dir, _MAX_DIR, nullptr, 0, nullptr, 0) != 0)
        return;
    // A folder path too long for the help file's name is not opened rather
    // than cut short.
    const std::wstring help = std::wstring(drive) + dir + kHelpFileName;
    if (help.size() >= MAX_PATH)
        return;
    ShowHelpTopic(help.c_str());
}

void CUpdateDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    const BOOL idle = ::IsWindowEnabled(GetItem(IDC_START));
    const UINT command = nID & 0xFFF0;

    if (command == IDM_ABOUTBOX)
    {
        CAboutDlg about;
        about.DoModal();
        return;
    }
    if (!idle && (command == SC_MOUSEMENU || command == SC_DEFAULT || command == SC_KEYMENU))
        return;
    CDialog::OnSysCommand(nID, lParam);
}

void CUpdateDlg::OnPaint()
{
    if (!IsIconic())
    {
        CDialog::OnPaint();
        return;
    }
    PAINTSTRUCT ps;
    HDC hDC = ::BeginPaint(m_hWnd, &ps);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hDC), 0);

    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    ::GetClientRect(m_hWnd, &rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;

    ::DrawIcon(hDC, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &ps);
}

HCURSOR CUpdateDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

HBRUSH CUpdateDlg::OnCtlColor(HDC hDC, CWnd* pWnd, UINT nCtlColor)
{
    HBRUSH hBrush = CDialog::OnCtlColor(hDC, pWnd, nCtlColor);
    if (pWnd->m_hWnd == GetItem(IDC_CAUTION))
        ::SetTextColor(hDC, kCautionTextColour);
    return hBrush;
}

void CUpdateDlg::OnContextMenu(HWND, POINT) {}

void CUpdateDlg::OnActivate(UINT nState, HWND hWndOther, BOOL bMinimized)
{
    CDialog::OnActivate(nState, hWndOther, bMinimized);
}
