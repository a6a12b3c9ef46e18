// The update run: identification stage, firmware-writing stage, clean-up.
#include "payload/Payload.h"
#include "ui/Texts.h"
#include "ui/UpdateDlg.h"
#include "update/Registry.h"
#include "update/RunRequests.h"

void CUpdateDlg::RunUpdate()
{
    RunRequests requests;
    DWORD marker = 0;

    ReadMarker(marker);
    if (marker != DETECTED_MARKER)
    {
        if (ShowMessage(kConnectText, kCaption, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
            return;
        if (!OpenPort())
            return;
        StartReader();
        if (DetectDevice())
        {
            marker = DETECTED_MARKER;
            WriteMarker();
        }
        StopReader();
        ClosePort();
    }

    if (marker == DETECTED_MARKER && WriteStage(marker) == StageEnd::ReturnAtOnce)
        return;

    StopReader();
    ClosePort();
    SetProgressPos(0);
    m_strStatus = kIdleStatusText;
    m_strPercent.clear();
    PushLabels();
}

CUpdateDlg::StageEnd CUpdateDlg::WriteStage(DWORD& marker)
{
    // Reading the marker back tells whether the write above took effect:
    // writing under HKEY_LOCAL_MACHINE needs administrative rights.
    ReadMarker(marker);
    if (marker != DETECTED_MARKER)
    {
        ShowMessage(kAdminText, kCaption, MB_ICONHAND);
        return StageEnd::CleanUp;
    }

    if (ShowMessage(kWritingModeText, kCaption, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
        return StageEnd::CleanUp;
    if (!OpenPort())
        return StageEnd::ReturnAtOnce;
    ShowCaution(TRUE);
    StartReader();

    if (!SyncBitRate())
    {
        ShowMessage(kNotDetectedText, kCaption, MB_ICONEXCLAMATION);
    }
    else if (!LoadWriteControlProgram() || !TransferFirmware(FirmwareImage))
    {
        ShowMessage(kFailedText, kCaption, MB_ICONEXCLAMATION);
    }
    else
    {
        ShowMessage(kCompletedText, kCaption, MB_ICONINFORMATION);
        ShowMessage(kNormalModeText, kCaption, MB_ICONINFORMATION);
    }

    ShowCaution(FALSE);
    return StageEnd::CleanUp;
}
