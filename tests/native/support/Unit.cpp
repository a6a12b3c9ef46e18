#include "support/Unit.h"

#include <utility>

namespace qvnative
{
namespace
{
using Replies = std::vector<fake::Reply>;

// How long the PC waits for each answer, from the write that asks for it
// (for the completion byte, from the last echo).
const std::int64_t kTextReplyTimeoutMs = 200;
const std::int64_t kHandshakeTimeoutMs = 200;
const std::int64_t kAckTimeoutMs = 1000;
const std::size_t kChunkBytes = 128;

const fake::Bytes kQuery = {';', ';', ';', 'T', 'Y', ';'};
const fake::Bytes kBurst(10, 0x00);

std::uint32_t BigEndian(const fake::Bytes& b)
{
    return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
           static_cast<std::uint32_t>(b[2]) << 8 | b[3];
}
}  // namespace

std::shared_ptr<Unit> Unit::Connect()
{
    auto unit = std::make_shared<Unit>();
    fake::SetResponder([unit](const fake::Bytes& w, std::size_t) { return unit->Receive(w); });
    return unit;
}

void Unit::Inject(FaultAt fault)
{
    m_fault = fault;
    confused = false;
    answered.clear();
    lengths.clear();
}

void Unit::Erase()
{
    flash.assign(kFlashBytes, 0xFF);
    blocksAccepted = 0;
    m_state = State::Command;
}

Replies Unit::Receive(const fake::Bytes& w)
{
    // The query and the alignment burst are where the user has put the unit
    // into normal or writing mode, with its power cycled.
    if (w == kQuery)
    {
        m_state = State::Normal;
        return Answer(Phase::Identify, {'T', 'Y', '2', '1', '0', ';'}, kAnswerMs, kTextReplyTimeoutMs);
    }
    if (w == kBurst)
    {
        m_state = State::Confirm;
        return Answer(Phase::Align, {0x00}, kAnswerMs, kHandshakeTimeoutMs);
    }
    switch (m_state)
    {
    case State::Normal:
        return Confused();
    case State::Confirm:
        if (w != fake::Bytes{0x55})
            return Confused();
        m_state = State::Program;
        program.clear();
        return Answer(Phase::Confirm, {0xAA}, kAnswerMs, kHandshakeTimeoutMs);
    case State::Program:
    {
        if (w.size() != 1)
            return Confused();
        program.push_back(w[0]);
        // The program starts with its length after the two length bytes.
        const bool last = program.size() >= 2 && program.size() == 2u + (program[0] << 8 | program[1]);
        if (!last)
            return Answer(Phase::Echo, w, kAnswerMs, kAckTimeoutMs);
        Replies replies = Answer(Phase::LastEcho, w, kAnswerMs, kAckTimeoutMs);
        // The erase starts once the echo is out, whenever that was.
        std::int64_t echoMs = kAnswerMs;
        for (const fake::Reply& r : replies)
            echoMs = r.delayMs;
        Erase();
        for (fake::Reply& r : Answer(Phase::Completion, {0xAA}, echoMs + kEraseMs, echoMs + kAckTimeoutMs))
            replies.push_back(std::move(r));
        return replies;
    }
    case State::Command:
        if (w != fake::Bytes{0x57, 0x00})
            return Confused();
        m_state = State::Address;
        return Answer(Phase::Open, {0x06}, kAnswerMs, kAckTimeoutMs);
    case State::Address:
        if (w.size() != 4)
            return Confused();
        m_address = BigEndian(w);
        m_state = State::Size;
        return {};
    case State::Size:
        m_remaining = w.size() == 4 ? BigEndian(w) : 0;
        if (m_remaining == 0 || m_remaining % kChunkBytes != 0 || m_address % kChunkBytes != 0 ||
            m_address > kFlashBytes || m_remaining > kFlashBytes - m_address)
            return Confused();
        m_sum = 0;
        m_state = State::ReadyEcho;
        return Answer(Phase::Ready, {0x11}, kAnswerMs, kAckTimeoutMs);
    case State::ReadyEcho:
    case State::ChunkEcho:
        if (w != fake::Bytes{0x11})
            return Confused();
        m_state = m_remaining > 0 ? State::Chunk : State::Checksum;
        return {};
    case State::Chunk:
        if (w.size() != kChunkBytes)
            return Confused();
        for (std::uint8_t b : w)
        {
            flash[m_address++] = b;
            m_sum = static_cast<std::uint8_t>(m_sum + b);
        }
        m_remaining -= kChunkBytes;
        m_state = State::ChunkEcho;
        return Answer(Phase::Chunk, {0x11}, kAnswerMs, kAckTimeoutMs);
    case State::Checksum:
    {
        if (w.size() != 1)
            return Confused();
        const bool good = w[0] == static_cast<std::uint8_t>(~m_sum);
        blocksAccepted += good ? 1 : 0;
        m_state = State::Command;
        return Answer(Phase::Checksum, {static_cast<std::uint8_t>(good ? 0x06 : 0x15)}, kAnswerMs, kAckTimeoutMs);
    }
    }
    return Confused();
}

Replies Unit::Answer(Phase phase, fake::Bytes bytes, std::int64_t delayMs, std::int64_t timeoutMs)
{
    const bool spoiled = m_fault.kind != Fault::None && answered.size() == m_fault.answer;
    answered.push_back(phase);
    lengths.push_back(bytes.size());
    if (!spoiled)
        return {{delayMs, bytes}};
    switch (m_fault.kind)
    {
    case Fault::Silence:
        return {};
    case Fault::WrongByte:
        bytes.at(m_fault.byte) ^= 0xFF;
        return {{delayMs, bytes}};
    case Fault::CableCut:
        return {{delayMs, {}, true}};
    case Fault::StrayByte:
        bytes.push_back(kStrayByte);
        return {{delayMs, bytes}};
    case Fault::Split:
    {
        const auto half = bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2);
        return {{delayMs, fake::Bytes(bytes.begin(), half)}, {delayMs + kFewMs, fake::Bytes(half, bytes.end())}};
    }
    case Fault::JustPast:
        return {{timeoutMs + kFewMs, bytes}};
    case Fault::JustInside:
        return {{timeoutMs - kFewMs, bytes}};
    default:
        return {{delayMs, bytes}};
    }
}

// A real unit would not know what to do with the write: it gives no answer.
Replies Unit::Confused()
{
    confused = true;
    return {};
}
}  // namespace qvnative
