// The update run: identification stage, firmware-writing stage, clean-up.
#include "payload/Payload.h"
#include "ui/UpdateDlg.h"
#include "update/Registry.h"
#include "update/Texts.h"
#include "update/TimerResolution.h"

const char kCaption[] = "QV-6100 Update";
const char kIdleStatusText[] = "Select a serial port, then click OK to continue.";
const char kNotDetectedText[] = "Could not detect the QV-6100.";
const char kFailedText[] =
    "Failed!  The firmware has not been updated. \n\n"
    "Remove and reconnect the power supply cable.\n"
    "Then repeat the firmware writing step.";

namespace
{
const char kConnectText[] =
    "To start communication between the PC and QV-6100: \n\n"
    "1. Switch off the QV-6100 power.\n"
    "2. Connect the QV-6100 to the PC using an RS-232C cable. \n"
    "3. Switch on the QV-6100 power. \n\n"
    "When you are ready, click OK to continue.";

const char kAdminText[] = "You need administrative privileges.";

const char kWritingModeText[] =
    "To set the QV-6100 to firmware writing mode: \n\n"
    "1. Remove the power supply cable from the QV-6100.\n"
    "2. Remove the RS-232C cable from the QV-6100.\n"
    "3. Remove the bottom cover of the QV-6100.\n"
    "4. Turn the switch (S1) ON.\n"
    "5. Reconnect the RS-232C cable to the QV-6100.\n"
    "6. Reconnect the power supply cable to the QV-6100.\n\n"
    "When you are ready, click OK to start writing the new firmware.\n"
    "It takes about 7 minutes to write the new firmware.";

const char kCompletedText[] = "Completed!  The firmware has been updated.";

const char kNormalModeText[] =
    "To return the QV-6100 to normal mode: \n\n"
    "1. Remove the power supply cable from the QV-6100.\n"
    "2. Remove the RS-232C cable from the QV-6100.\n"
    "3. Turn the switch (S1) OFF.\n"
    "4. Reattach the bottom cover of the QV-6100.\n"
    "5. Reconnect the power supply cable to the QV-6100.\n"
    "6. Execute the FULL RESET function of the QV-6100.";
}  // namespace

void CUpdateDlg::RunUpdate()
{
    TimerResolution resolution;
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

    if (marker == DETECTED_MARKER && !WriteStage(marker))
        return;

    StopReader();
    ClosePort();
    SetProgressPos(0);
    m_strStatus = kIdleStatusText;
    m_strPercent.clear();
    PushLabels();
}

// Returns 0 when RunUpdate is to return at once, 1 when its clean-up follows.
int CUpdateDlg::WriteStage(DWORD& marker)
{
    // Reading the marker back tells whether the write above took effect:
    // writing under HKEY_LOCAL_MACHINE needs administrative rights.
    ReadMarker(marker);
    if (marker != DETECTED_MARKER)
    {
        ShowMessage(kAdminText, kCaption, MB_ICONHAND);
        return 1;
    }

    if (ShowMessage(kWritingModeText, kCaption, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
        return 1;
    if (!OpenPort())
        return 0;
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
    return 1;
}
