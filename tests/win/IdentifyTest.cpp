// Identification of the unit over its text command interface.
#include "support/Harness.h"
#include "tests/UserTexts.h"

#include <gtest/gtest.h>

using namespace qvtest;
using namespace qvwine;
using namespace texts;

namespace
{

struct Outcome
{
    int result = -1;
    int64_t returnedUs = 0;
    std::vector<Box> boxes;
    qvsim::WireLogReader log{""};
    int timeoutAfter = -1;  // m_bTimeout some time after the call
};

Outcome Identify(const std::string& simOptions)
{
    Outcome out;
    Sim sim;
    if (!sim.Start(simOptions))
        return out;
    {
        TestDialog t;
        t.SelectPort(sim.PortName());
        EXPECT_EQ(1, t.dlg.OpenPort());
        t.dlg.StartReader();
        out.result = t.dlg.DetectDevice();
        out.returnedUs = NowUs();
        // A timer left running would set the flag within 200 ms.
        t.Pump(400);
        out.timeoutAfter = t.dlg.m_bTimeout;
        t.dlg.StopReader();
        t.dlg.ClosePort();
        out.boxes = t.boxes.Boxes();
    }
    sim.Stop();
    out.log = sim.Log();
    return out;
}

// Milliseconds between the PC's last command byte and the failure message.
double MessageDelayMs(const Outcome& o, int64_t fromUs)
{
    return (o.boxes.at(0).shownUs - fromUs) / 1000.0;
}
}  // namespace

TEST(Identify, AcceptsTheUnitsReplyAndStopsTheTimer)
{
    Outcome o = Identify("");
    EXPECT_EQ(1, o.result);
    EXPECT_TRUE(o.boxes.empty());
    EXPECT_EQ(0, o.timeoutAfter) << "timer 123 still running after success";
    EXPECT_EQ(";;;TY;", o.log.fromPc()) << "the command is six bytes, sent once";
}

TEST(Identify, RejectsAnotherFifthCharacter)
{
    Outcome o = Identify("--fifth 1");
    EXPECT_EQ(0, o.result);
    ASSERT_EQ(1u, o.boxes.size());
    EXPECT_EQ(kNotDetectedText, o.boxes[0].text);
    EXPECT_EQ(kCaption, o.boxes[0].caption);
    EXPECT_EQ(BoxIcon::Exclamation, o.boxes[0].icon);
    EXPECT_EQ(0, o.timeoutAfter);
}

TEST(Identify, SilenceFailsAfter200ms)
{
    Outcome o = Identify("--silent");
    EXPECT_EQ(0, o.result);
    ASSERT_EQ(1u, o.boxes.size());
    EXPECT_EQ(kNotDetectedText, o.boxes[0].text);
    const double ms = MessageDelayMs(o, o.log.timeOfByte("rx", 5));
    EXPECT_GT(ms, 180);
    EXPECT_LT(ms, 700);
    EXPECT_EQ(";;;TY;", o.log.fromPc()) << "no resend";
}

TEST(Identify, BusyAnswerRestartsTheTimeoutOnce)
{
    // "?;" comes 150 ms after the command; the message 200 ms after that.
    Outcome o = Identify("--question-only --delay 150");
    EXPECT_EQ(0, o.result);
    ASSERT_EQ(1u, o.boxes.size());
    EXPECT_EQ(kNotDetectedText, o.boxes[0].text);
    const double afterBusy = MessageDelayMs(o, o.log.timeOfByte("tx", 0));
    const double afterCommand = MessageDelayMs(o, o.log.timeOfByte("rx", 5));
    EXPECT_GT(afterBusy, 180);
    EXPECT_LT(afterBusy, 700);
    EXPECT_GT(afterCommand, 320);
    EXPECT_EQ(";;;TY;", o.log.fromPc()) << "no resend after \"?;\"";
}

TEST(Identify, BusyAnswerThenTheReplySucceeds)
{
    Outcome o = Identify("--question-first --question-gap 120");
    EXPECT_EQ(1, o.result);
    EXPECT_TRUE(o.boxes.empty());
    EXPECT_EQ("?;TY210;", o.log.toPc());
}

TEST(Identify, ReplyInTwoPiecesIsJoined)
{
    for (int k : {2, 4, 5})
    {
        Outcome o = Identify("--split " + std::to_string(k) + " --split-gap 60");
        EXPECT_EQ(1, o.result) << "split after " << k;
        EXPECT_TRUE(o.boxes.empty()) << "split after " << k;
    }
}

TEST(Identify, ShortOrLateRepliesFail)
{
    // A reply later than 200 ms is too late; so is the rest of a reply whose
    // first three bytes came in time.
    for (const char* options : {"--delay 450", "--split 3 --split-gap 450"})
    {
        Outcome o = Identify(options);
        EXPECT_EQ(0, o.result) << options;
        ASSERT_EQ(1u, o.boxes.size()) << options;
        EXPECT_EQ(kNotDetectedText, o.boxes[0].text) << options;
        EXPECT_EQ("TY", o.log.toPc().substr(0, 2)) << options;
    }
}

TEST(Identify, FloodFailsCleanly)
{
    Outcome o = Identify("--fault flood --at ty --flood-bytes 5000");
    EXPECT_EQ(0, o.result);
    ASSERT_EQ(1u, o.boxes.size());
    EXPECT_EQ(kNotDetectedText, o.boxes[0].text);
}
