// The receive thread, the ring and the waits of serial/SerialLink.cpp on the
// fake port and the virtual clock.
#include "support/Fixture.h"
#include "tests/UserTexts.h"

#include <algorithm>

using namespace qvtest;

namespace
{
const BYTE kAck = 0x06;

// Every byte the receive thread took is consumed or still in the ring, in
// the order the device sent them, and the rest waits in the driver.
void ExpectRingConsistent(const Bytes& sent)
{
    const Bytes taken = HandedOut();
    const Bytes ring = RingContents();
    ASSERT_LE(ring.size(), 255u);
    ASSERT_LE(taken.size(), sent.size());
    EXPECT_TRUE(std::equal(taken.begin(), taken.end(), sent.begin())) << "the thread took bytes out of order";
    ASSERT_LE(ring.size(), taken.size());
    EXPECT_TRUE(std::equal(ring.begin(), ring.end(), taken.end() - static_cast<std::ptrdiff_t>(ring.size())))
        << "the ring does not hold the last bytes taken";
    EXPECT_EQ(sent.size(), taken.size() + QueuedBytes());
}
}  // namespace

TEST_F(LinkTest, BurstLargerThanTheRingArrivesWholeAndInOrder)
{
    // 1,000 bytes at once: the ring takes what fits, the driver keeps the rest.
    const Bytes burst = Numbered(1000, 1);
    Deliver(burst);
    Bytes got;
    BYTE buffer[kReplyBufferBytes];
    for (int i = 0; i < 50 && got.size() < burst.size(); ++i)
    {
        ::Sleep(1);
        if (i % 3 == 0)
        {
            const int n = dlg->ReadReply(buffer);
            got.insert(got.end(), buffer, buffer + n);
        }
        else
        {
            const int n = dlg->DrainRing(buffer, kReplyBufferBytes);
            ASSERT_LE(n, 255);
            got.insert(got.end(), buffer, buffer + n);
        }
    }
    EXPECT_EQ(burst, got);
    EXPECT_EQ(1, dlg->RingEmpty());
    EXPECT_LE(LargestThreadRead(), 255u) << "the thread asked for more than the ring can hold";

    // It stores at successive positions, from 255 on to 0: a burst that
    // starts at 250 leaves the write index at 2.
    Deliver(Bytes(static_cast<unsigned char>(250 - g_rxWrite.load()), 0x00));
    ::Sleep(1);
    dlg->DrainRing(buffer, kReplyBufferBytes);
    ASSERT_EQ(250, g_rxWrite.load());
    const Bytes wrapping = Numbered(8, 9);
    Deliver(wrapping);
    ::Sleep(1);
    EXPECT_EQ(250, g_rxRead.load());
    EXPECT_EQ(2, g_rxWrite.load());
    for (unsigned char i = 0; i < wrapping.size(); ++i)
        EXPECT_EQ(wrapping[i], RxRing[static_cast<unsigned char>(250 + i)]) << "position " << 250 + i;
}

TEST_F(LinkTest, ReaderRestartsEndTheThreadAndLoseNothingQueued)
{
    // Bytes left in the driver while the reader is stopped are read after
    // the restart; the restart itself empties the ring.
    const Bytes first = Numbered(600, 3);
    Deliver(first);
    ::Sleep(1);
    ASSERT_EQ(255u, RingContents().size());
    dlg->StopReader();
    EXPECT_EQ(first.size() - 255, QueuedBytes());
    dlg->StartReader();
    EXPECT_EQ(1, dlg->RingEmpty());
    ::Sleep(1);
    const Bytes ring = RingContents();
    ASSERT_EQ(255u, ring.size());
    EXPECT_TRUE(std::equal(ring.begin(), ring.end(), first.begin() + 255));
    for (int cycle = 0; cycle < 20; ++cycle)
    {
        dlg->StopReader();
        dlg->StartReader();
    }
    EXPECT_EQ(1, dlg->RingEmpty());

    // Stopping and closing twice is harmless, and the link opens again.
    dlg->StopReader();
    dlg->StopReader();
    dlg->ClosePort();
    dlg->ClosePort();
    EXPECT_FALSE(PortOpen());
    EXPECT_TRUE(TheScreen().messages.empty());
    ASSERT_EQ(1, dlg->OpenPort());
    dlg->StartReader();
    Deliver(Text("TY210;"));
    ::Sleep(1);
    EXPECT_EQ(Text("TY210;"), RingContents());
}

namespace
{
// Loads the ring by hand, with no receive thread running.
void FillRing(unsigned char start, const std::string& bytes)
{
    g_rxRead.store(start);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        RxRing[static_cast<unsigned char>(start + i)] = static_cast<unsigned char>(bytes[i]);
    g_rxWrite.store(static_cast<unsigned char>(start + bytes.size()));
}
}  // namespace

TEST_F(WorldTest, RingReadersStayWithinTheirBuffers)
{
    BYTE buffer[kReplyBufferBytes + 4];
    std::fill(std::begin(buffer), std::end(buffer), 0x5A);
    FillRing(17, "");
    EXPECT_EQ(0, dlg->ReadReply(buffer));
    EXPECT_TRUE(std::all_of(std::begin(buffer), std::end(buffer), [](BYTE b) { return b == 0x5A; }));
    EXPECT_EQ(17, g_rxRead.load());

    // A reply is taken up to its first ';', across the end of the ring.
    FillRing(253, "ab;cd;");
    ASSERT_EQ(3, dlg->ReadReply(buffer));
    EXPECT_EQ(Text("ab;"), Bytes(buffer, buffer + 3));
    EXPECT_EQ(0x5A, buffer[3]);
    ASSERT_EQ(3, dlg->ReadReply(buffer));
    EXPECT_EQ(Text("cd;"), Bytes(buffer, buffer + 3));
    EXPECT_EQ(1, dlg->RingEmpty());

    // DrainRing takes all, copies what fits.
    FillRing(0, std::string(255, 'x'));
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    EXPECT_EQ(255, dlg->DrainRing(buffer, 16));
    EXPECT_TRUE(std::all_of(buffer, buffer + 16, [](BYTE b) { return b == 'x'; }));
    EXPECT_TRUE(std::all_of(buffer + 16, std::end(buffer), [](BYTE b) { return b == 0xEE; }));
    EXPECT_EQ(1, dlg->RingEmpty());
}

TEST_F(LinkTest, FloodDuringAWaitForOneByte)
{
    // 5,000 bytes where one acknowledgement is expected: no write past any
    // buffer, the wait ends at its time-out, the ring stays consistent.
    const Bytes flood = Numbered(5000, 2);
    DeliverAt(10, flood);
    EXPECT_EQ(0, dlg->WaitForBytes(1000, &kAck, 1));
    EXPECT_GE(NowMs(), 1000);
    EXPECT_LE(NowMs(), 1000 + kTimeoutMarginMs);
    ExpectRingConsistent(flood);
}

TEST_F(LinkTest, FloodDuringIdentification)
{
    // Replies longer than the reply buffer, with and without separators.
    Bytes flood = Numbered(5000, 4);
    std::fill(flood.begin(), flood.begin() + 700, 'T');
    SetResponder([&flood](const Bytes&, std::size_t) { return std::vector<Reply>{{5, flood}}; });
    EXPECT_EQ(0, dlg->DetectDevice());
    EXPECT_GE(NowMs(), 200);
    EXPECT_LE(NowMs(), 200 + kTimeoutMarginMs);
    ASSERT_EQ(1u, TheScreen().messages.size());
    EXPECT_EQ(kNotDetectedText, TheScreen().messages[0].text);
    ExpectRingConsistent(flood);
}

struct WaitCase
{
    const char* name;
    std::vector<std::pair<std::int64_t, Bytes>> arrivals;  // time, bytes
    std::string expected;
    int result;
    std::int64_t endsFrom;  // virtual time by which the wait has ended, at the earliest
    std::int64_t endsBy;    // and at the latest
};

class WaitForBytesTest : public LinkTest, public ::testing::WithParamInterface<WaitCase>
{
};

TEST_P(WaitForBytesTest, EndsWithTheRightResultInTime)
{
    const WaitCase& c = GetParam();
    for (const auto& arrival : c.arrivals)
        DeliverAt(arrival.first, arrival.second);
    const int result = dlg->WaitForBytes(1000, reinterpret_cast<const BYTE*>(c.expected.data()),
                                         static_cast<int>(c.expected.size()));
    EXPECT_EQ(c.result, result);
    EXPECT_GE(NowMs(), c.endsFrom);
    EXPECT_LE(NowMs(), c.endsBy);
}

const std::int64_t kTimeout = 1000;
const std::int64_t kLate = kTimeout + kTimeoutMarginMs;

INSTANTIATE_TEST_SUITE_P(
    Replies, WaitForBytesTest,
    ::testing::Values(
        WaitCase{"Right", {{30, ByteList({0x06})}}, "\x06", 1, 30, 40},
        WaitCase{"RightInTwoPieces", {{30, Text("TY2")}, {80, Text("10;")}}, "TY210;", 1, 80, 90},
        WaitCase{"RightJustBeforeTheTimeOut", {{kTimeout - 5, ByteList({0x06})}}, "\x06", 1, kTimeout - 5, kTimeout},
        WaitCase{"Wrong", {{30, ByteList({0x15})}}, "\x06", 0, 30, 40},
        WaitCase{"Extra", {{30, ByteList({0x06, 0x06})}}, "\x06", 0, kTimeout, kLate},
        WaitCase{"Fewer", {{30, ByteList({0x06})}, {31, ByteList({0x06})}}, "\x06\x06\x06", 0, kTimeout, kLate},
        WaitCase{"None", {}, "\x06", 0, kTimeout, kLate},
        WaitCase{"TooLate", {{kTimeout + 50, ByteList({0x06})}}, "\x06", 0, kTimeout, kLate},
        WaitCase{"MoreThanTheBuffer", {{30, Numbered(300, 5)}}, "\x06", 0, kTimeout, kLate}),
    [](const ::testing::TestParamInfo<WaitCase>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, CancelEndsAWait)
{
    ClickAt(100, IDC_CANCEL_RUN);
    EXPECT_EQ(0, dlg->WaitForBytes(5000, &kAck, 1));
    EXPECT_EQ(1, dlg->m_bCancel);
    EXPECT_GE(NowMs(), 100);
    EXPECT_LE(NowMs(), 100 + kTimeoutMarginMs);
}
