// Normal (text command) mode of the protocol core.
#include "unit_driver.hpp"

#include <gtest/gtest.h>

namespace qvtest {
using namespace qvsim;
namespace {

constexpr Nanos kT0 = ms(1000);

TEST(NormalMode, QueryAccumulatesAcrossReads)
{
    UnitDriver driver;
    driver.feed(";;;T", kT0);
    driver.feed("Y", kT0 + ms(3));
    EXPECT_TRUE(driver.writes().empty());
    driver.feed(";", kT0 + ms(7));
    const auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].bytes, bytesOf("TY210;"));
    EXPECT_EQ(writes[0].at, kT0 + ms(7));
}

TEST(NormalMode, UnknownCommandsAndEmptyCommands)
{
    UnitDriver quiet;
    quiet.feed(";;;", kT0);
    quiet.feed("TX;ty;TY ;XYZ;", kT0 + ms(1));
    quiet.drain();
    EXPECT_EQ(quiet.sent(), bytesOf("?;?;?;?;"));

    Config config;
    config.emptyError = true;
    UnitDriver strict(config);
    strict.feed(";;;TY;", kT0);
    EXPECT_EQ(strict.sent(), bytesOf("?;?;?;TY210;"));
}

TEST(NormalMode, OverlongCommandIsRejectedAndDiscarded)
{
    UnitDriver driver;
    driver.feed(std::string(kMaxCommand + 1, 'A'), kT0);
    driver.feed(";", kT0 + ms(1));
    EXPECT_EQ(driver.sent(), bytesOf("?;"));
    EXPECT_TRUE(driver.noted("error: command longer"));

    // Exactly at the bound is still an ordinary unknown command.
    driver.clear();
    driver.feed(std::string(kMaxCommand, 'B') + ";", kT0 + ms(2));
    EXPECT_EQ(driver.sent(), bytesOf("?;"));
    EXPECT_FALSE(driver.noted("error"));

    // A huge command does not spill into the next one.
    driver.clear();
    driver.feed(std::string(10000, 'C') + "TY;", kT0 + ms(3));
    driver.feed("TY;", kT0 + ms(4));
    EXPECT_EQ(driver.sent(), bytesOf("?;TY210;"));
}

TEST(NormalMode, SilentNeverAnswers)
{
    Config config;
    config.silent = true;
    config.emptyError = true;
    UnitDriver driver(config);
    driver.feed(";;;TY;XX;" + std::string(100, 'A') + ";", kT0);
    driver.drain();
    EXPECT_TRUE(driver.writes().empty());
}

TEST(NormalMode, ZeroByteIsOrdinaryWithoutS1)
{
    UnitDriver driver;
    driver.feed(Bytes(10, 0x00), kT0);
    driver.feed(";", kT0 + ms(1));
    EXPECT_EQ(driver.sent(), bytesOf("?;"));
    EXPECT_FALSE(driver.unit.writingMode());
}

TEST(NormalModeScripted, DelayPostponesOnlyTheQuery)
{
    Config config;
    config.tyDelay = ms(120);
    UnitDriver driver(config);
    driver.feed(";;;TY;", kT0);
    driver.feed("XX;", kT0 + ms(1));
    driver.runUntil(kT0 + ms(119));
    EXPECT_EQ(driver.sent(), bytesOf("?;"));
    driver.runUntil(kT0 + ms(120));
    EXPECT_EQ(driver.sent(), bytesOf("?;TY210;"));
}

TEST(NormalModeScripted, DelayQuestionFirstAndSplitCombine)
{
    Config config;
    config.tyDelay = ms(100);
    config.questionFirst = true;
    config.questionGap = ms(50);
    config.split = 3;
    config.splitGap = ms(20);
    UnitDriver driver(config);
    driver.feed(";;;TY;", kT0);
    driver.drain();
    const auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].bytes, bytesOf("?;"));
    EXPECT_EQ(writes[0].at, kT0 + ms(100));
    EXPECT_EQ(writes[1].bytes, bytesOf("TY2"));
    EXPECT_EQ(writes[1].at, kT0 + ms(150));
    EXPECT_EQ(writes[2].bytes, bytesOf("10;"));
    EXPECT_EQ(writes[2].at, kT0 + ms(170));
}

TEST(NormalModeScripted, RepeatedQueriesEachAnswered)
{
    UnitDriver driver;
    for (int i = 0; i < 3; ++i)
    {
        driver.feed(";;;TY;", kT0 + ms(100 * i));
    }
    EXPECT_EQ(driver.sent(), bytesOf("TY210;TY210;TY210;"));
}

TEST(S1Switch, FirstZeroEntersWritingModeAndCountsAsAlignment)
{
    Config config;
    config.s1Auto = true;
    UnitDriver driver(config);
    driver.feed(";;;TY;", kT0);
    EXPECT_EQ(driver.sent(), bytesOf("TY210;"));
    driver.clear();
    driver.feed(Bytes(1, 0x00), kT0 + ms(100));
    EXPECT_TRUE(driver.unit.writingMode());
    EXPECT_TRUE(driver.noted("mode writing"));
    driver.feed(Bytes(8, 0x00), kT0 + ms(101));
    EXPECT_TRUE(driver.writes().empty());
    driver.feed(Bytes(1, 0x00), kT0 + ms(102));
    EXPECT_EQ(driver.sent(), Bytes{0x00});
    // Text commands mean nothing any more: where 0x55 is due, "T" is an error.
    driver.clear();
    driver.feed("TY;", kT0 + ms(103));
    EXPECT_TRUE(driver.writes().empty());
    EXPECT_TRUE(driver.noted("expected 0x55"));
}

TEST(S1Switch, PowerCycleDropsAnswersNotYetSent)
{
    Config config;
    config.s1Auto = true;
    config.tyDelay = ms(200);
    UnitDriver driver(config);
    driver.feed(";;;TY;", kT0);
    driver.feed(Bytes(10, 0x00), kT0 + ms(10));
    driver.drain();
    EXPECT_EQ(driver.sent(), Bytes{0x00});
    EXPECT_TRUE(driver.noted("dropped"));
}

TEST(S1Switch, SilentNormalModeStillSwitches)
{
    Config config;
    config.s1Auto = true;
    config.silent = true;
    UnitDriver driver(config);
    driver.feed(";;;TY;", kT0);
    driver.feed(Bytes(10, 0x00), kT0 + ms(10));
    EXPECT_EQ(driver.sent(), Bytes{0x00});
}

}  // namespace
}  // namespace qvtest
