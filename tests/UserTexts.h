// The texts the user sees, written out here as every test expects them: the
// tests' own copy, apart from the program's (ui/Texts.cpp and the
// resource script), under the same names.
#pragma once

namespace qvtest
{

// The record the identification leaves in the registry (the value "Data").
inline const unsigned long kRecordValue = 3120;

// Message boxes: their caption, then their texts.
inline const char kCaption[] = "QV-6100 Update";
inline const char kNoPortsText[] = "There are no serial ports available.";
inline const char kOpenFailedText[] = "Failed to open serial port.";
inline const char kConnectText[] =
    "To start communication between the PC and QV-6100: \n\n"
    "1. Switch off the QV-6100 power.\n"
    "2. Connect the QV-6100 to the PC using an RS-232C cable. \n"
    "3. Switch on the QV-6100 power. \n\n"
    "When you are ready, click OK to continue.";
inline const char kNotDetectedText[] = "Could not detect the QV-6100.";
inline const char kAdminText[] = "You need administrative privileges.";
inline const char kWritingModeText[] =
    "To set the QV-6100 to firmware writing mode: \n\n"
    "1. Remove the power supply cable from the QV-6100.\n"
    "2. Remove the RS-232C cable from the QV-6100.\n"
    "3. Remove the bottom cover of the QV-6100.\n"
    "4. Turn the switch (S1) ON.\n"
    "5. Reconnect the RS-232C cable to the QV-6100.\n"
    "6. Reconnect the power supply cable to the QV-6100.\n\n"
    "When you are ready, click OK to start writing the new firmware.\n"
    "It takes about 7 minutes to write the new firmware.";
inline const char kFailedText[] =
    "Failed!  The firmware has not been updated. \n\n"
    "Remove and reconnect the power supply cable.\n"
    "Then repeat the firmware writing step.";
inline const char kCompletedText[] = "Completed!  The firmware has been updated.";
inline const char kNormalModeText[] =
    "To return the QV-6100 to normal mode: \n\n"
    "1. Remove the power supply cable from the QV-6100.\n"
    "2. Remove the RS-232C cable from the QV-6100.\n"
    "3. Turn the switch (S1) OFF.\n"
    "4. Reattach the bottom cover of the QV-6100.\n"
    "5. Reconnect the power supply cable to the QV-6100.\n"
    "6. Execute the FULL RESET function of the QV-6100.";
inline const char kTestText[] = "Test";
// What the system says when a write fails because the cable is gone: Wine's
// text for ERROR_NOT_READY (a system text ends with a line break), and the
// native layer's stand-in for it.
inline const char kNotReadyText[] = "Not ready.\r\n";

// The status line.
inline const char kIdleStatusText[] = "Select a serial port, then click OK to continue.";
inline const char kLoadingProgramText[] = "Loading a Write Control Program...";
inline const char kDeletingText[] = "Deleting the Old Firmware Program...";
inline const char kTransferringText[] = "Transferring the new firmware...";
// The percentage at its widest.
inline const char kFullPercentText[] = "100%";

// The windows: the update dialog, its system menu, the About box, the help.
inline const char kDialogCaption[] = "Corvane QV-6100 Update";
inline const char kAboutMenuText[] = "&About QV-6100 Update...";
inline const char kAboutCaption[] = "About Corvane QV-6100 Update";
inline const char kAboutText[] = "Corvane QV-6100 Update\nVersion 1.09";
inline const char kHelpTitle[] = "QV-6100 Update Help";

}  // namespace qvtest
