// Protocol core of the simulated QV-6100: a pure state machine driven by
// received bytes with their read times. It never touches a file descriptor;
// the caller feeds bytes, advances time and carries out the outputs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace qvsim {

using Nanos = std::int64_t;
using Bytes = std::vector<std::uint8_t>;

constexpr Nanos kNanosPerMs = 1000000;
constexpr Nanos kNever = std::numeric_limits<Nanos>::max();

constexpr std::uint32_t kFlashSize = 0x40000;
constexpr std::uint32_t kChunkSize = 128;
constexpr std::uint32_t kChunkCount = kFlashSize / kChunkSize;
constexpr std::size_t kBurstLength = 10;
constexpr std::size_t kMaxCommand = 64;

// The PC never waits longer than 1 s for an answer (an echo, a chunk's
// answer, the completion byte): a line quiet for twice that means the update
// has ended, and the next byte comes from a user who has switched the unit
// off and on for the next one.
constexpr Nanos kPowerCycleQuiet = 2000 * kNanosPerMs;

struct Block
{
    std::uint32_t address;
    std::uint32_t size;
};

constexpr std::size_t kBlockCount = 12;
extern const std::array<Block, kBlockCount> kBlockTable;

// The answer the unit is about to send when a fault is injected.
enum class Step
{
    Ty,
    Sync,
    Confirm,
    Echo,
    Erase,
    Open,
    Ready,
    Chunk,
    Ack,
};

// Every kind of fault, once: its name on the command line (--fault) and what
// it does to the answer it strikes (qv6100-sim --help). A new kind is a line
// here and the code in Unit::shape() that acts on it.
#define QVSIM_FAULT_KINDS(X)                                                                                       \
    X(Silence, "silence", "send nothing, answer nothing more")                                                     \
    X(Wrong, "wrong", "a wrong answer")                                                                            \
    X(Extra, "extra", "the answer twice in one write")                                                             \
    X(Unplug, "unplug",                                                                                            \
      "close the pty master and unpublish it, log \"# unplugged\", keep running (the line stays pulled)")           \
    X(UnplugAfter, "unplug-after", "send the answer, then unplug as above (the PC's next write fails)")            \
    X(Flood, "flood",                                                                                              \
      "N bytes of 0x41 as fast as the line takes them (what cannot be written within 200 ms is dropped and the "   \
      "count logged), then silence")                                                                               \
    X(Delay, "delay", "the answer MS late")                                                                        \
    X(Split, "split", "the answer in two writes, its first half and MS later the rest (a one-byte answer whole)")  \
    X(Stall, "stall", "the unit freezes for MS: the answer and everything received meanwhile are dealt with only " \
                      "after it")

enum class FaultKind
{
    None,
#define QVSIM_KIND(id, name, what) id,
    QVSIM_FAULT_KINDS(QVSIM_KIND)
#undef QVSIM_KIND
};

// Every kind, in the order above.
constexpr FaultKind kFaultKinds[] = {
#define QVSIM_KIND(id, name, what) FaultKind::id,
    QVSIM_FAULT_KINDS(QVSIM_KIND)
#undef QVSIM_KIND
};

const char* stepName(Step step);
const char* faultName(FaultKind kind);
std::optional<Step> parseStep(const std::string& text);
std::optional<FaultKind> parseFaultKind(const std::string& text);
// Every kind's name, "silence | wrong | ...", and "name = what it does; ...".
std::string faultKindNames(const char* separator);
std::string faultKindMeanings();

struct Fault
{
    FaultKind kind = FaultKind::None;
    Step at = Step::Ty;
    std::uint32_t index = 0;
    std::uint8_t wrongByte = 0x15;
    std::uint32_t floodBytes = 5000;
    std::uint32_t floodSeed = 0;  // 0: every flood byte is kFloodFiller; else pseudo-random bytes
    Nanos delay = 0;
    bool after = false;  // the step's genuine answer goes out first, the fault strikes right after it
};

struct Config
{
    bool startInWriting = false;
    bool s1Auto = false;

    char fifth = '0';
    bool fifthGiven = false;
    bool emptyError = false;
    bool silent = false;
    bool questionFirst = false;
    bool questionOnly = false;
    Nanos questionGap = 50 * kNanosPerMs;
    std::size_t split = 0;  // 0: the TY reply goes in one write
    Nanos splitGap = 30 * kNanosPerMs;
    Nanos tyDelay = 0;

    std::uint32_t silentBursts = 0;
    Nanos erase = 0;

    std::uint32_t baud = 0;  // 0: unpaced
    Nanos latency = 0;       // a USB adapter's latency timer: everything sent is held this long

    Fault fault;
    bool faultOnce = false;  // the fault strikes in the first update only

    // One update only: the unit stays as that update left it (complete, or
    // silent after an error) until the program ends.
    bool oneUpdate = false;
};

// Which answer a byte the unit sends belongs to: the step it answers and
// its index, as --at and --index name them.
struct AnswerTag
{
    Step step;
    std::uint32_t index;
};
// One tag a byte; none for the "?;" that answers a command other than TY.
using AnswerTags = std::vector<std::optional<AnswerTag>>;

struct Output
{
    enum class Kind
    {
        Write,              // bytes to send now
        Note,               // a "# ..." line for the wire log
        Unplug,             // close the line like a pulled cable
        Flood,              // send `count` filler bytes as fast as possible
        ProgramReceived,    // program() is complete: save it
        BlockAcknowledged,  // image() holds an acknowledged block: save it
    };

    Kind kind;
    Nanos time = 0;
    Bytes bytes;
    std::string text;
    std::uint32_t count = 0;  // Flood: bytes to send; Unplug: 1 = after the PC has read what was sent
    AnswerTags tags;          // Write: the answer each byte belongs to
};

constexpr std::uint8_t kFloodFiller = 0x41;

// The bytes a flood sends: the filler, or with a non-zero seed a repeatable
// pseudo-random stream.
Bytes floodContent(std::uint32_t count, std::uint32_t seed);

class Unit
{
public:
    explicit Unit(const Config& config);

    // Bytes read from the PC at `readTime`, in arrival order.
    void receive(const std::uint8_t* data, std::size_t size, Nanos readTime);
    void receive(const Bytes& data, Nanos readTime) { receive(data.data(), data.size(), readTime); }

    // Earliest time at which advance() has something to do, kNever if idle.
    Nanos nextDue() const;

    // Processes everything due at or before `now`, in time order.
    std::vector<Output> advance(Nanos now);

    bool writingMode() const { return s_.writing; }
    bool silenced() const { return s_.silenced; }
    // The current update (since the last power-on) completed.
    bool complete() const { return s_.complete; }
    // Some update has written to the flash since the program started.
    bool blockTransferStarted() const { return blocksStarted_; }
    // Updates served so far: 1 until the first power cycle.
    std::uint32_t update() const { return update_; }
    const Bytes& image() const { return image_; }
    const Bytes& program() const { return s_.program; }

    // Time one byte occupies the line at the configured baud (0 if unpaced).
    Nanos byteTime() const { return byteTime_; }

private:
    enum class State
    {
        Normal,
        Align,
        AwaitConfirm,
        Program,
        Erasing,
        BlockCommand,
        BlockCommandZero,
        Header,
        ReadyReply,
        ChunkData,
        ChunkReply,
        Checksum,
        Done,
    };

    struct Pending
    {
        Nanos at;
        std::uint64_t seq;
        Output::Kind kind;  // Write, Unplug or Flood
        Bytes bytes;
        std::uint32_t count = 0;
        AnswerTags tags;
    };

    struct Received
    {
        std::uint8_t byte;
        Nanos due;
    };

    // What a step's answer became after fault injection.
    struct Reply
    {
        enum class Kind
        {
            Bytes,
            Nothing,
            Unplug,
            Flood,
            BytesThenUnplug,
            BytesThenFlood,
        };
        Kind kind = Kind::Bytes;
        qvsim::Bytes bytes;
        Nanos at = 0;
        bool genuine = true;
        qvsim::Bytes straggler;  // sent in a write of its own right after `bytes`
        Nanos stragglerDelay = 0;  // or this much later
        std::optional<AnswerTag> tag;
    };

    Reply shape(Step step, std::uint32_t index, qvsim::Bytes bytes, Nanos at);
    void shapeAfter(Reply& reply, std::string& text, Nanos at);
    void queueReply(const Reply& reply);
    void queueWrite(qvsim::Bytes bytes, Nanos at, std::optional<AnswerTag> tag);
    void queueWrite(qvsim::Bytes bytes, Nanos at, AnswerTags tags);
    void queue(Pending pending);

    Nanos txDue() const;
    Nanos rxDue() const;
    void emitTx();
    void process(std::uint8_t byte, Nanos at);
    void processNormal(std::uint8_t byte, Nanos at);
    void handleCommand(Nanos at);
    void answerTy(Nanos at);
    void processWriting(std::uint8_t byte, Nanos at);
    void processProgramByte(std::uint8_t byte, Nanos at);
    void processChecksum(std::uint8_t byte, Nanos at);
    void enterWriting(Nanos at, const char* why);

    void note(const std::string& text, Nanos at);
    void error(const std::string& text, Nanos at);
    void errorSilent(const std::string& text, Nanos at);
    void emitFile(Output::Kind kind, Nanos at);

    Config config_;
    Nanos byteTime_ = 0;

    std::deque<Received> rx_;
    Nanos lastRxDue_ = std::numeric_limits<Nanos>::min();
    std::deque<Pending> tx_;
    std::uint64_t txSeq_ = 0;
    Nanos lastTx_ = std::numeric_limits<Nanos>::min();
    std::vector<Output> out_;

    // What the unit holds between two power-ons; the flash (image_) outlives them.
    struct Session
    {
        State state = State::Normal;
        bool writing = false;
        bool silenced = false;
        bool complete = false;
        Nanos stallUntil = 0;  // input is not looked at before this time

        std::string command;
        bool commandOverflow = false;
        std::uint32_t tyCount = 0;

        std::size_t zeros = 0;
        std::uint32_t ignoredBursts = 0;
        std::uint32_t answeredBursts = 0;

        Bytes program;
        Nanos eraseEnd = 0;

        std::size_t block = 0;
        Bytes header;
        std::uint32_t chunkInBlock = 0;
        std::uint32_t chunkPos = 0;
        std::uint8_t sum = 0;
    };

    void powerOn(Nanos at, Nanos quiet);

    Session s_;
    bool faultFired_ = false;
    bool blocksStarted_ = false;
    std::uint32_t update_ = 1;
    bool lineUsed_ = false;  // a byte has been received since the last power-on
    Nanos lastActivity_ = 0;   // the last byte received or sent

    Bytes image_;
};

}  // namespace qvsim
