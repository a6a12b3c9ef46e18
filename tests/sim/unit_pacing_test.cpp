// Byte pacing of the protocol core at a modelled baud rate.
#include "pc_script.hpp"
#include "unit_driver.hpp"

#include <gtest/gtest.h>

namespace qvtest {
using namespace qvsim;
namespace {

constexpr Nanos kT0 = ms(1000);

Config paced(std::uint32_t baud)
{
    Config config;
    config.baud = baud;
    return config;
}

TEST(Pacing, ByteTimeIsTenBitsRoundedUp)
{
    EXPECT_EQ(UnitDriver(paced(9600)).unit.byteTime(), 1041667);
    EXPECT_EQ(UnitDriver(paced(115200)).unit.byteTime(), 86806);
    EXPECT_EQ(UnitDriver(paced(100000)).unit.byteTime(), 100000);
    EXPECT_EQ(UnitDriver(paced(0)).unit.byteTime(), 0);
}

TEST(Pacing, ReplyLeavesOneByteAtATime)
{
    UnitDriver driver(paced(9600));
    const Nanos bt = driver.unit.byteTime();
    driver.feed(";", kT0);
    driver.feed(";", kT0 + ms(10));
    driver.feed(";", kT0 + ms(20));
    driver.feed("T", kT0 + ms(30));
    driver.feed("Y", kT0 + ms(40));
    driver.feed(";", kT0 + ms(50));
    driver.drain();
    const auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 6u);
    const Bytes reply = bytesOf("TY210;");
    for (std::size_t i = 0; i < writes.size(); ++i)
    {
        EXPECT_EQ(writes[i].bytes, Bytes{reply[i]});
        // The terminator arrives a byte time after its write; each answer
        // byte appears at the end of its own byte time.
        EXPECT_EQ(writes[i].at, kT0 + ms(50) + static_cast<Nanos>(i + 2) * bt);
    }
}

TEST(Pacing, LatencyHoldsEveryAnswerInOrder)
{
    Config config = paced(9600);
    config.latency = ms(16);
    config.questionFirst = true;
    config.questionGap = 0;
    UnitDriver driver(config);
    const Nanos bt = driver.unit.byteTime();
    driver.feed(";;;TY;", kT0);
    driver.drain();
    EXPECT_EQ(driver.sent(), bytesOf("?;TY210;"));
    const auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 8u);
    for (std::size_t i = 0; i < writes.size(); ++i)
    {
        EXPECT_EQ(writes[i].at, kT0 + 6 * bt + ms(16) + static_cast<Nanos>(i + 1) * bt) << "write " << i;
    }
}

TEST(Pacing, ReceivedBytesAreHandledOneByteTimeApart)
{
    UnitDriver driver(paced(9600));
    const Nanos bt = driver.unit.byteTime();
    // Six bytes in one read: the terminator arrives six byte times after the
    // read, and the first byte of the answer a byte time after that.
    driver.feed(";;;TY;", kT0);
    EXPECT_TRUE(driver.writes().empty());
    EXPECT_EQ(driver.unit.nextDue(), kT0 + bt);
    driver.runUntil(kT0 + 7 * bt - 1);
    EXPECT_TRUE(driver.writes().empty());
    driver.runUntil(kT0 + 7 * bt);
    ASSERT_EQ(driver.writes().size(), 1u);
    EXPECT_EQ(driver.writes()[0].at, kT0 + 7 * bt);
}

TEST(Pacing, ByteIsNotHandledBeforeItWasRead)
{
    UnitDriver driver(paced(9600));
    driver.feed(";;;TY", kT0);
    driver.feed(";", kT0 + ms(500));
    driver.runUntil(kT0 + ms(500) + 2 * driver.unit.byteTime());
    ASSERT_EQ(driver.writes().size(), 1u);
    EXPECT_EQ(driver.writes()[0].at, kT0 + ms(500) + 2 * driver.unit.byteTime());
}

TEST(Pacing, ScheduleDoesNotDriftOverALongRun)
{
    Config config = paced(9600);
    config.startInWriting = true;
    UnitDriver driver(config);
    const Nanos bt = driver.unit.byteTime();
    // Alignment, confirmation and a 300-byte program written in one go: the
    // echoes go back to back, each exactly one byte time after the previous.
    Bytes stream(10, 0x00);
    stream.push_back(0x55);
    const Bytes program = makeProgram(298, 4);
    stream.insert(stream.end(), program.begin(), program.end());
    driver.feed(stream, kT0);
    driver.drain();
    const auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 2u + program.size() + 1u);
    const Nanos first = writes[0].at;
    EXPECT_EQ(first, kT0 + 11 * bt);
    for (std::size_t i = 0; i < writes.size(); ++i)
    {
        ASSERT_EQ(writes[i].bytes.size(), 1u);
        EXPECT_EQ(writes[i].at, first + static_cast<Nanos>(i) * bt) << "write " << i;
    }
    EXPECT_EQ(writes.back().bytes, Bytes{0xAA});
}

TEST(Pacing, EveryExchangeTakesTheLineTimeOfBothDirections)
{
    // A whole update, each message written when the previous answer has
    // appeared: each round trip takes the byte times of the message and of its
    // answer (a 128-byte chunk and its 0x11: 129; an echo: 2), never less.
    Config config = paced(9600);
    config.startInWriting = true;
    UnitDriver driver(config);
    const Nanos bt = driver.unit.byteTime();
    const Bytes image = patternBytes(kFlashSize, 9);
    Nanos now = kT0;
    std::size_t checked = 0;
    for (const Exchange& exchange : fullUpdate(makeProgram(1434, 3), image))
    {
        driver.clear();
        driver.feed(exchange.send, now);
        driver.runUntil(now + static_cast<Nanos>(exchange.send.size() + exchange.answer.size() + 1) * bt);
        ASSERT_EQ(driver.sent(), exchange.answer) << "exchange " << checked;
        const Nanos done =
            exchange.answer.empty() ? now + static_cast<Nanos>(exchange.send.size()) * bt : driver.writes().back().at;
        EXPECT_EQ(done - now, static_cast<Nanos>(exchange.send.size() + exchange.answer.size()) * bt)
            << "exchange " << checked;
        now = done;
        ++checked;
    }
    EXPECT_TRUE(driver.unit.complete());
}

TEST(Pacing, WritesThatGoTogetherArePacedToo)
{
    Config config = paced(115200);
    config.questionFirst = true;
    config.questionGap = 0;
    UnitDriver driver(config);
    const Nanos bt = driver.unit.byteTime();
    driver.feed(";;;TY;", kT0 + 0);
    driver.drain();
    const auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 8u);
    EXPECT_EQ(driver.sent(), bytesOf("?;TY210;"));
    for (std::size_t i = 1; i < writes.size(); ++i)
    {
        EXPECT_EQ(writes[i].at - writes[i - 1].at, bt);
    }
}

TEST(Pacing, UnpacedWritesKeepTheirGrouping)
{
    Config config;
    config.startInWriting = true;
    UnitDriver driver(config);
    Bytes stream(10, 0x00);
    stream.push_back(0x55);
    stream.push_back(0x00);
    stream.push_back(0x00);
    driver.feed(stream, kT0);
    const auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[3].bytes, (Bytes{0x00, 0xAA}));
    for (const Write& write : writes)
    {
        EXPECT_EQ(write.at, kT0);
    }
}

}  // namespace
}  // namespace qvtest
