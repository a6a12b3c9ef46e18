// Identification over the unit's text command interface.
#include "serial/SerialLink.h"
#include "ui/Texts.h"
#include "ui/UpdateDlg.h"

#include <cstring>

namespace
{
// Three empty commands, then the identification query "TY;".
const BYTE kIdentifyCommand[] = {';', ';', ';', 'T', 'Y', ';'};
const UINT kReplyTimeoutMs = 200;
const int kAcceptIndex = 4;  // the fifth character of "TY...;" must be '0'
// A busy unit gets the full time again after each "?;", but only so often: a
// unit that never stops answering "?;" must not hold the run for ever (the
// identification does not look at Cancel).
const int kMaxBusyRestarts = 10;
}  // namespace

int CUpdateDlg::DetectDevice()
{
    // The reply is gathered piece by piece up to its ';' and judged whole, so
    // a reply that reaches the ring in two pieces is still recognised.
    BYTE reply[kReplyBufferBytes];
    BYTE piece[kReplyBufferBytes];
    int replyLength = 0;
    int busyRestarts = 0;
    std::memset(reply, 0, sizeof reply);

    if (!WritePort(kIdentifyCommand, sizeof kIdentifyCommand))
        return 0;
    ArmTimeout(kReplyTimeoutMs);

    for (;;)
    {
        const int n = ReadReply(piece);
        if (n > 0)
        {
            const int room = kReplyBufferBytes - replyLength;
            const int keep = n < room ? n : room;
            std::memcpy(reply + replyLength, piece, static_cast<size_t>(keep));
            replyLength += keep;

            if (piece[n - 1] == ';')
            {
                if (reply[0] == 'T' && reply[1] == 'Y')
                {
                    KillTimer(TIMEOUT_TIMER_ID);
                    if (replyLength > kAcceptIndex && reply[kAcceptIndex] == '0')
                    {
                        m_bTimeout = 0;
                        return 1;
                    }
                    ShowMessage(kNotDetectedText, kCaption, MB_ICONEXCLAMATION);
                    return 0;
                }
                // "?;": the unit is busy; give it the full time again.
                if (reply[0] == '?' && reply[1] == ';' && busyRestarts < kMaxBusyRestarts)
                {
                    ++busyRestarts;
                    ArmTimeout(kReplyTimeoutMs);
                }
                std::memset(reply, 0, sizeof reply);
                replyLength = 0;
            }
        }
        PumpOneMessage();
        ::Sleep(kWaitStepMs);
        if (m_bTimeout == 1)
        {
            KillTimer(TIMEOUT_TIMER_ID);
            ShowMessage(kNotDetectedText, kCaption, MB_ICONEXCLAMATION);
            return 0;
        }
    }
}
