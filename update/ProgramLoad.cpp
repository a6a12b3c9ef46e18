// Bit-rate alignment with the unit in firmware writing mode, and the load of
// the write control program.
#include "payload/Payload.h"
#include "serial/SerialLink.h"
#include "ui/Texts.h"
#include "ui/UpdateDlg.h"

namespace
{
const BYTE kAlignByte = 0x00;
const int kAlignBurstBytes = 10;
const int kAlignAttempts = 5;
const BYTE kConfirmByte = 0x55;
const BYTE kConfirmReply = 0xAA;
const BYTE kErasedByte = 0xAA;  // the unit's last byte once the old firmware is deleted
const UINT kHandshakeTimeoutMs = 200;
const UINT kEchoTimeoutMs = 1000;
}  // namespace

int CUpdateDlg::SyncBitRate()
{
    static const BYTE kBurst[kAlignBurstBytes] = {};
    BYTE reply[kReplyBufferBytes];
    reply[0] = 0xFF;  // nothing received reads as failure

    // 1 once the ring holds an answer, 0 when the time-out has ticked first.
    auto awaitAnswer = [this] {
        for (;;)
        {
            if (!RingEmpty())
                return 1;
            ::Sleep(kWaitStepMs);
            PumpOneMessage();
            if (m_bTimeout == 1)
                return 0;
        }
    };

    for (int attempt = 0; attempt < kAlignAttempts && reply[0] != kAlignByte; ++attempt)
    {
        if (!WritePort(kBurst, sizeof kBurst))
            return 0;
        ArmTimeout(kHandshakeTimeoutMs);
        if (awaitAnswer() && (DrainRing(reply, kReplyBufferBytes) != 1 || reply[0] != kAlignByte))
            return 0;
    }
    if (reply[0] != kAlignByte)
        return 0;

    if (!WritePort(&kConfirmByte, 1))
        return 0;
    ArmTimeout(kHandshakeTimeoutMs);
    if (!awaitAnswer() || DrainRing(reply, kReplyBufferBytes) != 1)
        return 0;
    return reply[0] == kConfirmReply ? 1 : 0;
}

// Waits up to 1000 ms for the unit to send something, then reads the bytes
// the wait saw queued into rx. *pRead is the number of bytes read.
int CUpdateDlg::AwaitDirectRead(BYTE* rx, DWORD* pRead)
{
    ArmTimeout(kEchoTimeoutMs);
    DWORD queued = 0;
    do
    {
        PumpOneMessage();
        ::Sleep(kWaitStepMs);
        if (m_bTimeout == 1)
            return 0;
        if (m_bCancel == 1)
            return 0;
        queued = QueuedBytes();
    } while (queued == 0);

    if (!ReadPortDirect(rx, queued, pRead))
        ShowMessage(kTestText, nullptr, MB_OK);
    return 1;
}

int CUpdateDlg::LoadWriteControlProgram()
{
    StartPhase(kLoadingProgramText);

    // From here the port is read directly, not through the ring.
    StopReader();

    BYTE rx[kReplyBufferBytes];
    DWORD lastRead = 0;
    for (int i = 0; i < kWriteControlProgramBytes; ++i)
    {
        if (!WritePort(&WriteControlProgram[i], 1))
            return 0;

        ShowProgress(i * 100 / kWriteControlProgramBytes + 1);

        PumpOneMessage();
        if (m_bCancel == 1)
            return 0;

        // The unit echoes each byte; the echo is consumed and not compared.
        if (!AwaitDirectRead(rx, &lastRead))
            return 0;
    }

    m_strStatus = kDeletingText;
    PushLabels();
    SetProgressPos(100);

    // The completion byte may have come with the last echo; if not, wait for it.
    if (lastRead != 2 && !AwaitDirectRead(rx, &lastRead))
        return 0;
    if (lastRead == 0 || rx[lastRead - 1] != kErasedByte)
        return 0;

    StartReader();
    return 1;
}
