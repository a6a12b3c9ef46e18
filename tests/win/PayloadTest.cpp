// What the program carries and how it addresses the unit's flash.
#include "payload/Payload.h"
#include "update/BlockTable.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Payload, BlocksCoverTheImageContiguouslyInWholeChunks)
{
    DWORD next = 0;
    for (int b = 0; b < kBlockCount; ++b)
    {
        EXPECT_EQ(next, BlockTable[b].address) << "block " << b;
        EXPECT_EQ(0u, BlockTable[b].size % 128) << "block " << b;
        next = BlockTable[b].address + BlockTable[b].size;
    }
    EXPECT_EQ(static_cast<DWORD>(kFirmwareImageBytes), next);
}

TEST(Payload, ChecksumIsTheComplementOfTheByteSum)
{
    std::vector<BYTE> blank(4096, 0xFF);
    EXPECT_EQ(0xFF, BlockChecksum(blank.data(), 4096)) << "4096 x 0xFF sums to 0x00";
    const BYTE some[] = {0x01, 0x02, 0xFE};  // sum 0x101 -> 0x01
    EXPECT_EQ(0xFE, BlockChecksum(some, 3));
    EXPECT_EQ(0xFF, BlockChecksum(some, 0));
}
