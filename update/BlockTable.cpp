#include "update/BlockTable.h"

const FirmwareBlock BlockTable[kBlockCount] = {
    {0x00000, 0x1000}, {0x01000, 0x1000}, {0x02000, 0x1000}, {0x03000, 0x1000},
    {0x04000, 0x1000}, {0x05000, 0x1000}, {0x06000, 0x1000}, {0x07000, 0x1000},
    {0x08000, 0x8000}, {0x10000, 0x10000}, {0x20000, 0x10000}, {0x30000, 0x10000},
};

BYTE BlockChecksum(const BYTE* data, DWORD size)
{
    BYTE sum = 0;
    for (DWORD i = 0; i < size; ++i)
        sum = static_cast<BYTE>(sum + data[i]);
    return static_cast<BYTE>(~sum);
}
