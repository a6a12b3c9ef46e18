// The fuzz target of the receive path and reply handling: one input is one
// scripted device and one operation of the serial link or the engine, run on
// the fake port and the virtual clock. The input's layout:
//
//   op      1 byte   operation (value % 6): 0 DetectDevice, 1 SyncBitRate,
//                    2 LoadWriteControlProgram, 3 TransferFirmware,
//                    4 WaitForBytes, 5 ReadReply/DrainRing/RingEmpty loop
//   flags   1 byte   bit 0: the cable is pulled at a write    -> 2 bytes: write index (LE)
//                    bit 1: ReadFile gives at most N bytes     -> 1 byte: N - 1 (% 64)
//                    bit 2: Cancel is clicked                  -> 2 bytes: ms (LE)
//                    (these follow in bit order)
//   op 4:            2 bytes time-out ms (LE, % 3001), 1 byte count - 1, then count expected bytes
//   op 5:            1 byte DrainRing capacity - 1, 1 byte seed of the call order
//   events, to the end: each
//           1 byte   trigger step: added to the previous event's trigger (0 = the
//                    operation's start, n = the n-th write of the PC)
//           1 byte   stride between repeats, in writes (0: all at the same trigger)
//           2 bytes  delay after the trigger, ms (LE, % 4096)
//           1 byte   repeats after the first
//           1 byte   length, then that many bytes the device sends
//
// fuzz/make_corpus.py writes inputs in this layout.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

