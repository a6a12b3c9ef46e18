// Transfer of the firmware image in twelve address blocks of 128-byte chunks.
#include "payload/Payload.h"
#include "ui/Texts.h"
#include "ui/UpdateDlg.h"
#include "update/BlockTable.h"

namespace
{
const BYTE kWriteCommand[] = {0x57, 0x00};
const BYTE kAck = 0x06;
const BYTE kChunkHandshake = 0x11;
const DWORD kChunkBytes = 128;
const UINT kAckTimeoutMs = 1000;
// Percentages are taken of the offset of the image's last byte, one less than
// its size; the last chunk sets no position, so the bar stops at 99 while the
// label ends at "100%".
const DWORD kPercentDivisor = kFirmwareImageBytes - 1;

void PutBigEndian(BYTE* out, DWORD value)
{
    out[0] = static_cast<BYTE>(value >> 24);
    out[1] = static_cast<BYTE>(value >> 16);
    out[2] = static_cast<BYTE>(value >> 8);
    out[3] = static_cast<BYTE>(value);
}
}  // namespace

int CUpdateDlg::TransferFirmware(const BYTE* image)
{
    StartPhase(kTransferringText, 0);

    // Sends the bytes, then waits for the unit to answer with `answer`.
    auto sendAwaiting = [this](const BYTE* bytes, DWORD count, const BYTE& answer) {
        return WritePort(bytes, count) && WaitForBytes(kAckTimeoutMs, &answer, 1) ? 1 : 0;
    };

    DWORD offset = 0;
    for (int b = 0; b < kBlockCount; ++b)
    {
        const DWORD blockStart = offset;
        if (!sendAwaiting(kWriteCommand, sizeof kWriteCommand, kAck))
            return 0;

        BYTE number[4];
        PutBigEndian(number, BlockTable[b].address);
        if (!WritePort(number, sizeof number))
            return 0;
        DWORD remaining = BlockTable[b].size;
        PutBigEndian(number, remaining);
        if (!sendAwaiting(number, sizeof number, kChunkHandshake) || !WritePort(&kChunkHandshake, 1))
            return 0;

        for (;;)
        {
            if (!sendAwaiting(image + offset, kChunkBytes, kChunkHandshake) || !WritePort(&kChunkHandshake, 1))
                return 0;
            remaining -= kChunkBytes;
            offset += kChunkBytes;
            if (remaining == 0)
                break;

            ShowProgress(static_cast<int>(offset * 100 / kPercentDivisor));

            PumpOneMessage();
            if (m_bCancel == 1)
                return 0;
        }

        const BYTE checksum = BlockChecksum(image + blockStart, BlockTable[b].size);
        if (!sendAwaiting(&checksum, 1, kAck))
            return 0;

        if (b == kBlockCount - 1)
        {
            m_strPercent = PercentText(100);
            PushLabels();
            return 1;
        }
        PumpOneMessage();
        if (m_bCancel == 1)
            return 0;
    }
    return 0;
}
