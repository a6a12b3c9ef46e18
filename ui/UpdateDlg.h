// The main dialog. It owns the update run: the serial link (serial/) and the
// update engine (update/) are member operations of this class, and reach the
// screen and the user only through the members declared under "Used by the
// engine".
#pragma once

#include "framework/Framework.h"
#include "ui/resource.h"

#include <string>

// Window timer that bounds every wait of the run.
const UINT_PTR TIMEOUT_TIMER_ID = 123;

class CUpdateDlg : public CDialog
{
public:
    explicit CUpdateDlg(CWnd* pParent = nullptr);

    enum
    {
        IDD = IDD_UPDATE_DIALOG
    };

    // ---- Used by the engine --------------------------------------------
    int m_bCancel = 0;   // 1 = Cancel pressed in this run; cleared by OnStart
    int m_bTimeout = 0;  // 1 = timer 123 ticked since the last wait was armed
    std::string m_strStatus;   // label IDC_STATUS
    std::string m_strPercent;  // label IDC_PERCENT

    void SetProgressPos(int nPos);
    void PushLabels();  // UpdateData(FALSE)
    // A phase begins: the bar's range, then the status line, and the percent
    // label unless kNoPercent, pushed to the screen.
    static const int kNoPercent = -1;
    void StartPhase(LPCSTR lpszStatus, int nPercent = kNoPercent);
    // The phase's progress: the bar, then the percent label.
    void ShowProgress(int nPercent);
    void ShowCaution(BOOL bShow);
    // Every message the run shows goes through here.
    int ShowMessage(LPCSTR lpszText, LPCSTR lpszCaption, UINT nType);

    // ---- Serial link (serial/) ----------------------------------------------
    static int ProbePort(const char* name);
    int OpenPort();
    void ClosePort();
    void StartReader();
    void StopReader();
    int WritePort(const BYTE* bytes, DWORD count);
    int ReadReply(BYTE* buffer);
    int RingEmpty() const;
    int DrainRing(BYTE* dest, int capacity);
    int ReadPortDirect(BYTE* dest, DWORD count, DWORD* pRead);
    DWORD QueuedBytes();
    int WaitForBytes(UINT timeoutMs, const BYTE* expected, int count);
    void ArmTimeout(UINT periodMs);
    void PumpOneMessage();

    // ---- Update engine (update/) ---------------------------------------------
    void RunUpdate();
    int DetectDevice();
    int SyncBitRate();
    int LoadWriteControlProgram();
    int TransferFirmware(const BYTE* image);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    void OnTimer(UINT_PTR nIDEvent);
    void OnCancelRun();
    void OnStart();
    void OnExit();
    void OnHelp();
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    HBRUSH OnCtlColor(HDC hDC, CWnd* pWnd, UINT nCtlColor);
    void OnContextMenu(HWND hWnd, POINT point);
    void OnActivate(UINT nState, HWND hWndOther, BOOL bMinimized);
    void OnDestroy();
    void EnumeratePorts();
    void EnableRunControls(bool bRunning);

    HICON m_hIcon;

    DECLARE_MESSAGE_MAP()

private:
    // How RunUpdate goes on after the writing stage.
    enum class StageEnd
    {
        CleanUp,       // the link stopped, the port closed, the labels idle
        ReturnAtOnce,  // the port did not open: nothing to clean up
    };
    StageEnd WriteStage(DWORD& marker);
    int AwaitDirectRead(BYTE* rx, DWORD* pRead);
};
