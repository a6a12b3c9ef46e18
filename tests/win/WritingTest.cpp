// The firmware-writing stage: handshake, program load, block transfer, and
// the outcome the user sees, against the simulated unit in writing mode.
#include "payload/Payload.h"
#include "serial/SerialLink.h"
#include "support/Harness.h"
#include "tests/UserTexts.h"
#include "wine/EngineSteps.h"

#include <gtest/gtest.h>

using namespace qvtest;
using namespace qvwine;
using namespace texts;

namespace
{
std::string BigEndian(DWORD v)
{
    std::string s(4, '\0');
    s[0] = static_cast<char>(v >> 24);
    s[1] = static_cast<char>(v >> 16);
    s[2] = static_cast<char>(v >> 8);
    s[3] = static_cast<char>(v);
    return s;
}

// Bytes the PC sent after the handshake (ten 0x00 per burst, then 0x55).
std::string AfterHandshake(const std::string& fromPc)
{
    const size_t confirm = fromPc.find('\x55');
    return confirm == std::string::npos ? std::string() : fromPc.substr(confirm + 1);
}

class Writing : public RunTest
{
protected:
    Writing() : RunTest("--mode writing") {}
    void SetUp() override { SetMarkerValue(3120); }
    void TearDown() override { DeleteMarkerKey(); }

    void ExpectFailure(const char* text)
    {
        auto seen = boxes.Boxes();
        ASSERT_EQ(2u, seen.size()) << ::testing::PrintToString(boxes.Texts());
        EXPECT_EQ(kWritingModeText, seen[0].text);
        EXPECT_EQ(text, seen[1].text);
        EXPECT_EQ(kCaption, seen[1].caption);
        EXPECT_EQ(BoxIcon::Exclamation, seen[1].icon);
        EXPECT_FALSE(seen[1].hasCancel);
        EXPECT_EQ(1, t.CautionShows());
        ExpectIdleAfterRun(t);
    }

    void ExpectSuccess()
    {
        auto seen = boxes.Boxes();
        ASSERT_EQ(3u, seen.size()) << ::testing::PrintToString(boxes.Texts());
        EXPECT_EQ(kWritingModeText, seen[0].text);
        EXPECT_EQ(BoxIcon::Information, seen[0].icon);
        EXPECT_TRUE(seen[0].hasCancel);
        EXPECT_EQ(kCompletedText, seen[1].text);
        EXPECT_EQ(BoxIcon::Information, seen[1].icon);
        EXPECT_EQ(kNormalModeText, seen[2].text);
        EXPECT_EQ(BoxIcon::Information, seen[2].icon);
        EXPECT_TRUE(log.hasNote("complete"));
        EXPECT_TRUE(ReadFileBytes(sim.ImagePath()) == BuiltInImage()) << "the flash image differs from the built-in image";
        EXPECT_TRUE(ReadFileBytes(sim.ProgramPath()) == BuiltInProgram()) << "the program received differs";
        ExpectIdleAfterRun(t);
    }

    // After a failure the same process updates the unit on the next try.
    void ExpectNextRunSucceeds()
    {
        RunOnce("");
        ExpectSuccess();
    }

    // Starts the unit and takes the engine through the first `steps` steps
    // of the writing stage, each of which must succeed.
    void Steps(const std::string& simOptions, int steps)
    {
        ASSERT_TRUE(sim.Start(baseOptions + " " + simOptions));
        t.SelectPort(sim.PortName());
        ASSERT_EQ(steps, RunWritingSteps(t.dlg, steps));
    }

    // Ends what Steps began.
    void Close()
    {
        t.dlg.StopReader();
        t.dlg.ClosePort();
        sim.Stop();
    }
};

using WritingOk = Writing;
using HandshakeFail = Writing;
using LoadFail = Writing;
using TransferFail = Writing;
}  // namespace

// ---------------------------------------------------------------------------

TEST_F(WritingOk, FullUpdateWritesTheImageByteForByte)
{
    RunOnce("");
    ExpectSuccess();
    EXPECT_EQ(1, t.CautionShows());

    const std::string pc = log.fromPc();
    EXPECT_EQ(std::string(10, '\0') + '\x55', pc.substr(0, 11)) << "one burst, then the confirmation";
    const std::string afterHandshake = AfterHandshake(pc);
    ASSERT_GE(afterHandshake.size(), 2u);
    EXPECT_EQ('\x05', afterHandshake[0]);
    EXPECT_EQ('\x9A', afterHandshake[1]);
    EXPECT_EQ(BuiltInProgram(), afterHandshake.substr(0, kWriteControlProgramBytes));

    // Block 8 and 9 open with their big-endian address and size.
    EXPECT_NE(std::string::npos, pc.find(std::string("\x57\x00", 2) + BigEndian(0x8000) + BigEndian(0x8000)));
    EXPECT_NE(std::string::npos, pc.find(std::string("\x57\x00", 2) + BigEndian(0x10000) + BigEndian(0x10000)));
    EXPECT_EQ(pc.size(), 11u + kWriteControlProgramBytes + 12 * (2 + 8 + 1 + 1) + 2048 * (128 + 1))
        << "every byte on the wire once, nothing more";
}

TEST_F(WritingOk, ProgressThroughLoadAndTransfer)
{
    Steps("", kStepsToBlocks);
    EXPECT_EQ(kDeletingText, t.LabelText(IDC_STATUS));
    EXPECT_EQ("100%", t.LabelText(IDC_PERCENT));
    EXPECT_EQ(100, t.ProgressPos());
    EXPECT_EQ(1, g_rxRun.load()) << "the receive thread runs again after the load";

    ASSERT_EQ(1, t.dlg.TransferFirmware(FirmwareImage));
    EXPECT_EQ(kTransferringText, t.LabelText(IDC_STATUS));
    EXPECT_EQ("100%", t.LabelText(IDC_PERCENT));
    EXPECT_EQ(99, t.ProgressPos()) << "the last chunk sets no position";
    Close();
    EXPECT_TRUE(ReadFileBytes(sim.ImagePath()) == BuiltInImage());
    EXPECT_TRUE(t.boxes.Boxes().empty());
}

TEST_F(WritingOk, FirstProgramByteShowsOnePercentAndFirstChunkZero)
{
    Steps("--fault silence --at echo --index 0", 2);
    EXPECT_EQ(0, t.dlg.LoadWriteControlProgram());
    EXPECT_EQ(kLoadingProgramText, t.LabelText(IDC_STATUS));
    EXPECT_EQ("1%", t.LabelText(IDC_PERCENT));
    EXPECT_EQ(1, t.ProgressPos());
    EXPECT_EQ(0, g_rxRun.load()) << "a failed load leaves the receive thread stopped";
    Close();

    Steps("--fault silence --at chunk --index 1", kStepsToBlocks);
    EXPECT_EQ(0, t.dlg.TransferFirmware(FirmwareImage));
    EXPECT_EQ("0%", t.LabelText(IDC_PERCENT));
    EXPECT_EQ(0, t.ProgressPos());
    Close();
}

TEST_F(WritingOk, CompletionByteAfterTheLastEchoWithinASecond)
{
    Steps("--erase-ms 400 --fault silence --at open", kStepsToBlocks);
    Close();
}

TEST_F(WritingOk, SecondMessageDeclinedSendsNothing)
{
    RunOnce("", {IDCANCEL});
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ(kWritingModeText, boxes.Boxes()[0].text);
    EXPECT_EQ("", log.fromPc());
    EXPECT_EQ(0, t.CautionShows()) << "the caution is never shown";
    ExpectIdleAfterRun(t);
}

TEST_F(WritingOk, MarkerThatDoesNotStickStopsBeforeTheUnit)
{
    // The user may read the key but not write it.
    SetMarkerValue(0);
    MakeMarkerKeyReadOnly();
    RunOnce("--mode normal");

    auto seen = boxes.Boxes();
    ASSERT_EQ(2u, seen.size()) << ::testing::PrintToString(boxes.Texts());
    EXPECT_EQ(kConnectText, seen[0].text);
    EXPECT_EQ(kAdminText, seen[1].text);
    EXPECT_EQ(BoxIcon::Hand, seen[1].icon);
    EXPECT_EQ(";;;TY;", log.fromPc()) << "nothing is sent after the identification";
    EXPECT_EQ(0, t.CautionShows());
    ExpectIdleAfterRun(t);
}

// ---------------------------------------------------------------------------

TEST_F(HandshakeFail, SilenceThroughFiveBursts)
{
    RunOnce("--silent-bursts 5");
    ExpectFailure(kNotDetectedText);
    EXPECT_EQ(std::string(50, '\0'), log.fromPc());
    ExpectNextRunSucceeds();
}

TEST_F(HandshakeFail, AnswerToTheThirdBurst)
{
    RunOnce("--silent-bursts 2 --fault silence --at confirm");
    ExpectFailure(kNotDetectedText);
    EXPECT_EQ(std::string(30, '\0') + '\x55', log.fromPc()) << "exactly three bursts, then the confirmation";
}

TEST_F(HandshakeFail, TwoBytesInOneBatch)
{
    RunOnce("--fault extra --at sync");
    ExpectFailure(kNotDetectedText);
    EXPECT_EQ(std::string(10, '\0'), log.fromPc()) << "no confirmation after a bad answer";
    ExpectNextRunSucceeds();
}

TEST_F(HandshakeFail, WrongConfirmation)
{
    RunOnce("--fault wrong --at confirm --fault-byte 0xAB");
    ExpectFailure(kNotDetectedText);
    ExpectNextRunSucceeds();
}

// ---------------------------------------------------------------------------

TEST_F(LoadFail, NoEchoWithinOneSecond)
{
    RunOnce("--fault silence --at echo --index 5");
    ExpectFailure(kFailedText);
    const std::string program = AfterHandshake(log.fromPc());
    EXPECT_EQ(BuiltInProgram().substr(0, 6), program) << "the load stops at the unanswered byte";
    const double ms = (boxes.Boxes()[1].shownUs - log.timeOfByte("rx", 10 + 1 + 5)) / 1000.0;
    EXPECT_GT(ms, 900);
    EXPECT_LT(ms, 2500);
    ExpectNextRunSucceeds();
}

TEST_F(LoadFail, LastByteNotTheCompletionByte)
{
    RunOnce("--fault wrong --at erase");
    ExpectFailure(kFailedText);
    EXPECT_EQ(BuiltInProgram(), AfterHandshake(log.fromPc())) << "no block is opened";
    ExpectNextRunSucceeds();
}

TEST_F(LoadFail, CancelDuringTheLoad)
{
    t.ClickCancelWhenStatus(kLoadingProgramText);
    RunOnce("");
    ExpectFailure(kFailedText);
    EXPECT_LT(AfterHandshake(log.fromPc()).size(), static_cast<size_t>(kWriteControlProgramBytes));
    ExpectNextRunSucceeds();
}

TEST_F(LoadFail, CancelDuringIdentificationStopsTheLoadAfterItsFirstByte)
{
    // Not identified yet: the unit answers TY late, so the click lands while
    // the identification waits; S1 flips when the alignment starts.
    SetMarkerValue(0);
    t.ClickCancelAfter(80);
    RunOnce("--mode normal --s1 auto --delay 150");

    const auto seen = boxes.Texts();
    ASSERT_EQ(3u, seen.size()) << ::testing::PrintToString(seen);
    EXPECT_EQ(kConnectText, seen[0]);
    EXPECT_EQ(kWritingModeText, seen[1]);
    EXPECT_EQ(kFailedText, seen[2]);
    DWORD marker = 0;
    ASSERT_TRUE(GetMarkerValue(marker));
    EXPECT_EQ(3120u, marker) << "the identification completed despite Cancel";
    EXPECT_EQ(std::string(1, '\x05'), AfterHandshake(log.fromPc())) << "exactly one program byte";
    ExpectIdleAfterRun(t);
}

// ---------------------------------------------------------------------------

TEST_F(TransferFail, DoubledHandshakeByte)
{
    RunOnce("--fault extra --at chunk --index 3");
    ExpectFailure(kFailedText);
    EXPECT_FALSE(log.hasNote("complete"));
    ExpectNextRunSucceeds();
}

TEST_F(TransferFail, ChecksumRefused)
{
    RunOnce("--fault wrong --at ack --index 0");
    ExpectFailure(kFailedText);
    ExpectNextRunSucceeds();
}

TEST_F(TransferFail, CancelDuringTheTransfer)
{
    t.ClickCancelWhenStatus(kTransferringText);
    RunOnce("");
    ExpectFailure(kFailedText);
    EXPECT_FALSE(log.hasNote("complete"));
    ExpectNextRunSucceeds();
}

TEST_F(TransferFail, UnitStopsAnsweringMidBlock)
{
    RunOnce("--fault silence --at chunk --index 700");
    ExpectFailure(kFailedText);
    // The device's silence ends the transfer a second after the last chunk.
    const auto fromPc = log.of("rx");
    ASSERT_FALSE(fromPc.empty());
    const double ms = (boxes.Boxes()[1].shownUs - fromPc.back().tUs) / 1000.0;
    EXPECT_GT(ms, 900);
    EXPECT_LT(ms, 2500);
}

TEST_F(TransferFail, UnpluggedCableShowsTheSystemMessageThenTheFailure)
{
    // The simulated cable is cut right after the unit's answer has been read;
    // the PC's next write then fails. On a busy machine the PC may write
    // before the cut lands: then the run must still fail cleanly, and the
    // cut is tried again.
    std::vector<Box> seen;
    for (int attempt = 0; attempt < 4; ++attempt)
    {
        RunOnce("--fault unplug-after --at chunk --index " + std::to_string(10 + attempt));
        seen = boxes.Boxes();
        ASSERT_GE(seen.size(), 2u) << ::testing::PrintToString(boxes.Texts());
        EXPECT_EQ(kFailedText, seen.back().text);
        ExpectIdleAfterRun(t);
        if (seen.size() == 3)
            break;
    }
    ASSERT_EQ(3u, seen.size()) << ::testing::PrintToString(boxes.Texts());
    EXPECT_FALSE(seen[1].text.empty());
    EXPECT_NE(kFailedText, seen[1].text) << "the system's own text for the failed write comes first";
    EXPECT_EQ(kCaption, seen[1].caption);
    EXPECT_EQ(BoxIcon::Exclamation, seen[1].icon);
    EXPECT_EQ(kFailedText, seen[2].text);
    ExpectNextRunSucceeds();
}

// ---------------------------------------------------------------------------
// WaitForBytes on the unit's real answers to a write command.

namespace
{
class WaitFor : public ::testing::Test
{
protected:
    // Brings the unit to the block protocol and opens a block.
    int OpenBlock(const std::string& simOptions, int64_t& waitedMs)
    {
        EXPECT_TRUE(sim.Start("--mode writing " + simOptions));
        t.SelectPort(sim.PortName());
        EXPECT_EQ(kStepsToBlocks, RunWritingSteps(t.dlg, kStepsToBlocks));
        const BYTE command[] = {0x57, 0x00};
        EXPECT_EQ(1, t.dlg.WritePort(command, 2));
        const BYTE ack = 0x06;
        const int64_t start = NowUs();
        const int result = t.dlg.WaitForBytes(1000, &ack, 1);
        waitedMs = (NowUs() - start) / 1000;
        t.dlg.StopReader();
        t.dlg.ClosePort();
        return result;
    }
    Sim sim;
    TestDialog t;
};
}  // namespace

TEST_F(WaitFor, ExpectedByteEndsTheWaitAtOnce)
{
    int64_t ms = 0;
    EXPECT_EQ(1, OpenBlock("", ms));
    EXPECT_LT(ms, 500);
}

TEST_F(WaitFor, WrongByteFailsAtOnce)
{
    int64_t ms = 0;
    EXPECT_EQ(0, OpenBlock("--fault wrong --at open", ms));
    EXPECT_LT(ms, 500);
}

TEST_F(WaitFor, DoubledByteFailsAtTheTimeout)
{
    int64_t ms = 0;
    EXPECT_EQ(0, OpenBlock("--fault extra --at open", ms));
    EXPECT_GT(ms, 900);
    EXPECT_LT(ms, 2500);
}
