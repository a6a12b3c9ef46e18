#include "ui/Texts.h"

const char kCaption[] = "QV-6100 Update";

const char kNoPortsText[] = "There are no serial ports available.";

const char kOpenFailedText[] = "Failed to open serial port.";

const char kConnectText[] =
    "To start communication between the PC and QV-6100: \n\n"
    "1. Switch off the QV-6100 power.\n"
    "2. Connect the QV-6100 to the PC using an RS-232C cable. \n"
    "3. Switch on the QV-6100 power. \n\n"
    "When you are ready, click OK to continue.";

const char kNotDetectedText[] = "Could not detect the QV-6100.";

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

const char kFailedText[] =
    "Failed!  The firmware has not been updated. \n\n"
    "Remove and reconnect the power supply cable.\n"
    "Then repeat the firmware writing step.";

const char kCompletedText[] = "Completed!  The firmware has been updated.";

const char kNormalModeText[] =
    "To return the QV-6100 to normal mode: \n\n"
    "1. Remove the power supply cable from the QV-6100.\n"
    "2. Remove the RS-232C cable from the QV-6100.\n"
    "3. Turn the switch (S1) OFF.\n"
    "4. Reattach the bottom cover of the QV-6100.\n"
    "5. Reconnect the power supply cable to the QV-6100.\n"
    "6. Execute the FULL RESET function of the QV-6100.";

const char kTestText[] = "Test";

const char kIdleStatusText[] = "Select a serial port, then click OK to continue.";
const char kLoadingProgramText[] = "Loading a Write Control Program...";
const char kDeletingText[] = "Deleting the Old Firmware Program...";
const char kTransferringText[] = "Transferring the new firmware...";

std::string PercentText(int percent)
{
    return std::to_string(percent) + "%";
}
