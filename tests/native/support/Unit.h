// A QV-6100 on the far end of the fake port, written from the unit's side of
// the protocol: in normal mode it answers the identification query, in
// firmware writing mode it aligns, echoes the write control program, erases
// its flash and takes the firmware blocks with their checks. It can spoil one
// of its answers, numbered from 0 in the order it gives them.
#pragma once

#include "support/Fake.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qvnative
{
// What an answer of the unit answers.
enum class Phase
{
    Identify,    // "TY210;" to ";;;TY;"
    Align,       // 0x00 to a burst of ten 0x00
    Confirm,     // 0xAA to 0x55
    Echo,        // a program byte back
    LastEcho,    // the last program byte back
    Completion,  // 0xAA: the old firmware is erased
    Open,        // 0x06 to the write command
    Ready,       // 0x11 to the block's address and size
    Chunk,       // 0x11 to 128 data bytes
    Checksum,    // 0x06 to the block's checksum (0x15 if it is wrong)
    Count,
};

enum class Fault
{
    Silence,     // the answer never comes
    WrongByte,   // one of its bytes inverted
    CableCut,    // the cable is pulled when it would come
    StrayByte,   // one more byte with it
    Split,       // in two pieces, a few ms apart
    JustPast,    // a few ms after the PC's wait for it ran out
    JustInside,  // a few ms before that
    Count,
    None = Count,
};

struct FaultAt
{
    Fault kind = Fault::None;
    std::size_t answer = 0;  // which answer, counted from the injection
    std::size_t byte = 0;    // which byte a WrongByte inverts
};

class Unit
{
public:
    // Each answer's delay after the PC's write that asks for it.
    static constexpr std::int64_t kAnswerMs = 4;
    // From the last echo to the completion byte: the erase.
    static constexpr std::int64_t kEraseMs = 5;
    // How far a late answer is from the end of the PC's wait, either side,
    // and how far apart the pieces of a split one are.
    static constexpr std::int64_t kFewMs = 3;
    static constexpr std::uint8_t kStrayByte = 0x5A;
    static constexpr std::size_t kFlashBytes = 0x40000;

    // Answers the PC's writes on the fake port from now on.
    static std::shared_ptr<Unit> Connect();

    // The next answers are counted from 0 again; the one FaultAt names is
    // spoiled. Fault::None spoils nothing.
    void Inject(FaultAt fault);
    // As after the write control program: flash erased, the first block next.
    void Erase();

    std::vector<fake::Reply> Receive(const fake::Bytes& written);

    fake::Bytes flash = fake::Bytes(kFlashBytes, 0x00);  // the old firmware until the erase
    fake::Bytes program;                // the write control program as received
    int blocksAccepted = 0;             // checksums acknowledged since the last erase
    bool confused = false;              // since the injection, a write the protocol does not allow then
    std::vector<Phase> answered;        // every answer given or spoiled since the injection, in order
    std::vector<std::size_t> lengths;   // and its length in bytes

private:
    enum class State
    {
        Normal,
        Confirm,
        Program,
        Command,
        Address,
        Size,
        ReadyEcho,
        Chunk,
        ChunkEcho,
        Checksum,
    };

    std::vector<fake::Reply> Answer(Phase phase, fake::Bytes bytes, std::int64_t delayMs, std::int64_t timeoutMs);
    std::vector<fake::Reply> Confused();

    State m_state = State::Normal;
    FaultAt m_fault;
    std::uint32_t m_address = 0;
    std::uint32_t m_remaining = 0;
    std::uint8_t m_sum = 0;
};
}  // namespace qvnative
