// The members through which the run reaches the screen and the user: the
// labels, the progress bar, the caution, the message boxes, and the handlers
// of the time-out timer and the Cancel button.
#include "ui/UpdateDlg.h"

#include "ui/Texts.h"

#include <commctrl.h>

namespace
{
const int kProgressMax = 100;
}  // namespace

void CUpdateDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_STATUS, m_strStatus);
    DDX_Text(pDX, IDC_PERCENT, m_strPercent);
}

// Enter and Escape reach the dialog as OK and Cancel, also while a run pumps
// its messages: neither ends the dialog.
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

void CUpdateDlg::SetProgressPos(int nPos)
{
    SendItemMessage(IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(nPos));
}

void CUpdateDlg::PushLabels()
{
    UpdateData(FALSE);
}

void CUpdateDlg::StartPhase(LPCSTR lpszStatus, int nPercent)
{
    SendItemMessage(IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, kProgressMax));
    m_strStatus = lpszStatus;
    if (nPercent != kNoPercent)
        m_strPercent = PercentText(nPercent);
    PushLabels();
}

void CUpdateDlg::ShowProgress(int nPercent)
{
    SetProgressPos(nPercent);
    m_strPercent = PercentText(nPercent);
    PushLabels();
}

void CUpdateDlg::ShowCaution(BOOL bShow)
{
    ShowItem(IDC_CAUTION, bShow ? SW_SHOW : SW_HIDE);
}

int CUpdateDlg::ShowMessage(LPCSTR lpszText, LPCSTR lpszCaption, UINT nType)
{
    return MessageBox(lpszText, lpszCaption, nType);
}
