// Test doubles: the CUpdateDlg members defined in ui/UpdateDlg.cpp that the
// serial link and the engine use: the progress view, the labels, the caution
// and the message boxes are recorded on fake::TheScreen(); the timer and the
// Cancel button behave as in the product. And the registry marker, in memory.
#include "ui/UpdateDlg.h"

#include "support/Fake.h"
#include "update/Registry.h"

#ifndef QV_NATIVE_FRAMEWORK
#error "ui/UpdateDlg.h must see the native stand-in of framework/Framework.h: put tests/native/shim first on the include path"
#endif

CUpdateDlg::CUpdateDlg(CWnd* pParent) : CDialog(IDD_UPDATE_DIALOG, pParent), m_bCancel(0), m_bTimeout(0), m_hIcon(nullptr)
{
}

BEGIN_MESSAGE_MAP(CUpdateDlg, CDialog)
    ON_WM_TIMER()
    ON_BN_CLICKED(IDC_CANCEL_RUN, &CUpdateDlg::OnCancelRun)
END_MESSAGE_MAP()

void CUpdateDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    if (!pDX->m_bSaveAndValidate)
        fake::TheScreen().labels.emplace_back(m_strStatus, m_strPercent);
}

BOOL CUpdateDlg::OnInitDialog()
{
    return TRUE;
}

void CUpdateDlg::OnOK() {}

void CUpdateDlg::OnCancel() {}

void CUpdateDlg::OnCancelRun()
{
    m_bCancel = 1;
}

void CUpdateDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == TIMEOUT_TIMER_ID)
        m_bTimeout = 1;
    CDialog::OnTimer(nIDEvent);
}

void CUpdateDlg::SetProgressRange()
{
    fake::TheScreen().rangeSet = true;
}

void CUpdateDlg::SetProgressPos(int nPos)
{
    fake::TheScreen().positions.push_back(nPos);
}

void CUpdateDlg::PushLabels()
{
    UpdateData(FALSE);
}

void CUpdateDlg::ShowCaution(BOOL bShow)
{
    fake::TheScreen().caution = bShow != FALSE;
}

int CUpdateDlg::ShowMessage(LPCSTR lpszText, LPCSTR lpszCaption, UINT nType)
{
    fake::Screen& screen = fake::TheScreen();
    screen.messages.push_back(fake::Message{lpszText ? lpszText : "", lpszCaption ? lpszCaption : "", nType});
    return screen.answer;
}

// ---------------------------------------------------------------------------
// The registry marker of update/Registry.h, kept in memory.

namespace fake
{
DWORD& Marker()
{
    static DWORD marker = 0;
    return marker;
}
}  // namespace fake

void ReadMarker(DWORD& marker)
{
    if (fake::Marker() != 0)
        marker = fake::Marker();
}

void WriteMarker()
{
    fake::Marker() = DETECTED_MARKER;
}
