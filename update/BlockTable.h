// Where the firmware image goes in the unit: twelve contiguous blocks that
// cover 0x00000 to 0x3FFFF, each a multiple of 128 bytes.
#pragma once

#include <windows.h>

struct FirmwareBlock
{
    DWORD address;
    DWORD size;
};

const int kBlockCount = 12;
extern const FirmwareBlock BlockTable[kBlockCount];

// One's complement of the 8-bit sum of the bytes: the block checksum the
// unit acknowledges.
BYTE BlockChecksum(const BYTE* data, DWORD size);
