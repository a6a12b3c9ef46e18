// The update engine (update/) on the fake port and the virtual clock: the
// reply handling of identification, the handshake, the program load's direct
// reads and the block transfer, with the device's side scripted.
#include "payload/Payload.h"
#include "support/Fixture.h"
#include "support/Unit.h"
#include "tests/UserTexts.h"

#include <algorithm>
#include <memory>

using namespace qvnative;

namespace
{

using Replies = std::vector<fake::Reply>;

// Answers the identification query with the given replies.
void AnswerIdentify(const Replies& replies)
{
    fake::SetResponder([replies](const fake::Bytes&, std::size_t index) { return index == 0 ? replies : Replies(); });
}

class IdentifyTest : public LinkTest
{
protected:
    void ExpectNotDetectedAt(std::int64_t timeMs)
    {
        EXPECT_GE(fake::NowMs(), timeMs);
        EXPECT_LE(fake::NowMs(), timeMs + kTimeoutMarginMs);
        ASSERT_EQ(1u, fake::TheScreen().messages.size());
        EXPECT_EQ(texts::kNotDetectedText, fake::TheScreen().messages[0].text);
    }
};

class WritingTest : public LinkTest
{
};
}  // namespace

// ---- Identification ----------------------------------------------------------------

TEST_F(IdentifyTest, ReplySplitAcrossBatchesIsRecognised)
{
    AnswerIdentify({{5, Text("TY2")}, {40, Text("10;")}});
    EXPECT_EQ(1, dlg->DetectDevice());
    EXPECT_EQ(Text(";;;TY;"), fake::Written());
    EXPECT_TRUE(fake::TheScreen().messages.empty());
}

TEST_F(IdentifyTest, ReplyOneByteAtATimeIsRecognised)
{
    const std::string reply = "TY210;";
    Replies replies;
    for (std::size_t i = 0; i < reply.size(); ++i)
        replies.push_back({static_cast<std::int64_t>(5 + 20 * i), Text(reply.substr(i, 1))});
    AnswerIdentify(replies);
    EXPECT_EQ(1, dlg->DetectDevice());
    EXPECT_TRUE(fake::TheScreen().messages.empty());
}

TEST_F(IdentifyTest, RepliesArrivingTogetherAreJudgedOneByOne)
{
    AnswerIdentify({{5, Text("X;;TY210;")}});
    EXPECT_EQ(1, dlg->DetectDevice());
}

TEST_F(IdentifyTest, BusyUnitGetsTheFullTimeAgain)
{
    // The answer comes 330 ms after the query: later than one time-out, in
    // time after the "?;" at 150 ms.
    AnswerIdentify({{150, Text("?;")}, {330, Text("TY210;")}});
    EXPECT_EQ(1, dlg->DetectDevice());
    EXPECT_GE(fake::NowMs(), 330);
}

TEST_F(IdentifyTest, BusyThenSilentEndsAtTheRenewedTimeOut)
{
    AnswerIdentify({{150, Text("?;")}});
    EXPECT_EQ(0, dlg->DetectDevice());
    ExpectNotDetectedAt(350);
}

TEST_F(IdentifyTest, EndlesslyBusyUnitIsGivenUpOnAfterTenRenewals)
{
    // "?;" every 100 ms for a minute: the time-out is renewed ten times (the
    // last at 1000 ms), then it runs out.
    Replies replies;
    for (std::int64_t at = 100; at <= 60000; at += 100)
        replies.push_back({at, Text("?;")});
    AnswerIdentify(replies);
    EXPECT_EQ(0, dlg->DetectDevice());
    ExpectNotDetectedAt(1200);
    EXPECT_EQ(11u, fake::Timer(TIMEOUT_TIMER_ID).sets);
}

TEST_F(IdentifyTest, SilenceEndsAtTheTimeOut)
{
    EXPECT_EQ(0, dlg->DetectDevice());
    ExpectNotDetectedAt(200);
}

TEST_F(IdentifyTest, OtherModelIsNotAccepted)
{
    AnswerIdentify({{5, Text("TY211;")}});
    EXPECT_EQ(0, dlg->DetectDevice());
    ASSERT_EQ(1u, fake::TheScreen().messages.size());
    EXPECT_EQ(texts::kNotDetectedText, fake::TheScreen().messages[0].text);
    EXPECT_FALSE(fake::Timer(TIMEOUT_TIMER_ID).armed);
}

TEST_F(IdentifyTest, UnpluggedCableShowsOnlyTheSystemText)
{
    fake::UnplugAtWrite(0);
    EXPECT_EQ(0, dlg->DetectDevice());
    ASSERT_EQ(1u, fake::TheScreen().messages.size());
    EXPECT_EQ(texts::kNotReadyText, fake::TheScreen().messages[0].text);
    EXPECT_EQ(texts::kCaption, fake::TheScreen().messages[0].caption);
}

// ---- Bit-rate handshake ------------------------------------------------------------

TEST_F(WritingTest, HandshakeAnsweredOnTheThirdBurst)
{
    auto bursts = std::make_shared<int>(0);
    fake::SetResponder([bursts](const fake::Bytes& w, std::size_t) {
        if (w == fake::Bytes(10, 0x00))
            return ++*bursts >= 3 ? Replies{{4, Bytes({0x00})}} : Replies();
        if (w == Bytes({0x55}))
            return Replies{{4, Bytes({0xAA})}};
        return Replies();
    });
    EXPECT_EQ(1, dlg->SyncBitRate());
    fake::Bytes expected(30, 0x00);
    expected.push_back(0x55);
    EXPECT_EQ(expected, fake::Written());
}

TEST_F(WritingTest, HandshakeRefusesTwoBytesForOne)
{
    fake::SetResponder([](const fake::Bytes&, std::size_t) { return Replies{{4, Bytes({0x00, 0x00})}}; });
    EXPECT_EQ(0, dlg->SyncBitRate());
    EXPECT_EQ(fake::Bytes(10, 0x00), fake::Written());
}

TEST_F(WritingTest, HandshakeWithoutConfirmationEndsAtTheTimeOut)
{
    fake::SetResponder([](const fake::Bytes& w, std::size_t) {
        return w.size() == 10 ? Replies{{4, Bytes({0x00})}} : Replies();
    });
    EXPECT_EQ(0, dlg->SyncBitRate());
    EXPECT_LE(fake::NowMs(), 4 + 200 + kTimeoutMarginMs);
}

// ---- Write control program ----------------------------------------------------------

namespace
{
// Echoes every program byte; with the last one comes `done` (0xAA: old
// firmware deleted). `first` replaces the echo of the first byte.
void EchoProgram(fake::Bytes first = fake::Bytes(), std::size_t echoes = kWriteControlProgramBytes,
                 std::uint8_t done = 0xAA)
{
    fake::SetResponder([first, echoes, done](const fake::Bytes& w, std::size_t index) {
        if (index >= echoes)
            return Replies();
        if (index == 0 && !first.empty())
            return Replies{{2, first}};
        fake::Bytes reply = w;
        if (index + 1 == static_cast<std::size_t>(kWriteControlProgramBytes))
            reply.push_back(done);
        return Replies{{2, reply}};
    });
}
}  // namespace

TEST_F(WritingTest, EchoedProgramLoads)
{
    EchoProgram();
    EXPECT_EQ(1, dlg->LoadWriteControlProgram());
    EXPECT_EQ(fake::Bytes(WriteControlProgram, WriteControlProgram + kWriteControlProgramBytes), fake::Written());
    EXPECT_EQ(1, g_rxRun.load()) << "the receive thread is running again for the transfer";
    ASSERT_FALSE(fake::TheScreen().positions.empty());
    EXPECT_EQ(100, fake::TheScreen().positions.back());
    EXPECT_EQ(texts::kDeletingText, fake::TheScreen().labels.back().first);
    EXPECT_TRUE(fake::TheScreen().messages.empty());
}

TEST_F(WritingTest, DirectReadTakesAtMost256Bytes)
{
    // 600 bytes answer the first program byte: the direct read takes them
    // 256 at a time, into its 256-byte buffer.
    EchoProgram(Numbered(600, 7));
    EXPECT_EQ(1, dlg->LoadWriteControlProgram());
    EXPECT_EQ(static_cast<DWORD>(kReplyBufferBytes), fake::LargestDirectRead());
}

TEST_F(WritingTest, DirectReadTakesTheBytesItsWaitCounted)
{
    // The 0xAA comes between the count of the last echo and its read: the
    // read takes the echo alone, and the wait once more finds the 0xAA.
    fake::SetResponder([](const fake::Bytes& w, std::size_t) { return Replies{{2, w}}; });
    fake::DeliverAfterCount(kWriteControlProgramBytes - 1, Bytes({0xAA}));
    EXPECT_EQ(1, dlg->LoadWriteControlProgram());
    EXPECT_EQ(1u, fake::LargestDirectRead());
    EXPECT_TRUE(fake::TheScreen().messages.empty());
}

TEST_F(WritingTest, LoadNeedsTheErasedByte)
{
    EchoProgram(fake::Bytes(), kWriteControlProgramBytes, 0x55);
    EXPECT_EQ(0, dlg->LoadWriteControlProgram());
    EXPECT_EQ(static_cast<std::size_t>(kWriteControlProgramBytes), fake::WriteCalls());
}

TEST_F(WritingTest, MissingEchoEndsTheLoad)
{
    EchoProgram(fake::Bytes(), 10);
    EXPECT_EQ(0, dlg->LoadWriteControlProgram());
    EXPECT_EQ(11u, fake::WriteCalls());
    EXPECT_LE(fake::NowMs(), 10 * 3 + 1000 + kTimeoutMarginMs);
}

TEST_F(WritingTest, UnpluggedDuringTheLoadShowsTheSystemText)
{
    EchoProgram();
    fake::UnplugAtWrite(100);
    EXPECT_EQ(0, dlg->LoadWriteControlProgram());
    ASSERT_EQ(1u, fake::TheScreen().messages.size());
    EXPECT_EQ(texts::kNotReadyText, fake::TheScreen().messages[0].text);
    EXPECT_EQ(101u, fake::WriteCalls());
}

// ---- Block transfer ----------------------------------------------------------------

TEST_F(WritingTest, TransferPutsEveryChunkInPlaceOnce)
{
    auto unit = Unit::Connect();
    unit->Erase();
    EXPECT_EQ(1, dlg->TransferFirmware(FirmwareImage));
    EXPECT_FALSE(unit->confused);
    EXPECT_EQ(12, unit->blocksAccepted);
    EXPECT_TRUE(unit->flash == fake::Bytes(FirmwareImage, FirmwareImage + kFirmwareImageBytes));
    const std::vector<int>& positions = fake::TheScreen().positions;
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    ASSERT_FALSE(positions.empty());
    EXPECT_LE(positions.back(), 100);
    EXPECT_EQ("100%", fake::TheScreen().labels.back().second);
}

TEST_F(WritingTest, RejectedChecksumEndsTheTransfer)
{
    // The first block's answers: open, ready, 32 chunks, then its checksum's.
    auto unit = Unit::Connect();
    unit->Erase();
    unit->Inject({Fault::WrongByte, 1 + 1 + 32});
    EXPECT_EQ(0, dlg->TransferFirmware(FirmwareImage));
    EXPECT_FALSE(unit->confused);
    EXPECT_EQ(Phase::Checksum, unit->answered.back());
    // Command, address, size, ready, 32 chunks with their handshakes, checksum.
    EXPECT_EQ(4u + 2 * 32 + 1, fake::WriteCalls());
}

TEST_F(WritingTest, UnpluggedDuringTheTransferShowsTheSystemText)
{
    auto unit = Unit::Connect();
    unit->Erase();
    fake::UnplugAtWrite(5);
    EXPECT_EQ(0, dlg->TransferFirmware(FirmwareImage));
    ASSERT_EQ(1u, fake::TheScreen().messages.size());
    EXPECT_EQ(texts::kNotReadyText, fake::TheScreen().messages[0].text);
    EXPECT_EQ(6u, fake::WriteCalls());
}

// ---- The run's ways out ----------------------------------------------------------------

namespace
{
struct RunExit
{
    const char* name;
    fake::Registry registry;
    bool portThere;
    std::size_t cutAtWrite;
    int firstAnswer;
    std::vector<std::string> shown;  // the text of each box
    EXECUTION_STATE before = ES_CONTINUOUS;
};

void PrintTo(const RunExit& c, std::ostream* os)
{
    *os << c.name;
}

class RunExitTest : public WorldTest, public ::testing::WithParamInterface<RunExit>
{
};

using texts::kConnectText;
using texts::kOpenFailedText;
const std::size_t kNoCut = static_cast<std::size_t>(-1);
const fake::Registry kUnmarked{};
}  // namespace

TEST_P(RunExitTest, KeepsThePcAwakeUntilItEnds)
{
    const RunExit& c = GetParam();
    fake::TheRegistry() = c.registry;
    fake::SetExecutionState(c.before);
    if (!c.portThere)
        fake::SelectPort("COM9");
    fake::UnplugAtWrite(c.cutAtWrite);
    fake::TheScreen().answers = {c.firstAnswer};
    const auto unit = Unit::Connect();
    dlg->RunUpdate();

    std::vector<std::string> shown;
    for (const fake::Message& m : fake::TheScreen().messages)
    {
        shown.push_back(m.text);
        EXPECT_EQ(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED, m.awake) << "at " << shown.back();
    }
    EXPECT_EQ(c.shown, shown);
    EXPECT_EQ(ES_CONTINUOUS, fake::ExecutionState());
    EXPECT_EQ(0, fake::TimerPeriodsHeld());
}

INSTANTIATE_TEST_SUITE_P(
    Exits, RunExitTest,
    ::testing::Values(
        RunExit{"CancelAtTheFirstBox", kUnmarked, true, kNoCut, IDCANCEL, {kConnectText}},
        // Wine reports its defaults, not ES_CONTINUOUS, before any request.
        RunExit{"CancelWhereNothingWasHeldBefore", kUnmarked, true, kNoCut, IDCANCEL, {kConnectText},
                ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED | ES_USER_PRESENT},
        RunExit{"OpenFailsToIdentify", kUnmarked, false, kNoCut, IDOK, {kConnectText, kOpenFailedText}},
        RunExit{"OpenFailsToWrite", {true, 3120, true}, false, kNoCut, IDOK, {texts::kWritingModeText, kOpenFailedText}},
        RunExit{"MarkerNotStored", {true, 0, false}, true, kNoCut, IDOK, {kConnectText, texts::kAdminText}},
        RunExit{"WriteFails", kUnmarked, true, 0, IDOK, {kConnectText, texts::kNotReadyText}},
        RunExit{"Completed", kUnmarked, true, kNoCut, IDOK,
                {kConnectText, texts::kWritingModeText, texts::kCompletedText, texts::kNormalModeText}}),
    [](const ::testing::TestParamInfo<RunExit>& info) { return std::string(info.param.name); });
