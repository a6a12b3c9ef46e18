// Fault injection in the protocol core, checked against a whole fault-free session.
#include "pc_script.hpp"
#include "unit_driver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>

namespace qvtest {
using namespace qvsim;
namespace {

constexpr Nanos kT0 = ms(1000);
constexpr Nanos kGap = ms(10);
constexpr Nanos kFaultDelay = ms(5);
constexpr std::uint32_t kFloodBytes = 777;
constexpr std::uint8_t kWrongByte = 0x33;

// ";;;TY;" in normal mode, then S1 and a whole update.
const std::vector<Exchange>& session()
{
    static const std::vector<Exchange> script = [] {
        std::vector<Exchange> all{{bytesOf(";;;TY;"), bytesOf("TY210;"), Step::Ty, 0}};
        const auto update = fullUpdate(makeProgram(40, 21), patternBytes(kFlashSize, 22));
        all.insert(all.end(), update.begin(), update.end());
        return all;
    }();
    return script;
}

Config faultConfig(FaultKind kind, Step step, std::uint32_t index)
{
    Config config;
    config.s1Auto = true;
    config.fault.kind = kind;
    config.fault.at = step;
    config.fault.index = index;
    config.fault.wrongByte = kWrongByte;
    config.fault.floodBytes = kFloodBytes;
    config.fault.delay = kFaultDelay;
    return config;
}

UnitDriver playSession(const Config& config)
{
    UnitDriver driver(config);
    Nanos at = kT0;
    for (const Exchange& exchange : session())
    {
        driver.feed(exchange.send, at);
        at += kGap;
    }
    driver.drain();
    return driver;
}

std::size_t exchangeOf(Step step, std::uint32_t index)
{
    const auto& script = session();
    const auto found = std::find_if(script.begin(), script.end(),
                                    [&](const Exchange& e) { return e.step == step && e.index == index; });
    return static_cast<std::size_t>(found - script.begin());
}

Bytes concat(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const Output& lastNonNote(const UnitDriver& driver)
{
    return *std::find_if(driver.outputs.rbegin(), driver.outputs.rend(),
                         [](const Output& o) { return o.kind != Output::Kind::Note; });
}

Bytes answersBetween(std::size_t first, std::size_t last)
{
    Bytes all;
    for (std::size_t i = first; i < last; ++i)
    {
        all.insert(all.end(), session()[i].answer.begin(), session()[i].answer.end());
    }
    return all;
}

struct Target
{
    Step step;
    std::uint32_t index;
};

// Answers that are a single write of their own (the last echo shares one with the erase).
const Target kTargets[] = {
    {Step::Ty, 0},     {Step::Sync, 0},     {Step::Confirm, 0}, {Step::Echo, 0},  {Step::Echo, 17},
    {Step::Open, 0},   {Step::Open, 11},    {Step::Ready, 3},   {Step::Chunk, 0}, {Step::Chunk, 31},
    {Step::Chunk, 32}, {Step::Chunk, 2047}, {Step::Ack, 0},     {Step::Ack, 8},
};

class FaultAtStep : public ::testing::TestWithParam<FaultKind>
{
};

// The kind at each target in turn.
TEST_P(FaultAtStep, ChangesExactlyThatAnswer)
{
    const FaultKind kind = GetParam();
    for (const Target& target : kTargets)
    {
        SCOPED_TRACE(std::string(stepName(target.step)) + " " + std::to_string(target.index));
        const std::size_t k = exchangeOf(target.step, target.index);
        ASSERT_LT(k, session().size());
        const Bytes& genuine = session()[k].answer;
        const Bytes before = answersBetween(0, k);
        const Bytes after = answersBetween(k + 1, session().size());

        const UnitDriver driver = playSession(faultConfig(kind, target.step, target.index));
        EXPECT_TRUE(driver.noted(std::string("fault ") + faultName(kind) + " at " + stepName(target.step) + " " +
                                 std::to_string(target.index)));

        const Nanos due = kT0 + static_cast<Nanos>(k) * kGap;
        // The answer as the fault made it, and whether the unit answers on.
        const auto then = [&](const Bytes& answer, bool goesOn) {
            Bytes expected = concat(before, answer);
            EXPECT_EQ(driver.sent(), goesOn ? concat(expected, after) : expected);
            EXPECT_EQ(driver.unit.silenced(), !goesOn);
        };
        const auto last = [&](Output::Kind what, Nanos at) {
            const Output& output = lastNonNote(driver);
            EXPECT_EQ(output.kind, what);
            EXPECT_EQ(output.time, at);
            return output;
        };
        const auto writtenAt = [&](Nanos at, const Bytes& bytes) {
            const auto writes = driver.writes();
            EXPECT_TRUE(std::any_of(writes.begin(), writes.end(),
                                    [&](const Write& w) { return w.at == at && w.bytes == bytes; }))
                << "a write at " << at;
        };
        switch (kind)
        {
        case FaultKind::Silence:
            then({}, false);
            break;
        case FaultKind::Wrong:
            then(target.step == Step::Ty ? bytesOf("TY211;") : Bytes{kWrongByte}, true);
            break;
        case FaultKind::Extra:
        {
            then(concat(genuine, genuine), true);
            const auto writes = driver.writes();
            EXPECT_TRUE(std::any_of(writes.begin(), writes.end(), [&](const Write& w) {
                return w.bytes == concat(genuine, genuine);
            })) << "the doubled answer goes in one write";
            break;
        }
        case FaultKind::Unplug:
            then({}, false);
            last(Output::Kind::Unplug, due);
            break;
        case FaultKind::UnplugAfter:
            // The genuine answer goes out, then the line is cut and nothing follows.
            then(genuine, false);
            EXPECT_EQ(driver.count(Output::Kind::Unplug), 1u);
            last(Output::Kind::Unplug, due + kFaultDelay);
            break;
        case FaultKind::Flood:
            then({}, false);
            EXPECT_EQ(last(Output::Kind::Flood, due).count, kFloodBytes);
            break;
        case FaultKind::Delay:
        case FaultKind::Stall:
            then(genuine, true);
            writtenAt(due + kFaultDelay, genuine);
            break;
        case FaultKind::Split:
        {
            then(genuine, true);
            const auto half = genuine.begin() + static_cast<std::ptrdiff_t>(genuine.size() / 2);
            writtenAt(due, genuine.size() > 1 ? Bytes(genuine.begin(), half) : genuine);
            if (genuine.size() > 1)
            {
                writtenAt(due + kFaultDelay, Bytes(half, genuine.end()));
            }
            break;
        }
        default:
            ADD_FAILURE() << "no expectation for the fault " << faultName(kind);
        }
    }
}

std::string kindName(const ::testing::TestParamInfo<FaultKind>& info)
{
    std::string name = faultName(info.param);
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

// Every kind the simulator knows (the sweep tries them at every answer of an
// update against the program: each must strike exactly where it is told).
INSTANTIATE_TEST_SUITE_P(AllKinds, FaultAtStep, ::testing::ValuesIn(kFaultKinds), kindName);

// A stall freezes the unit: its answer and everything received meanwhile
// are dealt with only once the stall is over, in order and unchanged.
TEST(FaultStall, LaterInputWaitsForTheStallToEnd)
{
    constexpr Nanos kStall = ms(35);  // longer than three exchange gaps
    Config config = faultConfig(FaultKind::Stall, Step::Chunk, 5);
    config.fault.delay = kStall;
    const UnitDriver driver = playSession(config);

    const std::size_t k = exchangeOf(Step::Chunk, 5);
    const Nanos stalledAt = kT0 + static_cast<Nanos>(k) * kGap;
    EXPECT_TRUE(driver.noted("fault stall at chunk 5: unit stalls 35 ms"));
    EXPECT_EQ(driver.sent(), answersBetween(0, session().size())) << "nothing lost, nothing added";
    const auto writes = driver.writes();
    for (const Write& w : writes)
    {
        EXPECT_FALSE(w.at > stalledAt && w.at < stalledAt + kStall) << "nothing leaves during the stall";
    }
    const auto firstAfter =
        std::find_if(writes.begin(), writes.end(), [&](const Write& w) { return w.at >= stalledAt; });
    ASSERT_NE(firstAfter, writes.end());
    EXPECT_EQ(firstAfter->at, stalledAt + kStall);
    EXPECT_EQ(firstAfter->bytes, session()[k].answer);
    // The exchanges fed during the stall are answered at its end.
    long answered = 0;
    for (std::size_t i = k; i <= k + 3; ++i)
    {
        answered += session()[i].answer.empty() ? 0 : 1;
    }
    const auto atEnd =
        std::count_if(writes.begin(), writes.end(), [&](const Write& w) { return w.at == stalledAt + kStall; });
    EXPECT_EQ(atEnd, answered);
    EXPECT_GE(answered, 2);
}

// With --after the genuine answer goes out first and the fault follows it.
TEST(FaultAfter, GenuineAnswerThenTheFault)
{
    const Target target{Step::Ack, 3};
    const std::size_t k = exchangeOf(target.step, target.index);
    const Bytes& genuine = session()[k].answer;
    const Nanos at = kT0 + static_cast<Nanos>(k) * kGap;
    const Bytes upTo = answersBetween(0, k + 1);
    const Bytes rest = answersBetween(k + 1, session().size());
    constexpr Nanos kStall = ms(25);  // outlasts the gap to the next exchange
    const auto play = [&](FaultKind kind) {
        Config config = faultConfig(kind, target.step, target.index);
        config.fault.after = true;
        config.fault.delay = kStall;
        return playSession(config);
    };
    const auto writesAt = [&](const UnitDriver& driver) {
        std::vector<Bytes> result;
        for (const Write& w : driver.writes())
        {
            if (w.at == at)
            {
                result.push_back(w.bytes);
            }
        }
        return result;
    };
    {
        const UnitDriver driver = play(FaultKind::Silence);
        EXPECT_TRUE(driver.noted("fault silence after ack 3"));
        EXPECT_EQ(driver.sent(), upTo);
        EXPECT_TRUE(driver.unit.silenced());
    }
    {
        const UnitDriver driver = play(FaultKind::Wrong);
        EXPECT_EQ(writesAt(driver), (std::vector<Bytes>{genuine, Bytes{kWrongByte}})) << "a stray byte of its own";
        EXPECT_EQ(driver.sent(), concat(concat(upTo, Bytes{kWrongByte}), rest));
    }
    {
        const UnitDriver driver = play(FaultKind::Extra);
        EXPECT_EQ(writesAt(driver), (std::vector<Bytes>{genuine, genuine}));
    }
    for (FaultKind kind : {FaultKind::Unplug, FaultKind::UnplugAfter, FaultKind::Flood})
    {
        const UnitDriver driver = play(kind);
        EXPECT_EQ(driver.sent(), upTo);
        EXPECT_EQ(lastNonNote(driver).kind, kind == FaultKind::Flood ? Output::Kind::Flood : Output::Kind::Unplug);
        EXPECT_TRUE(driver.unit.silenced());
    }
    for (FaultKind kind : {FaultKind::Stall, FaultKind::Delay})
    {
        const UnitDriver driver = play(kind);
        EXPECT_EQ(writesAt(driver), std::vector<Bytes>{genuine}) << "the answer itself is on time";
        EXPECT_EQ(driver.sent(), concat(upTo, rest));
        const auto writes = driver.writes();
        const auto next = std::find_if(writes.begin(), writes.end(), [&](const Write& w) { return w.at > at; });
        ASSERT_NE(next, writes.end());
        EXPECT_EQ(next->at, at + kStall) << "the next answer waits for the stall";
    }
}

TEST(FloodContent, FillerOrARepeatableRandomStream)
{
    EXPECT_EQ(floodContent(300, 0), Bytes(300, kFloodFiller));
    const Bytes a = floodContent(5000, 7);
    EXPECT_EQ(a.size(), 5000u);
    EXPECT_EQ(a, floodContent(5000, 7));
    EXPECT_NE(a, floodContent(5000, 8));
    std::array<int, 256> seen{};
    for (std::uint8_t b : a)
    {
        ++seen[b];
    }
    EXPECT_GT(std::count_if(seen.begin(), seen.end(), [](int n) { return n > 0; }), 200)
        << "spread over the byte values";
}

// The last program echo and the erase completion share one write.
class FaultAtProgramEnd : public ::testing::Test
{
protected:
    static constexpr std::uint32_t kLastEcho = 41;

    void SetUp() override
    {
        lastExchange_ = exchangeOf(Step::Echo, kLastEcho);
        ASSERT_EQ(session()[lastExchange_].answer.size(), 2u);
        lastByte_ = session()[lastExchange_].send[0];
        at_ = kT0 + static_cast<Nanos>(lastExchange_) * kGap;
    }

    // Writes from the last echo on, up to the next exchange.
    std::vector<Write> tail(const UnitDriver& driver) const
    {
        std::vector<Write> result;
        for (const Write& write : driver.writes())
        {
            if (write.at >= at_ && write.at < at_ + kGap)
            {
                result.push_back(write);
            }
        }
        return result;
    }

    std::size_t lastExchange_ = 0;
    std::uint8_t lastByte_ = 0;
    Nanos at_ = 0;
};

TEST_F(FaultAtProgramEnd, FaultsOnTheErasePart)
{
    {
        const UnitDriver driver = playSession(faultConfig(FaultKind::Wrong, Step::Erase, 0));
        const auto writes = tail(driver);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].bytes, (Bytes{lastByte_, kWrongByte}));
    }
    {
        const UnitDriver driver = playSession(faultConfig(FaultKind::Extra, Step::Erase, 0));
        const auto writes = tail(driver);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].bytes, (Bytes{lastByte_, 0xAA, 0xAA}));
        EXPECT_TRUE(driver.unit.complete());
    }
    {
        const UnitDriver driver = playSession(faultConfig(FaultKind::Silence, Step::Erase, 0));
        EXPECT_EQ(driver.sent(), concat(answersBetween(0, lastExchange_), Bytes{lastByte_}));
    }
    {
        const UnitDriver driver = playSession(faultConfig(FaultKind::Delay, Step::Erase, 0));
        const auto writes = tail(driver);
        ASSERT_EQ(writes.size(), 2u);
        EXPECT_EQ(writes[0].bytes, Bytes{lastByte_});
        EXPECT_EQ(writes[0].at, at_);
        EXPECT_EQ(writes[1].bytes, Bytes{0xAA});
        EXPECT_EQ(writes[1].at, at_ + kFaultDelay);
    }
    for (FaultKind kind : {FaultKind::Unplug, FaultKind::Flood})
    {
        const UnitDriver driver = playSession(faultConfig(kind, Step::Erase, 0));
        // The echo still leaves, before the line is cut or flooded.
        EXPECT_EQ(driver.sent(), concat(answersBetween(0, lastExchange_), Bytes{lastByte_}));
        EXPECT_EQ(lastNonNote(driver).kind, kind == FaultKind::Unplug ? Output::Kind::Unplug : Output::Kind::Flood);
    }
}

TEST_F(FaultAtProgramEnd, FaultsOnTheLastEcho)
{
    {
        const UnitDriver driver = playSession(faultConfig(FaultKind::Silence, Step::Echo, kLastEcho));
        EXPECT_EQ(driver.sent(), answersBetween(0, lastExchange_));
        EXPECT_EQ(driver.count(Output::Kind::ProgramReceived), 1u) << "the program did arrive";
    }
    {
        const UnitDriver driver = playSession(faultConfig(FaultKind::Wrong, Step::Echo, kLastEcho));
        const auto writes = tail(driver);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].bytes, (Bytes{kWrongByte, 0xAA}));
    }
    {
        const UnitDriver driver = playSession(faultConfig(FaultKind::Delay, Step::Echo, kLastEcho));
        const auto writes = tail(driver);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].bytes, (Bytes{lastByte_, 0xAA}));
        EXPECT_EQ(writes[0].at, at_ + kFaultDelay);
    }
}

TEST(FaultCompletion, CompleteOnlyWhenTheFinalAcknowledgementLeaves)
{
    const struct
    {
        FaultKind kind;
        bool complete;
    } cases[] = {
        {FaultKind::None, true},   {FaultKind::Extra, true},   {FaultKind::Delay, true},  {FaultKind::Silence, false},
        {FaultKind::Wrong, false}, {FaultKind::Unplug, false}, {FaultKind::Flood, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(faultName(c.kind));
        const UnitDriver driver = playSession(faultConfig(c.kind, Step::Ack, 11));
        EXPECT_EQ(driver.unit.complete(), c.complete);
        EXPECT_EQ(driver.noted("complete"), c.complete);
        EXPECT_EQ(driver.count(Output::Kind::BlockAcknowledged), kBlockCount) << "the data itself was good";
    }
}

TEST(FaultTy, WrongReplyUsesFifthAndOnlyTheChosenQuery)
{
    Config config = faultConfig(FaultKind::Wrong, Step::Ty, 1);
    config.fifth = '5';
    config.fifthGiven = true;
    UnitDriver driver(config);
    for (int i = 0; i < 3; ++i)
    {
        driver.feed(";;;TY;", kT0 + ms(100 * i));
    }
    EXPECT_EQ(driver.sent(), bytesOf("TY210;TY215;TY210;"));
}

TEST(FaultTy, FaultFiresOnce)
{
    UnitDriver driver(faultConfig(FaultKind::Delay, Step::Ty, 0));
    driver.feed(";;;TY;", kT0);
    driver.feed(";;;TY;", kT0 + ms(100));
    driver.drain();
    const auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].at, kT0 + kFaultDelay);
    EXPECT_EQ(writes[1].at, kT0 + ms(100));
}

TEST(FaultTy, QuestionFirstStillSendsTheQuestionBeforeASilencedReply)
{
    Config config = faultConfig(FaultKind::Silence, Step::Ty, 0);
    config.questionFirst = true;
    UnitDriver driver(config);
    driver.feed(";;;TY;", kT0);
    driver.feed(";;;TY;", kT0 + ms(500));
    driver.drain();
    EXPECT_EQ(driver.sent(), bytesOf("?;"));
}

TEST(FaultTy, QuestionOnlyAnswerIsTheFaultedOne)
{
    Config config = faultConfig(FaultKind::Extra, Step::Ty, 0);
    config.questionOnly = true;
    UnitDriver driver(config);
    driver.feed(";;;TY;", kT0);
    EXPECT_EQ(driver.sent(), bytesOf("?;?;"));
}

TEST(FaultBlocks, WrongAnswerToABadChecksum)
{
    // The fault replaces whatever block 0's checksum answer would be, here the 0x15.
    UnitDriver driver(faultConfig(FaultKind::Wrong, Step::Ack, 0));
    auto script = session();
    const std::size_t k = exchangeOf(Step::Ack, 0);
    script[k].send[0] ^= 0xFF;
    Nanos at = kT0;
    for (std::size_t i = 0; i <= k; ++i, at += kGap)
    {
        driver.feed(script[i].send, at);
    }
    EXPECT_EQ(driver.writes().back().bytes, Bytes{kWrongByte});
    EXPECT_TRUE(driver.noted("checksum"));
}

}  // namespace
}  // namespace qvtest
