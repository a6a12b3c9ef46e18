// Firmware writing mode of the protocol core.
#include "pc_script.hpp"
#include "unit_driver.hpp"

#include <gtest/gtest.h>

namespace qvtest {
using namespace qvsim;
namespace {

constexpr Nanos kT0 = ms(1000);
// Soon after readyForBlocks()'s prelude (2 s of quiet would be a power cycle).
constexpr Nanos kBlocksStart = kT0 + ms(1000);

Config writingConfig()
{
    Config config;
    config.startInWriting = true;
    return config;
}

// Feeds each exchange 1 ms after the previous one; returns the time after the last.
Nanos play(UnitDriver& driver, const std::vector<Exchange>& script, Nanos start = kT0)
{
    Nanos at = start;
    for (const Exchange& exchange : script)
    {
        driver.feed(exchange.send, at);
        at += ms(1);
    }
    return at;
}

Bytes answersOf(const std::vector<Exchange>& script)
{
    Bytes all;
    for (const Exchange& exchange : script)
    {
        all.insert(all.end(), exchange.answer.begin(), exchange.answer.end());
    }
    return all;
}

// A unit that has taken a tiny program and is ready for block 0.
UnitDriver readyForBlocks(Config config = writingConfig())
{
    UnitDriver driver(config);
    play(driver, preludeExchanges(makeProgram(3, 1)));
    driver.drain();
    driver.clear();
    return driver;
}

TEST(Alignment, BurstSplitAcrossReadsIsAnsweredOnce)
{
    UnitDriver driver(writingConfig());
    driver.feed(Bytes(3, 0x00), kT0);
    driver.feed(Bytes(6, 0x00), kT0 + ms(1));
    EXPECT_TRUE(driver.writes().empty());
    driver.feed(Bytes(1, 0x00), kT0 + ms(2));
    const auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].bytes, Bytes{0x00});
    EXPECT_EQ(writes[0].at, kT0 + ms(2));
}

TEST(Alignment, StrayBytesAreLoggedAndIgnored)
{
    UnitDriver driver(writingConfig());
    driver.feed(Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x42, 0x55}, kT0);
    EXPECT_TRUE(driver.noted("error: byte 0x42 during alignment"));
    EXPECT_TRUE(driver.noted("error: byte 0x55 during alignment"));
    EXPECT_TRUE(driver.writes().empty());
    driver.feed(Bytes(5, 0x00), kT0 + ms(1));
    EXPECT_EQ(driver.sent(), Bytes{0x00});
}

TEST(Alignment, FurtherBurstsBeforeConfirmationAreAnsweredToo)
{
    UnitDriver driver(writingConfig());
    driver.feed(Bytes(10, 0x00), kT0);
    driver.feed(Bytes(10, 0x00), kT0 + ms(1));
    driver.feed(Bytes{0x55}, kT0 + ms(2));
    EXPECT_EQ(driver.sent(), (Bytes{0x00, 0x00, 0xAA}));
}

TEST(Confirmation, AnythingButConfirmationSilencesTheUnit)
{
    UnitDriver driver(writingConfig());
    driver.feed(Bytes(10, 0x00), kT0);
    driver.clear();
    driver.feed(Bytes{0x56}, kT0 + ms(1));
    driver.feed(Bytes{0x55}, kT0 + ms(2));
    driver.drain();
    EXPECT_TRUE(driver.writes().empty());
    EXPECT_TRUE(driver.noted("expected 0x55 confirmation, got 0x56"));
    EXPECT_TRUE(driver.unit.silenced());
}

TEST(ProgramLoad, EveryByteEchoedAndLastEchoTravelsWithCompletion)
{
    UnitDriver driver(writingConfig());
    driver.feed(Bytes(10, 0x00), kT0);
    driver.feed(Bytes{0x55}, kT0 + ms(1));
    driver.clear();
    // Bytes a cooked line would mangle must come back untouched.
    const Bytes program{0x00, 0x06, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0xAA};
    for (std::size_t i = 0; i < program.size(); ++i)
    {
        driver.feed(Bytes{program[i]}, kT0 + ms(10 + static_cast<Nanos>(i)));
        const auto writes = driver.writes();
        ASSERT_EQ(writes.size(), i + 1);
        Bytes expected{program[i]};
        if (i + 1 == program.size())
        {
            expected.push_back(0xAA);
        }
        EXPECT_EQ(writes.back().bytes, expected) << "byte " << i;
    }
    EXPECT_EQ(driver.unit.program(), program);
    EXPECT_EQ(driver.count(Output::Kind::ProgramReceived), 1u);
}

TEST(ProgramLoad, EraseTimeSeparatesCompletionAndRejectsBytes)
{
    Config config = writingConfig();
    config.erase = ms(40);
    UnitDriver driver(config);
    driver.feed(Bytes(10, 0x00), kT0);
    driver.feed(Bytes{0x55}, kT0 + ms(1));
    driver.feed(Bytes{0x00}, kT0 + ms(2));
    driver.clear();
    driver.feed(Bytes{0x00}, kT0 + ms(3));
    driver.feed(Bytes{0x57}, kT0 + ms(20));
    EXPECT_TRUE(driver.noted("error: byte 0x57 received while erasing"));
    driver.runUntil(kT0 + ms(42));
    const auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].bytes, Bytes{0x00});
    driver.runUntil(kT0 + ms(43));
    ASSERT_EQ(driver.writes().size(), 2u);
    EXPECT_EQ(driver.writes()[1].bytes, Bytes{0xAA});
    EXPECT_EQ(driver.writes()[1].at, kT0 + ms(43));
    // The byte rejected during the erase did not start a block.
    driver.feed(Bytes{0x57, 0x00}, kT0 + ms(50));
    EXPECT_EQ(driver.writes().back().bytes, Bytes{0x06});
}

TEST(BlockTransfer, ImageIsSavedBeforeTheAcknowledgementLeaves)
{
    UnitDriver driver = readyForBlocks();
    const Bytes image = patternBytes(kFlashSize, 9);
    auto script = blockExchanges(image);
    script.resize(4 + 2 * 32);  // block 0 complete
    play(driver, script, kBlocksStart);
    ASSERT_FALSE(driver.outputs.empty());
    EXPECT_EQ(driver.outputs.back().kind, Output::Kind::Write);
    EXPECT_EQ(driver.outputs.back().bytes, Bytes{0x06});
    EXPECT_EQ(driver.outputs[driver.outputs.size() - 2].kind, Output::Kind::BlockAcknowledged);
    // Block 0 landed; the rest of the flash is still erased.
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x1000, driver.unit.image().begin()));
    EXPECT_TRUE(std::all_of(driver.unit.image().begin() + 0x1000, driver.unit.image().end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
}

// The unit's block table is the protocol's: twelve blocks from address 0 on,
// each right after the one before, in whole 128-byte chunks, covering the
// 262,144 bytes of the flash.
TEST(BlockTransfer, TwelveBlocksCoverTheFlashInWholeChunks)
{
    ASSERT_EQ(kBlockTable.size(), 12u);
    std::uint32_t next = 0;
    for (const Block& block : kBlockTable)
    {
        EXPECT_EQ(block.address, next);
        EXPECT_GT(block.size, 0u);
        EXPECT_EQ(block.size % 128, 0u);
        next = block.address + block.size;
    }
    EXPECT_EQ(next, 262144u);
}

TEST(BlockTransfer, BadChecksumIsRefusedAndTheBlockMayBeSentAgain)
{
    UnitDriver driver = readyForBlocks();
    const Bytes image = patternBytes(kFlashSize, 11);
    auto script = blockExchanges(image);
    script.resize(4 + 2 * 32);
    const std::uint8_t good = script.back().send[0];
    script.back().send[0] = static_cast<std::uint8_t>(good + 1);
    script.back().answer = {0x15};
    play(driver, script, kBlocksStart);
    EXPECT_EQ(driver.writes().back().bytes, Bytes{0x15});
    EXPECT_TRUE(driver.noted("checksum"));
    EXPECT_EQ(driver.count(Output::Kind::BlockAcknowledged), 0u);

    driver.clear();
    script.back().send[0] = good;
    script.back().answer = {0x06};
    play(driver, script, kBlocksStart + ms(1000));
    EXPECT_EQ(driver.sent(), answersOf(script));
    EXPECT_EQ(driver.count(Output::Kind::BlockAcknowledged), 1u);
}

TEST(BlockTransfer, ProtocolViolationsSilenceTheUnit)
{
    const Bytes image = patternBytes(kFlashSize, 13);
    struct Case
    {
        const char* name;
        std::size_t exchange;  // index into block 0's script to corrupt
        Bytes replacement;
        const char* error;
    };
    const Case cases[] = {
        {"write command", 0, {0x58, 0x00}, "expected write command 0x57"},
        {"write command zero", 0, {0x57, 0x01}, "expected 0x00 after 0x57"},
        {"header address", 1, {0, 0, 0x10, 0, 0, 0, 0x10, 0}, "header: address 0x01000"},
        {"header size", 1, {0, 0, 0, 0, 0, 0, 0x20, 0}, "size 0x02000"},
        {"ready answer", 2, {0x13}, "expected 0x11 after the header"},
        {"chunk answer", 4, {0x5A}, "expected 0x11 after chunk 0"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        UnitDriver driver = readyForBlocks();
        auto script = blockExchanges(image);
        script.resize(4 + 2 * 32);
        script[c.exchange].send = c.replacement;
        play(driver, script, kBlocksStart);
        driver.drain();
        EXPECT_TRUE(driver.noted(c.error));
        EXPECT_TRUE(driver.noted("unit goes silent"));
        EXPECT_TRUE(driver.unit.silenced());
        // Only answers earlier than the broken exchange went out.
        Bytes before;
        for (std::size_t i = 0; i < c.exchange; ++i)
        {
            before.insert(before.end(), script[i].answer.begin(), script[i].answer.end());
        }
        EXPECT_EQ(driver.sent(), before);
    }
}

TEST(BlockTransfer, DataByteWhereHandshakeIsDue)
{
    UnitDriver driver = readyForBlocks();
    const Bytes image = patternBytes(kFlashSize, 17);
    auto script = blockExchanges(image);
    // Second chunk sent straight after the first one's 0x11, without answering it.
    std::vector<Exchange> broken(script.begin(), script.begin() + 4);
    broken.push_back(script[5]);
    play(driver, broken, kBlocksStart);
    EXPECT_TRUE(driver.noted("expected 0x11 after chunk 0"));
    EXPECT_EQ(driver.sent(), (Bytes{0x06, 0x11, 0x11}));
}

// One start serves update after update: once the line has been quiet for
// 2 s, the next byte finds the unit as at power-on, its fault armed again
// (or not, with faultOnce), its flash as the last update left it. With
// oneUpdate it stays as it ended.
TEST(PowerCycle, AQuietLineMakesTheNextByteAUnitSwitchedOffAndOn)
{
    const Bytes firstImage = patternBytes(kFlashSize, 23);
    const Bytes secondImage = patternBytes(kFlashSize, 29);
    const auto first = fullUpdate(makeProgram(3, 1), firstImage);
    const auto second = fullUpdate(makeProgram(4, 2), secondImage);
    struct Case
    {
        const char* name;
        bool oneUpdate;
        bool faultOnce;
        Nanos quiet;
        bool served;
        bool faulted;
    };
    const Case cases[] = {
        {"2 s of quiet", false, false, kPowerCycleQuiet, true, true},
        {"a little less", false, false, kPowerCycleQuiet - ms(1), false, false},
        {"the fault once", false, true, kPowerCycleQuiet, true, false},
        {"one update", true, false, ms(60000), false, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        Config config;
        config.s1Auto = true;
        config.oneUpdate = c.oneUpdate;
        config.faultOnce = c.faultOnce;
        config.fault.kind = FaultKind::Wrong;  // a wrong echo: the update goes on
        config.fault.at = Step::Echo;
        config.fault.index = 1;
        UnitDriver driver(config);
        const Nanos end = play(driver, first);
        ASSERT_TRUE(driver.unit.complete());
        driver.clear();

        play(driver, second, end - ms(1) + c.quiet);
        Bytes expected = c.served ? answersOf(second) : Bytes{};
        if (c.faulted)
        {
            expected[3] = config.fault.wrongByte;  // after the alignment, the confirmation and echo 0
        }
        EXPECT_EQ(driver.sent(), expected);
        EXPECT_TRUE(driver.unit.image() == (c.served ? secondImage : firstImage));
        EXPECT_EQ(driver.noted("power-on after " + std::to_string(c.quiet / kNanosPerMs) +
                               " ms of quiet: update 2, mode normal (s1 auto)"),
                  c.served);
    }
}

}  // namespace
}  // namespace qvtest
