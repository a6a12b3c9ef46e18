// The receive thread, the ring and the waits of serial/SerialLink.cpp on the
// fake port and the virtual clock.
#include "support/Fixture.h"

#include <algorithm>

using namespace qvnative;

namespace
{
const BYTE kAck = 0x06;

// Every byte the receive thread took is consumed or still in the ring, in
// the order the device sent them, and the rest waits in the driver.
void ExpectRingConsistent(const fake::Bytes& sent)
{
    const fake::Bytes taken = fake::HandedOut();
    const fake::Bytes ring = RingContents();
    ASSERT_LE(ring.size(), 255u);
    ASSERT_LE(taken.size(), sent.size());
    EXPECT_TRUE(std::equal(taken.begin(), taken.end(), sent.begin())) << "the thread took bytes out of order";
    ASSERT_LE(ring.size(), taken.size());
    EXPECT_TRUE(std::equal(ring.begin(), ring.end(), taken.end() - static_cast<std::ptrdiff_t>(ring.size())))
        << "the ring does not hold the last bytes taken";
    EXPECT_EQ(sent.size(), taken.size() + fake::QueuedBytes());
}
}  // namespace

TEST_F(LinkTest, BurstLargerThanTheRingArrivesWholeAndInOrder)
{
    // 1,000 bytes at once: the ring takes what fits, the driver keeps the rest.
    const fake::Bytes burst = Numbered(1000, 1);
    fake::Deliver(burst);
    fake::Bytes got;
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
    EXPECT_LE(fake::LargestThreadRead(), 255u) << "the thread asked for more than the ring can hold";
}

TEST_F(LinkTest, ReaderRestartsEndTheThreadAndLoseNothingQueued)
{
    // Bytes left in the driver while the reader is stopped are read after
    // the restart; the restart itself empties the ring.
    const fake::Bytes first = Numbered(600, 3);
    fake::Deliver(first);
    ::Sleep(1);
    ASSERT_EQ(255u, RingContents().size());
    dlg->StopReader();
    EXPECT_EQ(first.size() - 255, fake::QueuedBytes());
    dlg->StartReader();
    EXPECT_EQ(1, dlg->RingEmpty());
    ::Sleep(1);
    const fake::Bytes ring = RingContents();
    ASSERT_EQ(255u, ring.size());
    EXPECT_TRUE(std::equal(ring.begin(), ring.end(), first.begin() + 255));
    for (int cycle = 0; cycle < 20; ++cycle)
    {
        dlg->StopReader();
        dlg->StartReader();
    }
    EXPECT_EQ(1, dlg->RingEmpty());
}

TEST_F(LinkTest, FloodDuringAWaitForOneByte)
{
    // 5,000 bytes where one acknowledgement is expected: no write past any
    // buffer, the wait ends at its time-out, the ring stays consistent.
    const fake::Bytes flood = Numbered(5000, 2);
    fake::DeliverAt(10, flood);
    EXPECT_EQ(0, dlg->WaitForBytes(1000, &kAck, 1));
    EXPECT_GE(fake::NowMs(), 1000);
    EXPECT_LE(fake::NowMs(), 1000 + kTimeoutMarginMs);
    ExpectRingConsistent(flood);
}

TEST_F(LinkTest, FloodDuringIdentification)
{
    // Replies longer than the reply buffer, with and without separators.
    fake::Bytes flood = Numbered(5000, 4);
    std::fill(flood.begin(), flood.begin() + 700, 'T');
    fake::SetResponder([&flood](const fake::Bytes&, std::size_t) { return std::vector<fake::Reply>{{5, flood}}; });
    EXPECT_EQ(0, dlg->DetectDevice());
    EXPECT_GE(fake::NowMs(), 200);
    EXPECT_LE(fake::NowMs(), 200 + kTimeoutMarginMs);
    ASSERT_EQ(1u, fake::TheScreen().messages.size());
    EXPECT_EQ("Could not detect the QV-6100.", fake::TheScreen().messages[0].text);
    ExpectRingConsistent(flood);
}

struct WaitCase
{
    const char* name;
    std::vector<std::pair<std::int64_t, fake::Bytes>> arrivals;  // time, bytes
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
        fake::DeliverAt(arrival.first, arrival.second);
    const int result = dlg->WaitForBytes(1000, reinterpret_cast<const BYTE*>(c.expected.data()),
                                         static_cast<int>(c.expected.size()));
    EXPECT_EQ(c.result, result);
    EXPECT_GE(fake::NowMs(), c.endsFrom);
    EXPECT_LE(fake::NowMs(), c.endsBy);
}

const std::int64_t kTimeout = 1000;
const std::int64_t kLate = kTimeout + kTimeoutMarginMs;

INSTANTIATE_TEST_SUITE_P(
    Replies, WaitForBytesTest,
    ::testing::Values(
        WaitCase{"Right", {{30, Bytes({0x06})}}, "\x06", 1, 30, 40},
        WaitCase{"RightInTwoPieces", {{30, Text("TY2")}, {80, Text("10;")}}, "TY210;", 1, 80, 90},
        WaitCase{"RightJustBeforeTheTimeOut", {{kTimeout - 5, Bytes({0x06})}}, "\x06", 1, kTimeout - 5, kTimeout},
        WaitCase{"Wrong", {{30, Bytes({0x15})}}, "\x06", 0, 30, 40},
        WaitCase{"Extra", {{30, Bytes({0x06, 0x06})}}, "\x06", 0, kTimeout, kLate},
        WaitCase{"Fewer", {{30, Bytes({0x06})}, {31, Bytes({0x06})}}, "\x06\x06\x06", 0, kTimeout, kLate},
        WaitCase{"None", {}, "\x06", 0, kTimeout, kLate},
        WaitCase{"TooLate", {{kTimeout + 50, Bytes({0x06})}}, "\x06", 0, kTimeout, kLate},
        WaitCase{"MoreThanTheBuffer", {{30, Numbered(300, 5)}}, "\x06", 0, kTimeout, kLate}),
    [](const ::testing::TestParamInfo<WaitCase>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, CancelEndsAWait)
{
    fake::ClickAt(100, IDC_CANCEL_RUN);
    EXPECT_EQ(0, dlg->WaitForBytes(5000, &kAck, 1));
    EXPECT_EQ(1, dlg->m_bCancel);
    EXPECT_GE(fake::NowMs(), 100);
    EXPECT_LE(fake::NowMs(), 100 + kTimeoutMarginMs);
}

TEST_F(LinkTest, UnpluggedWriteShowsTheSystemText)
{
    fake::UnplugAtWrite(0);
    const BYTE command[] = {0x57, 0x00};
    EXPECT_EQ(0, dlg->WritePort(command, sizeof command));
    ASSERT_EQ(1u, fake::TheScreen().messages.size());
    EXPECT_EQ("Not ready.", fake::TheScreen().messages[0].text);
    EXPECT_EQ("QV-6100 Update", fake::TheScreen().messages[0].caption);
    EXPECT_EQ(MB_ICONEXCLAMATION, fake::TheScreen().messages[0].type);
    EXPECT_TRUE(fake::Written().empty());
    // The receive thread polls a port that fails every call now; it must
    // still stop (TearDown).
    ::Sleep(5);
}
