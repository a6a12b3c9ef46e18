#include "unit.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace qvsim {

const std::array<Block, kBlockCount> kBlockTable = {{
    {0x00000, 0x1000},
    {0x01000, 0x1000},
    {0x02000, 0x1000},
    {0x03000, 0x1000},
    {0x04000, 0x1000},
    {0x05000, 0x1000},
    {0x06000, 0x1000},
    {0x07000, 0x1000},
    {0x08000, 0x8000},
    {0x10000, 0x10000},
    {0x20000, 0x10000},
    {0x30000, 0x10000},
}};

namespace {

constexpr std::uint8_t kSyncByte = 0x00;
constexpr std::uint8_t kConfirmByte = 0x55;
constexpr std::uint8_t kAa = 0xAA;
constexpr std::uint8_t kWriteCommand = 0x57;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kGo = 0x11;

struct StepName
{
    Step step;
    const char* name;
};

constexpr StepName kStepNames[] = {
    {Step::Ty, "ty"},       {Step::Sync, "sync"},   {Step::Confirm, "confirm"},
    {Step::Echo, "echo"},   {Step::Erase, "erase"}, {Step::Open, "open"},
    {Step::Ready, "ready"}, {Step::Chunk, "chunk"}, {Step::Ack, "ack"},
};

struct FaultNameEntry
{
    FaultKind kind;
    const char* name;
    const char* what;
};

constexpr FaultNameEntry kFaultNames[] = {
    {FaultKind::None, "none", ""},
#define QVSIM_KIND(id, name, what) {FaultKind::id, name, what},
    QVSIM_FAULT_KINDS(QVSIM_KIND)
#undef QVSIM_KIND
};

std::string hex8(std::uint8_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

std::string hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%05x", static_cast<unsigned>(value));
    return text;
}

std::uint32_t bigEndian32(const Bytes& bytes, std::size_t offset)
{
    return (std::uint32_t{bytes[offset]} << 24) | (std::uint32_t{bytes[offset + 1]} << 16) |
           (std::uint32_t{bytes[offset + 2]} << 8) | std::uint32_t{bytes[offset + 3]};
}

Bytes toBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

}  // namespace

const char* stepName(Step step)
{
    for (const auto& entry : kStepNames)
    {
        if (entry.step == step)
        {
            return entry.name;
        }
    }
    return "?";
}

const char* faultName(FaultKind kind)
{
    for (const auto& entry : kFaultNames)
    {
        if (entry.kind == kind)
        {
            return entry.name;
        }
    }
    return "?";
}

std::string faultKindNames(const char* separator)
{
    std::string names;
    for (const auto& entry : kFaultNames)
    {
        if (entry.kind != FaultKind::None)
        {
            names += (names.empty() ? "" : separator) + std::string(entry.name);
        }
    }
    return names;
}

std::string faultKindMeanings()
{
    std::string meanings;
    for (const auto& entry : kFaultNames)
    {
        if (entry.kind != FaultKind::None)
        {
            meanings += (meanings.empty() ? "" : "; ") + std::string(entry.name) + " = " + entry.what;
        }
    }
    return meanings;
}

std::optional<Step> parseStep(const std::string& text)
{
    for (const auto& entry : kStepNames)
    {
        if (text == entry.name)
        {
            return entry.step;
        }
    }
    return std::nullopt;
}

std::optional<FaultKind> parseFaultKind(const std::string& text)
{
    for (const auto& entry : kFaultNames)
    {
        if (entry.kind != FaultKind::None && text == entry.name)
        {
            return entry.kind;
        }
    }
    return std::nullopt;
}

Unit::Unit(const Config& config) : config_(config), image_(kFlashSize, 0xFF)
{
    if (config_.baud > 0)
    {
        // 10 bits per byte (8N1), rounded up so consecutive bytes are never closer than a byte time.
        const Nanos bitsPerByteNanos = 10LL * 1000000000LL;
        byteTime_ = (bitsPerByteNanos + config_.baud - 1) / config_.baud;
    }
    powerOn(0, 0);
}

// As at power-on: the mode the switch S1 selects, nothing received, nothing
// pending. The flash keeps what was written to it.
void Unit::powerOn(Nanos at, Nanos quiet)
{
    s_ = Session{};
    if (config_.startInWriting)
    {
        s_.writing = true;
        s_.state = State::Align;
    }
    lineUsed_ = false;
    if (quiet == 0)
    {
        return;
    }
    ++update_;
    faultFired_ = config_.faultOnce;
    if (!tx_.empty())
    {
        tx_.clear();
        note("pending answers dropped by the power cycle", at);
    }
    note("power-on after " + std::to_string(quiet / kNanosPerMs) + " ms of quiet: update " +
             std::to_string(update_) + ", mode " + (s_.writing ? "writing" : "normal") +
             (config_.s1Auto ? " (s1 auto)" : ""),
         at);
}

void Unit::receive(const std::uint8_t* data, std::size_t size, Nanos readTime)
{
    for (std::size_t i = 0; i < size; ++i)
    {
        // A byte reaches the unit one byte time after it started: when the PC
        // wrote it, or when the previous byte had arrived, whichever is later.
        Nanos due = readTime;
        if (lastRxDue_ != std::numeric_limits<Nanos>::min())
        {
            due = std::max(due, lastRxDue_);
        }
        due += byteTime_;
        lastRxDue_ = due;
        rx_.push_back({data[i], due});
    }
}

Nanos Unit::txDue() const
{
    if (tx_.empty())
    {
        return kNever;
    }
    const Pending& front = tx_.front();
    if (front.kind == Output::Kind::Write && byteTime_ > 0)
    {
        // A byte appears on the line at the end of its byte time, which
        // starts when it is due or when the previous one has gone out.
        const Nanos start = lastTx_ == std::numeric_limits<Nanos>::min() ? front.at : std::max(front.at, lastTx_);
        return start + byteTime_;
    }
    return front.at;
}

Nanos Unit::rxDue() const
{
    return rx_.empty() ? kNever : std::max(rx_.front().due, s_.stallUntil);
}

Nanos Unit::nextDue() const
{
    return std::min(rxDue(), txDue());
}

std::vector<Output> Unit::advance(Nanos now)
{
    for (;;)
    {
        const Nanos rxAt = rxDue();
        const Nanos txAt = txDue();
        if (std::min(rxAt, txAt) > now)
        {
            break;
        }
        // Answers already scheduled leave before later input is looked at.
        if (txAt <= rxAt)
        {
            emitTx();
        }
        else
        {
            const Received received = rx_.front();
            rx_.pop_front();
            process(received.byte, rxAt);
        }
    }
    return std::exchange(out_, {});
}

void Unit::emitTx()
{
    const Nanos at = txDue();
    lastActivity_ = std::max(lastActivity_, at);
    Pending& front = tx_.front();
    switch (front.kind)
    {
    case Output::Kind::Write:
        if (byteTime_ > 0)
        {
            out_.push_back({Output::Kind::Write, at, Bytes{front.bytes.front()}, {}, 0, {front.tags.front()}});
            lastTx_ = at;
            front.bytes.erase(front.bytes.begin());
            front.tags.erase(front.tags.begin());
            if (front.bytes.empty())
            {
                tx_.pop_front();
            }
        }
        else
        {
            out_.push_back({Output::Kind::Write, at, std::move(front.bytes), {}, 0, std::move(front.tags)});
            lastTx_ = at;
            tx_.pop_front();
        }
        break;
    case Output::Kind::Unplug:
        out_.push_back({Output::Kind::Unplug, at, {}, {}, front.count, {}});
        tx_.clear();
        break;
    default:
        out_.push_back({front.kind, at, {}, {}, front.count, {}});
        tx_.pop_front();
        break;
    }
}

void Unit::queue(Pending pending)
{
    // The same hold for everything keeps the order of what the unit sends.
    pending.at += config_.latency;
    pending.seq = txSeq_++;
    auto position = std::upper_bound(tx_.begin(), tx_.end(), pending.at,
                                     [](Nanos at, const Pending& item) { return at < item.at; });
    tx_.insert(position, std::move(pending));
}

void Unit::queueWrite(Bytes bytes, Nanos at, std::optional<AnswerTag> tag)
{
    AnswerTags tags(bytes.size(), tag);
    queueWrite(std::move(bytes), at, std::move(tags));
}

void Unit::queueWrite(Bytes bytes, Nanos at, AnswerTags tags)
{
    if (!bytes.empty())
    {
        queue({at, 0, Output::Kind::Write, std::move(bytes), 0, std::move(tags)});
    }
}

void Unit::queueReply(const Reply& reply)
{
    switch (reply.kind)
    {
    case Reply::Kind::Bytes:
        queueWrite(reply.bytes, reply.at, reply.tag);
        queueWrite(reply.straggler, reply.at + reply.stragglerDelay, reply.tag);
        break;
    case Reply::Kind::BytesThenFlood:
        queueWrite(reply.bytes, reply.at, reply.tag);
        queue({reply.at, 0, Output::Kind::Flood, {}, config_.fault.floodBytes, {}});
        break;
    case Reply::Kind::Unplug:
        queue({reply.at, 0, Output::Kind::Unplug, {}, 0, {}});
        break;
    case Reply::Kind::BytesThenUnplug:
        queueWrite(reply.bytes, reply.at, reply.tag);
        // count 1: cut only once the PC has taken the answer off the line.
        queue({reply.at + config_.fault.delay, 0, Output::Kind::Unplug, {}, 1, {}});
        break;
    case Reply::Kind::Flood:
        queue({reply.at, 0, Output::Kind::Flood, {}, config_.fault.floodBytes, {}});
        break;
    case Reply::Kind::Nothing:
        break;
    }
}

Unit::Reply Unit::shape(Step step, std::uint32_t index, Bytes bytes, Nanos at)
{
    Reply reply;
    reply.bytes = std::move(bytes);
    reply.at = at;
    reply.tag = AnswerTag{step, index};
    const Fault& fault = config_.fault;
    if (faultFired_ || fault.kind == FaultKind::None || fault.at != step || fault.index != index)
    {
        return reply;
    }
    faultFired_ = true;
    std::string text = std::string("fault ") + faultName(fault.kind) + (fault.after ? " after " : " at ") +
                       stepName(step) + " " + std::to_string(index);
    if (fault.after)
    {
        shapeAfter(reply, text, at);
        note(text, at);
        return reply;
    }
    switch (fault.kind)
    {
    case FaultKind::Silence:
        reply.kind = Reply::Kind::Nothing;
        s_.silenced = true;
        text += ": answer withheld, unit stalls";
        break;
    case FaultKind::Wrong:
        if (step == Step::Ty)
        {
            const char fifth = config_.fifthGiven ? config_.fifth : '1';
            reply.bytes = toBytes(std::string("TY21") + fifth + ";");
        }
        else
        {
            reply.bytes = Bytes{fault.wrongByte};
        }
        reply.genuine = false;
        break;
    case FaultKind::Extra:
    {
        const Bytes once = reply.bytes;
        reply.bytes.insert(reply.bytes.end(), once.begin(), once.end());
        break;
    }
    case FaultKind::Unplug:
        reply.kind = Reply::Kind::Unplug;
        s_.silenced = true;
        break;
    case FaultKind::UnplugAfter:
        // The same as 'unplug' with --after.
        shapeAfter(reply, text, at);
        break;
    case FaultKind::Flood:
        reply.kind = Reply::Kind::Flood;
        s_.silenced = true;
        text += ": " + std::to_string(fault.floodBytes) + " bytes";
        break;
    case FaultKind::Delay:
        reply.at += fault.delay;
        text += ": +" + std::to_string(fault.delay / kNanosPerMs) + " ms";
        break;
    case FaultKind::Split:
        if (reply.bytes.size() < 2)
        {
            text += ": one byte, sent whole";
            break;
        }
        reply.straggler.assign(reply.bytes.begin() + static_cast<std::ptrdiff_t>(reply.bytes.size() / 2),
                               reply.bytes.end());
        reply.bytes.resize(reply.bytes.size() / 2);
        reply.stragglerDelay = fault.delay;
        text += ": " + std::to_string(reply.bytes.size()) + " bytes, the rest " +
                std::to_string(fault.delay / kNanosPerMs) + " ms later";
        break;
    case FaultKind::Stall:
        reply.at += fault.delay;
        s_.stallUntil = at + fault.delay;
        text += ": unit stalls " + std::to_string(fault.delay / kNanosPerMs) + " ms";
        break;
    case FaultKind::None:
        break;
    }
    note(text, at);
    return reply;
}

// The genuine answer goes out; the fault follows it.
void Unit::shapeAfter(Reply& reply, std::string& text, Nanos at)
{
    const Fault& fault = config_.fault;
    switch (fault.kind)
    {
    case FaultKind::Silence:
        s_.silenced = true;
        text += ": answer sent, then the unit stalls";
        break;
    case FaultKind::Wrong:
        reply.straggler = Bytes{fault.wrongByte};
        text += ": answer sent, then a stray " + hex8(fault.wrongByte);
        break;
    case FaultKind::Extra:
        reply.straggler = reply.bytes;
        text += ": answer sent, then once more";
        break;
    case FaultKind::Unplug:
    case FaultKind::UnplugAfter:
        reply.kind = Reply::Kind::BytesThenUnplug;
        s_.silenced = true;
        text += ": answer sent, then the line is cut";
        break;
    case FaultKind::Flood:
        reply.kind = Reply::Kind::BytesThenFlood;
        s_.silenced = true;
        text += ": answer sent, then " + std::to_string(fault.floodBytes) + " bytes";
        break;
    case FaultKind::Delay:
    case FaultKind::Stall:
        s_.stallUntil = at + fault.delay;
        text += ": answer sent, then the unit stalls " + std::to_string(fault.delay / kNanosPerMs) + " ms";
        break;
    default:  // nothing to follow the answer
        text += ": answer sent, nothing follows";
        break;
    }
}

Bytes floodContent(std::uint32_t count, std::uint32_t seed)
{
    if (seed == 0)
    {
        return Bytes(count, kFloodFiller);
    }
    Bytes bytes(count);
    std::uint32_t state = seed;
    for (auto& byte : bytes)
    {
        // xorshift32: repeatable across runs and platforms.
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

void Unit::note(const std::string& text, Nanos at)
{
    out_.push_back({Output::Kind::Note, at, {}, text, 0, {}});
}

void Unit::error(const std::string& text, Nanos at)
{
    note("error: " + text, at);
}

void Unit::errorSilent(const std::string& text, Nanos at)
{
    note("error: " + text + "; unit goes silent", at);
    s_.silenced = true;
}

void Unit::emitFile(Output::Kind kind, Nanos at)
{
    out_.push_back({kind, at, {}, {}, static_cast<std::uint32_t>(s_.block), {}});
}

void Unit::process(std::uint8_t byte, Nanos at)
{
    if (lineUsed_ && !config_.oneUpdate && at - lastActivity_ >= kPowerCycleQuiet)
    {
        powerOn(at, at - lastActivity_);
    }
    lineUsed_ = true;
    lastActivity_ = std::max(lastActivity_, at);
    if (s_.silenced)
    {
        return;
    }
    if (s_.writing)
    {
        processWriting(byte, at);
    }
    else
    {
        processNormal(byte, at);
    }
}

void Unit::enterWriting(Nanos at, const char* why)
{
    s_.writing = true;
    s_.state = State::Align;
    s_.command.clear();
    s_.commandOverflow = false;
    if (!tx_.empty())
    {
        // A power cycle loses answers that had not left yet.
        tx_.clear();
        note("pending normal-mode answers dropped by the power cycle", at);
    }
    note(std::string("mode writing (") + why + ")", at);
}

void Unit::processNormal(std::uint8_t byte, Nanos at)
{
    if (config_.s1Auto && byte == kSyncByte)
    {
        enterWriting(at, "S1 set: 0x00 received");
        processWriting(byte, at);
        return;
    }
    if (byte == ';')
    {
        handleCommand(at);
        s_.command.clear();
        s_.commandOverflow = false;
        return;
    }
    if (s_.command.size() < kMaxCommand)
    {
        s_.command.push_back(static_cast<char>(byte));
    }
    else
    {
        s_.commandOverflow = true;
    }
}

void Unit::handleCommand(Nanos at)
{
    if (config_.silent)
    {
        return;
    }
    if (s_.commandOverflow)
    {
        error("command longer than " + std::to_string(kMaxCommand) + " bytes discarded", at);
        queueWrite(toBytes("?;"), at, std::nullopt);
        return;
    }
    if (s_.command.empty())
    {
        if (config_.emptyError)
        {
            queueWrite(toBytes("?;"), at, std::nullopt);
        }
        return;
    }
    if (s_.command == "TY")
    {
        answerTy(at);
        return;
    }
    queueWrite(toBytes("?;"), at, std::nullopt);
}

void Unit::answerTy(Nanos at)
{
    const std::uint32_t index = s_.tyCount++;
    const bool wrongTy = config_.fault.kind == FaultKind::Wrong && config_.fault.at == Step::Ty;
    // With a wrong-TY fault, --fifth names the wrong reply's character and the others stay genuine.
    const char fifth = wrongTy ? '0' : config_.fifth;
    const Bytes real = toBytes(std::string("TY21") + fifth + ";");

    Nanos when = at + config_.tyDelay;
    if (config_.questionOnly)
    {
        queueReply(shape(Step::Ty, index, toBytes("?;"), when));
        return;
    }
    if (config_.questionFirst)
    {
        queueWrite(toBytes("?;"), when, AnswerTag{Step::Ty, index});
        when += config_.questionGap;
    }
    const Reply reply = shape(Step::Ty, index, real, when);
    if (reply.kind == Reply::Kind::Bytes && config_.split > 0 && reply.bytes.size() > config_.split)
    {
        const auto cut = reply.bytes.begin() + static_cast<std::ptrdiff_t>(config_.split);
        queueWrite(Bytes(reply.bytes.begin(), cut), reply.at, reply.tag);
        queueWrite(Bytes(cut, reply.bytes.end()), reply.at + config_.splitGap, reply.tag);
        return;
    }
    queueReply(reply);
}

void Unit::processWriting(std::uint8_t byte, Nanos at)
{
    switch (s_.state)
    {
    case State::Normal:
        break;
    case State::Align:
    case State::AwaitConfirm:
        if (byte == kSyncByte)
        {
            if (++s_.zeros < kBurstLength)
            {
                return;
            }
            s_.zeros = 0;
            if (s_.ignoredBursts < config_.silentBursts)
            {
                ++s_.ignoredBursts;
                note("alignment burst ignored (" + std::to_string(s_.ignoredBursts) + " of " +
                         std::to_string(config_.silentBursts) + ")",
                     at);
                return;
            }
            queueReply(shape(Step::Sync, s_.answeredBursts++, Bytes{kSyncByte}, at));
            s_.state = State::AwaitConfirm;
            return;
        }
        if (s_.state == State::AwaitConfirm && byte == kConfirmByte)
        {
            if (s_.zeros != 0)
            {
                error("incomplete alignment burst of " + std::to_string(s_.zeros) + " bytes before 0x55", at);
                s_.zeros = 0;
            }
            queueReply(shape(Step::Confirm, 0, Bytes{kAa}, at));
            s_.state = State::Program;
            return;
        }
        if (s_.state == State::Align)
        {
            error("byte " + hex8(byte) + " during alignment ignored", at);
        }
        else
        {
            errorSilent("expected 0x55 confirmation, got " + hex8(byte), at);
        }
        return;
    case State::Program:
        processProgramByte(byte, at);
        return;
    case State::Erasing:
        if (at < s_.eraseEnd)
        {
            error("byte " + hex8(byte) + " received while erasing ignored", at);
            return;
        }
        s_.state = State::BlockCommand;
        processWriting(byte, at);
        return;
    case State::BlockCommand:
        if (byte != kWriteCommand)
        {
            errorSilent("block " + std::to_string(s_.block) + ": expected write command 0x57, got " + hex8(byte), at);
            return;
        }
        blocksStarted_ = true;
        s_.state = State::BlockCommandZero;
        return;
    case State::BlockCommandZero:
        if (byte != 0x00)
        {
            errorSilent("block " + std::to_string(s_.block) + ": expected 0x00 after 0x57, got " + hex8(byte), at);
            return;
        }
        s_.header.clear();
        s_.state = State::Header;
        queueReply(shape(Step::Open, static_cast<std::uint32_t>(s_.block), Bytes{kAck}, at));
        return;
    case State::Header:
    {
        s_.header.push_back(byte);
        if (s_.header.size() < 8)
        {
            return;
        }
        const std::uint32_t address = bigEndian32(s_.header, 0);
        const std::uint32_t size = bigEndian32(s_.header, 4);
        const Block& expected = kBlockTable[s_.block];
        if (address != expected.address || size != expected.size)
        {
            errorSilent("block " + std::to_string(s_.block) + " header: address " + hex32(address) + " size " +
                            hex32(size) + ", expected " + hex32(expected.address) + " size " + hex32(expected.size),
                        at);
            return;
        }
        s_.state = State::ReadyReply;
        queueReply(shape(Step::Ready, static_cast<std::uint32_t>(s_.block), Bytes{kGo}, at));
        return;
    }
    case State::ReadyReply:
        if (byte != kGo)
        {
            errorSilent("block " + std::to_string(s_.block) + ": expected 0x11 after the header, got " + hex8(byte), at);
            return;
        }
        s_.chunkInBlock = 0;
        s_.chunkPos = 0;
        s_.sum = 0;
        s_.state = State::ChunkData;
        return;
    case State::ChunkData:
    {
        const Block& current = kBlockTable[s_.block];
        const std::uint32_t offset = s_.chunkInBlock * kChunkSize;
        image_[current.address + offset + s_.chunkPos] = byte;
        s_.sum = static_cast<std::uint8_t>(s_.sum + byte);
        if (++s_.chunkPos < kChunkSize)
        {
            return;
        }
        s_.chunkPos = 0;
        s_.state = State::ChunkReply;
        queueReply(shape(Step::Chunk, (current.address + offset) / kChunkSize, Bytes{kGo}, at));
        return;
    }
    case State::ChunkReply:
        if (byte != kGo)
        {
            const std::uint32_t chunk = (kBlockTable[s_.block].address + s_.chunkInBlock * kChunkSize) / kChunkSize;
            errorSilent("expected 0x11 after chunk " + std::to_string(chunk) + ", got " + hex8(byte), at);
            return;
        }
        ++s_.chunkInBlock;
        s_.state = s_.chunkInBlock * kChunkSize == kBlockTable[s_.block].size ? State::Checksum : State::ChunkData;
        return;
    case State::Checksum:
        processChecksum(byte, at);
        return;
    case State::Done:
        error("byte " + hex8(byte) + " after completion ignored", at);
        return;
    }
}

void Unit::processProgramByte(std::uint8_t byte, Nanos at)
{
    s_.program.push_back(byte);
    const auto index = static_cast<std::uint32_t>(s_.program.size() - 1);
    const bool last = s_.program.size() >= 2 && s_.program.size() == 2u + ((std::size_t{s_.program[0]} << 8) | s_.program[1]);
    if (!last)
    {
        queueReply(shape(Step::Echo, index, Bytes{byte}, at));
        return;
    }
    note("program received: " + std::to_string(s_.program.size()) + " bytes; erasing flash", at);
    emitFile(Output::Kind::ProgramReceived, at);
    Reply echo = shape(Step::Echo, index, Bytes{byte}, at);
    if (echo.kind != Reply::Kind::Bytes)
    {
        queueReply(echo);
        return;
    }
    std::fill(image_.begin(), image_.end(), std::uint8_t{0xFF});
    // The erase starts once the last echo is out, however late that was.
    s_.eraseEnd = echo.at + config_.erase;
    s_.state = State::Erasing;
    const Reply done = shape(Step::Erase, 0, Bytes{kAa}, s_.eraseEnd);
    if (config_.erase == 0 && done.kind == Reply::Kind::Bytes && done.at == echo.at)
    {
        // Without an erase time the last echo and the completion byte leave together.
        AnswerTags tags(echo.bytes.size(), echo.tag);
        tags.resize(tags.size() + done.bytes.size(), done.tag);
        Bytes both = echo.bytes;
        both.insert(both.end(), done.bytes.begin(), done.bytes.end());
        queueWrite(std::move(both), echo.at, std::move(tags));
        queueWrite(echo.straggler, echo.at, echo.tag);
        return;
    }
    queueReply(echo);
    queueReply(done);
}

void Unit::processChecksum(std::uint8_t byte, Nanos at)
{
    const auto expected = static_cast<std::uint8_t>(0xFF - s_.sum);
    const auto index = static_cast<std::uint32_t>(s_.block);
    if (byte != expected)
    {
        error("block " + std::to_string(s_.block) + " checksum " + hex8(byte) + ", expected " + hex8(expected) +
                  "; waiting for the block again",
              at);
        s_.state = State::BlockCommand;
        queueReply(shape(Step::Ack, index, Bytes{kNak}, at));
        return;
    }
    emitFile(Output::Kind::BlockAcknowledged, at);
    const Reply reply = shape(Step::Ack, index, Bytes{kAck}, at);
    if (s_.block + 1 < kBlockCount)
    {
        ++s_.block;
        s_.state = State::BlockCommand;
        queueReply(reply);
        return;
    }
    s_.state = State::Done;
    if (reply.kind == Reply::Kind::Bytes && reply.genuine)
    {
        s_.complete = true;
        note("complete", at);
    }
    queueReply(reply);
}

}  // namespace qvsim
