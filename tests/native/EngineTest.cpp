// The update engine (update/) on the fake port and the virtual clock, against
// the simulator's protocol core (or, where no unit would answer that way, a
// scripted device): identification, the handshake, the program load's direct
// reads, the block transfer, Cancel, and the run's ways out.
#include "payload/Payload.h"
#include "support/Fixture.h"
#include "tests/Outcomes.h"
#include "tests/UserTexts.h"

#include <algorithm>
#include <map>

using namespace qvtest;

namespace
{
using Replies = std::vector<Reply>;

const Bytes kQuery = Text(";;;TY;");

// Answers the identification query with the given replies.
void AnswerIdentify(const Replies& replies)
{
    SetResponder([replies](const Bytes&, std::size_t index) { return index == 0 ? replies : Replies(); });
}

class WritingTest : public LinkTest
{
protected:
    // A unit in writing mode with these options, aligned, then loaded: it
    // awaits the first block. The screen starts empty again.
    void ToBlocks(const std::string& options)
    {
        m_unit = &Connect("--mode writing " + options);
        ASSERT_EQ(1, dlg->SyncBitRate());
        ASSERT_EQ(1, dlg->LoadWriteControlProgram());
        TheScreen() = Screen();
    }

    const qvsim::Unit* m_unit = nullptr;
};
}  // namespace

// ---- Identification ----------------------------------------------------------------

namespace
{
struct IdentifyCase
{
    const char* name;
    const char* options;  // the unit's
    int result;
    std::int64_t endsFrom;  // virtual time by which the identification has ended, at the earliest
    std::int64_t endsBy;    // and at the latest
};

void PrintTo(const IdentifyCase& c, std::ostream* os)
{
    *os << c.name;
}

class IdentifyTest : public LinkTest, public ::testing::WithParamInterface<IdentifyCase>
{
};
}  // namespace

// The query goes out once; a failure shows one box, and no timer is left
// to set the flag later.
TEST_P(IdentifyTest, EndsWithTheRightResultInTime)
{
    const IdentifyCase& c = GetParam();
    Connect(c.options);
    EXPECT_EQ(c.result, dlg->DetectDevice());
    EXPECT_GE(NowMs(), c.endsFrom);
    EXPECT_LE(NowMs(), c.endsBy);
    EXPECT_EQ(kQuery, Written());
    EXPECT_FALSE(Timer(TIMEOUT_TIMER_ID).armed);
    if (c.result == 1)
    {
        EXPECT_EQ(0, dlg->m_bTimeout);
        EXPECT_TRUE(TheScreen().messages.empty());
        return;
    }
    ASSERT_EQ(1u, TheScreen().messages.size());
    EXPECT_EQ(kNotDetectedText, TheScreen().messages[0].text);
    EXPECT_EQ(MB_ICONEXCLAMATION, TheScreen().messages[0].type);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, IdentifyTest,
    ::testing::Values(IdentifyCase{"TheUnitsReply", "", 1, 0, 10},
                      IdentifyCase{"InTwoPieces", "--split 3 --split-gap 40", 1, 40, 50},
                      IdentifyCase{"RestTooLate", "--split 3 --split-gap 450", 0, 200, 200 + kTimeoutMarginMs},
                      IdentifyCase{"TooLate", "--delay 450", 0, 200, 200 + kTimeoutMarginMs},
                      IdentifyCase{"AnotherModel", "--fifth 1", 0, 0, 10},
                      IdentifyCase{"Silent", "--silent", 0, 200, 200 + kTimeoutMarginMs},
                      // "?;" at 150 ms gives the full time again: the reply at 330 ms is in time...
                      IdentifyCase{"BusyThenReply", "--delay 150 --question-first --question-gap 180", 1, 330, 340},
                      // ...and without it the wait ends 200 ms after the "?;".
                      IdentifyCase{"BusyThenSilent", "--delay 150 --question-only", 0, 350, 350 + kTimeoutMarginMs}),
    [](const ::testing::TestParamInfo<IdentifyCase>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, ReplyOneByteAtATimeIsRecognised)
{
    const std::string reply = "TY210;";
    Replies replies;
    for (std::size_t i = 0; i < reply.size(); ++i)
        replies.push_back({static_cast<std::int64_t>(5 + 20 * i), Text(reply.substr(i, 1))});
    AnswerIdentify(replies);
    EXPECT_EQ(1, dlg->DetectDevice());
    EXPECT_TRUE(TheScreen().messages.empty());
}

TEST_F(LinkTest, RepliesArrivingTogetherAreJudgedOneByOne)
{
    AnswerIdentify({{5, Text("X;;TY210;")}});
    EXPECT_EQ(1, dlg->DetectDevice());
}

TEST_F(LinkTest, EndlesslyBusyUnitIsGivenUpOnAfterTenRenewals)
{
    // "?;" every 100 ms for a minute: the time-out is renewed ten times (the
    // last at 1000 ms), then it runs out.
    Replies replies;
    for (std::int64_t at = 100; at <= 60000; at += 100)
        replies.push_back({at, Text("?;")});
    AnswerIdentify(replies);
    EXPECT_EQ(0, dlg->DetectDevice());
    EXPECT_GE(NowMs(), 1200);
    EXPECT_LE(NowMs(), 1200 + kTimeoutMarginMs);
    EXPECT_EQ(11u, Timer(TIMEOUT_TIMER_ID).sets);
}

// ---- Bit-rate handshake ------------------------------------------------------------

namespace
{
struct HandshakeCase
{
    const char* name;
    const char* options;  // the unit's, in writing mode
    int result;
    int bursts;      // of ten 0x00 sent
    bool confirmed;  // then 0x55
};

void PrintTo(const HandshakeCase& c, std::ostream* os)
{
    *os << c.name;
}

class HandshakeTest : public LinkTest, public ::testing::WithParamInterface<HandshakeCase>
{
};
}  // namespace

// Up to five bursts, 200 ms apart; the confirmation only after an answer of
// exactly one 0x00.
TEST_P(HandshakeTest, SendsWhatTheUnitsAnswersCallFor)
{
    const HandshakeCase& c = GetParam();
    Connect(std::string("--mode writing ") + c.options);
    EXPECT_EQ(c.result, dlg->SyncBitRate());
    Bytes expected(10 * static_cast<std::size_t>(c.bursts), 0x00);
    if (c.confirmed)
        expected.push_back(0x55);
    EXPECT_EQ(expected, Written());
    EXPECT_LE(NowMs(), (c.bursts + (c.confirmed ? 1 : 0)) * (200 + kTimeoutMarginMs));
}

INSTANTIATE_TEST_SUITE_P(Answers, HandshakeTest,
                         ::testing::Values(HandshakeCase{"ThirdBurst", "--silent-bursts 2", 1, 3, true},
                                           HandshakeCase{"NoBurstAnswered", "--silent-bursts 5", 0, 5, false},
                                           HandshakeCase{"TwoBytesForOne", "--fault extra --at sync", 0, 1, false},
                                           HandshakeCase{"NoConfirmation", "--fault silence --at confirm", 0, 1, true}),
                         [](const ::testing::TestParamInfo<HandshakeCase>& info) { return std::string(info.param.name); });

// ---- Write control program ----------------------------------------------------------

namespace
{
// Echoes every program byte; with the last one comes 0xAA, the old firmware
// deleted.
void EchoProgram()
{
    SetResponder([](const Bytes& w, std::size_t index) {
        Bytes reply = w;
        if (index + 1 == static_cast<std::size_t>(kWriteControlProgramBytes))
            reply.push_back(0xAA);
        return Replies{{2, reply}};
    });
}
}  // namespace

TEST_F(WritingTest, ProgramLoadsByteByByte)
{
    Connect("--mode writing");
    ASSERT_EQ(1, dlg->SyncBitRate());
    TheScreen() = Screen();
    EXPECT_EQ(1, dlg->LoadWriteControlProgram());
    const Bytes written = Written();
    const Bytes program(WriteControlProgram, WriteControlProgram + kWriteControlProgramBytes);
    EXPECT_TRUE(std::equal(written.begin() + 11, written.end(), program.begin(), program.end()));
    EXPECT_EQ(1, g_rxRun.load()) << "the receive thread is running again for the transfer";
    const Screen& screen = TheScreen();
    ASSERT_FALSE(screen.positions.empty());
    EXPECT_EQ(1, screen.positions.front());
    EXPECT_EQ(100, screen.positions.back());
    EXPECT_EQ(std::make_pair(std::string(kLoadingProgramText), std::string("1%")), screen.labels.at(1));
    EXPECT_EQ(std::make_pair(std::string(kDeletingText), std::string("100%")), screen.labels.back());
    EXPECT_TRUE(screen.messages.empty());
}

TEST_F(WritingTest, FailedLoadLeavesTheReceiveThreadStopped)
{
    Connect("--mode writing --fault silence --at echo --index 0");
    ASSERT_EQ(1, dlg->SyncBitRate());
    EXPECT_EQ(0, dlg->LoadWriteControlProgram());
    EXPECT_EQ(std::make_pair(std::string(kLoadingProgramText), std::string("1%")),
              TheScreen().labels.back());
    EXPECT_EQ(1, TheScreen().positions.back());
    EXPECT_EQ(0, g_rxRun.load());
}

TEST_F(WritingTest, DirectReadTakesAtMost256Bytes)
{
    // 600 bytes answer the first program byte: the direct read takes them
    // 256 at a time, into its 256-byte buffer.
    Connect("--mode writing --fault flood --flood-bytes 600 --flood-seed 7 --at echo --index 0");
    ASSERT_EQ(1, dlg->SyncBitRate());
    EXPECT_EQ(0, dlg->LoadWriteControlProgram());
    EXPECT_EQ(static_cast<DWORD>(kReplyBufferBytes), LargestDirectRead());
}

TEST_F(WritingTest, DirectReadTakesTheBytesItsWaitCounted)
{
    // The 0xAA comes between the count of the last echo and its read: the
    // read takes the echo alone, and the wait once more finds the 0xAA.
    SetResponder([](const Bytes& w, std::size_t) { return Replies{{2, w}}; });
    DeliverAfterCount(kWriteControlProgramBytes - 1, ByteList({0xAA}));
    EXPECT_EQ(1, dlg->LoadWriteControlProgram());
    EXPECT_EQ(1u, LargestDirectRead());
    EXPECT_TRUE(TheScreen().messages.empty());
}

TEST_F(WritingTest, ShortDirectReadShowsTheTestBoxAndGoesOn)
{
    // The last echo and the 0xAA come together, the driver gives one byte a
    // read: the read brings less than its wait counted.
    EchoProgram();
    LimitReads(1);
    EXPECT_EQ(1, dlg->LoadWriteControlProgram());
    ASSERT_EQ(1u, TheScreen().messages.size());
    EXPECT_EQ(kTestText, TheScreen().messages[0].text);
    EXPECT_EQ(MB_OK, TheScreen().messages[0].type);
    EXPECT_EQ("", TheScreen().messages[0].caption) << "no caption: the box shows the program's name";
}

TEST_F(WritingTest, UnpluggedDuringTheLoadShowsTheSystemText)
{
    Connect("--mode writing");
    ASSERT_EQ(1, dlg->SyncBitRate());
    UnplugAtWrite(WriteCalls() + 100);
    EXPECT_EQ(0, dlg->LoadWriteControlProgram());
    ASSERT_EQ(1u, TheScreen().messages.size());
    EXPECT_EQ(kNotReadyText, TheScreen().messages[0].text);
    EXPECT_EQ(2u + 101u, WriteCalls());
}

// ---- Block transfer ----------------------------------------------------------------

TEST_F(WritingTest, TransferPutsEveryChunkInPlaceOnce)
{
    ToBlocks("");
    const std::size_t before = Written().size();
    EXPECT_EQ(1, dlg->TransferFirmware(FirmwareImage));
    EXPECT_TRUE(m_unit->complete());
    EXPECT_TRUE(m_unit->image() == Bytes(FirmwareImage, FirmwareImage + kFirmwareImageBytes));
    const Bytes written = Written();
    EXPECT_TRUE(std::equal(written.begin() + static_cast<std::ptrdiff_t>(before), written.end(),
                           TransferStream().begin(), TransferStream().end()));
    const Screen& screen = TheScreen();
    EXPECT_TRUE(std::is_sorted(screen.positions.begin(), screen.positions.end()));
    ASSERT_FALSE(screen.positions.empty());
    EXPECT_EQ(0, screen.positions.front());
    EXPECT_EQ(99, screen.positions.back()) << "the last chunk sets no position";
    EXPECT_EQ(std::make_pair(std::string(kTransferringText), std::string("0%")), screen.labels.front());
    EXPECT_EQ(kFullPercentText, screen.labels.back().second);
    EXPECT_TRUE(screen.messages.empty());
}

TEST_F(WritingTest, RejectedChecksumEndsTheTransfer)
{
    ToBlocks("--fault wrong --fault-byte 0x15 --at ack --index 0");
    const std::size_t before = WriteCalls();
    EXPECT_EQ(0, dlg->TransferFirmware(FirmwareImage));
    // Command, address, size, ready, 32 chunks with their handshakes, checksum.
    EXPECT_EQ(4u + 2 * 32 + 1, WriteCalls() - before);
    EXPECT_TRUE(TheScreen().messages.empty());
}

TEST_F(WritingTest, UnpluggedDuringTheTransferShowsTheSystemText)
{
    ToBlocks("");
    const std::size_t before = WriteCalls();
    UnplugAtWrite(before + 5);
    EXPECT_EQ(0, dlg->TransferFirmware(FirmwareImage));
    ASSERT_EQ(1u, TheScreen().messages.size());
    EXPECT_EQ(kNotReadyText, TheScreen().messages[0].text);
    EXPECT_EQ(6u, WriteCalls() - before);
}

// ---- Whole runs ----------------------------------------------------------------

TEST_F(WorldTest, WholeUpdateWritesEveryByteOnceInOrder)
{
    Connect("--s1 auto");
    Click(IDC_START);
    Bytes expected = kQuery;
    expected.insert(expected.end(), 10, 0x00);
    expected.push_back(0x55);
    expected.insert(expected.end(), WriteControlProgram, WriteControlProgram + kWriteControlProgramBytes);
    expected.insert(expected.end(), TransferStream().begin(), TransferStream().end());
    EXPECT_TRUE(expected == Written());
    EXPECT_EQ(kCompletedText, TheScreen().messages.at(2).text);
}

namespace
{
struct CancelCase
{
    const char* name;
    bool marked;
    std::int64_t clickMs;
    std::vector<std::string> shown;
    std::size_t sentFrom;  // bytes sent after the handshake, at least
    std::size_t sentTo;    // and at most
};

void PrintTo(const CancelCase& c, std::ostream* os)
{
    *os << c.name;
}

class CancelTest : public WorldTest, public ::testing::WithParamInterface<CancelCase>
{
};
}  // namespace

// The identification and the handshake do not look at Cancel: the flag stays
// set, and the load stops after its first byte. The load and the transfer
// stop at once. The next Start in the same window runs a whole update.
TEST_P(CancelTest, EndsTheRunAsFailedButNotTheNext)
{
    const CancelCase& c = GetParam();
    if (c.marked)
        TheRegistry() = Registry{true, kRecordValue, true};
    const qvsim::Unit& unit = Connect("--s1 auto --latency 4");
    ClickAt(c.clickMs, IDC_CANCEL_RUN);
    Click(IDC_START);
    std::vector<std::string> shown;
    for (const Message& m : TheScreen().messages)
        shown.push_back(m.text);
    EXPECT_EQ(c.shown, shown);
    if (!c.marked)
    {
        EXPECT_TRUE(TheRegistry().hasValue && TheRegistry().value == kRecordValue)
            << "the identification completed despite Cancel";
    }
    // The query, if any, a burst and the confirmation come first.
    const std::size_t sent = Written().size() - (c.marked ? 0 : kQuery.size()) - 11;
    EXPECT_GE(sent, c.sentFrom);
    EXPECT_LE(sent, c.sentTo);
    EXPECT_FALSE(unit.complete());

    ::Sleep(10000);  // the user reads the box, powers the unit up again
    const qvsim::Unit& again = Connect("--s1 auto --latency 4");
    Click(IDC_START);
    EXPECT_TRUE(again.image() == Bytes(FirmwareImage, FirmwareImage + kFirmwareImageBytes)) << "the next run";
}

INSTANTIATE_TEST_SUITE_P(
    Stages, CancelTest,
    ::testing::Values(CancelCase{"DuringIdentification", false, 2,
                                 {kConnectText, kWritingModeText, kFailedText}, 1, 1},
                      CancelCase{"DuringTheLoad", true, 3000, {kWritingModeText, kFailedText}, 2, 1435},
                      CancelCase{"DuringTheTransfer", true, 12000, {kWritingModeText, kFailedText},
                                 1436 + 11, 1436 + 200000}),
    [](const ::testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.name); });

// ---- The run's ways out ----------------------------------------------------------------

namespace
{
struct RunExit
{
    const char* name;
    Registry registry;
    bool portThere;
    std::size_t cutAtWrite;
    int firstAnswer;
    std::vector<EndBox> shown;  // every box, its text and type
    const char* sent;           // every byte written; nullptr: the whole update
    bool cleanUp;               // the labels and the bar set back to idle
    bool caution;               // the caution showed
    EXECUTION_STATE before = ES_CONTINUOUS;
};

void PrintTo(const RunExit& c, std::ostream* os)
{
    *os << c.name;
}

class RunExitTest : public WorldTest, public ::testing::WithParamInterface<RunExit>
{
};

const std::size_t kNoCut = static_cast<std::size_t>(-1);
const Registry kUnmarked{};
const Registry kMarked{true, kRecordValue, true};
const std::map<int, bool> kRunControls = {
    {IDC_START, false}, {IDC_CANCEL_RUN, true}, {IDC_EXIT, false}, {IDC_PERCENT, true}, {IDC_PORT, false}};
const std::map<int, bool> kIdleControls = {
    {IDC_START, true}, {IDC_CANCEL_RUN, false}, {IDC_EXIT, true}, {IDC_PERCENT, false}, {IDC_PORT, true}};
const EndBox kConnect{kConnectText, MB_OKCANCEL | MB_ICONINFORMATION};
const EndBox kWritingMode{kWritingModeText, MB_OKCANCEL | MB_ICONINFORMATION};
const EndBox kOpenFailed{kOpenFailedText, MB_ICONEXCLAMATION};
}  // namespace

// Each way out shows its boxes, exactly, sends what it may, cleans up or not,
// shows the caution only while it writes, and hands back the power request
// and the timer resolution; at every box the PC is kept awake and only Cancel
// and the percent label are enabled, and at the end the controls of an idle
// dialog.
TEST_P(RunExitTest, KeepsThePcAwakeUntilItEnds)
{
    const RunExit& c = GetParam();
    TheRegistry() = c.registry;
    SetExecutionState(c.before);
    if (!c.portThere)
        SelectPort("COM9");
    UnplugAtWrite(c.cutAtWrite);
    TheScreen().answers = {c.firstAnswer};
    Connect("--s1 auto");
    Click(IDC_START);

    std::vector<std::pair<std::string, UINT>> shown, expected;
    for (const Message& m : TheScreen().messages)
    {
        shown.emplace_back(m.text, m.type);
        EXPECT_EQ(kCaption, m.caption) << "at " << m.text;
        EXPECT_EQ(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED, m.awake) << "at " << m.text;
        EXPECT_EQ(kRunControls, m.enabled) << "at " << m.text;
    }
    for (const EndBox& box : c.shown)
        expected.emplace_back(box.text, box.type);
    EXPECT_EQ(expected, shown);
    EXPECT_EQ(kIdleControls, TheScreen().enabled);
    if (c.sent)
    {
        EXPECT_EQ(Text(c.sent), Written());
    }
    const Screen& screen = TheScreen();
    if (c.cleanUp)
    {
        ASSERT_FALSE(screen.labels.empty() || screen.positions.empty()) << "no clean-up";
        EXPECT_EQ(std::make_pair(std::string(kIdleStatusText), std::string()), screen.labels.back());
        EXPECT_EQ(0, screen.positions.back());
    }
    else
    {
        EXPECT_TRUE(screen.labels.empty() && screen.positions.empty()) << "a clean-up";
    }
    EXPECT_EQ(c.caution, screen.cautionShown);
    EXPECT_FALSE(screen.caution);
    EXPECT_EQ(ES_CONTINUOUS, ExecutionState());
    EXPECT_EQ(0, TimerPeriodsHeld());
}

INSTANTIATE_TEST_SUITE_P(
    Exits, RunExitTest,
    ::testing::Values(
        RunExit{"CancelAtTheFirstBox", kUnmarked, true, kNoCut, IDCANCEL, {kConnect}, "", false, false},
        // Wine reports its defaults, not ES_CONTINUOUS, before any request.
        RunExit{"CancelWhereNothingWasHeldBefore", kUnmarked, true, kNoCut, IDCANCEL, {kConnect}, "", false, false,
                ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED | ES_USER_PRESENT},
        RunExit{"CancelAtTheSecondBox", kMarked, true, kNoCut, IDCANCEL, {kWritingMode}, "", true, false},
        RunExit{"OpenFailsToIdentify", kUnmarked, false, kNoCut, IDOK, {kConnect, kOpenFailed}, "", false, false},
        RunExit{"OpenFailsToWrite", kMarked, false, kNoCut, IDOK, {kWritingMode, kOpenFailed}, "", false, false},
        RunExit{"MarkerNotStored", {true, 0, false}, true, kNoCut, IDOK, {kConnect, {kAdminText, MB_ICONHAND}},
                ";;;TY;", true, false},
        RunExit{"WriteFails", kUnmarked, true, 0, IDOK, {kConnect, {kNotReadyText, MB_ICONEXCLAMATION}}, "", true,
                false},
        RunExit{"Completed", kUnmarked, true, kNoCut, IDOK, RunBoxes(false, true, Done), nullptr, true, true}),
    [](const ::testing::TestParamInfo<RunExit>& info) { return std::string(info.param.name); });
