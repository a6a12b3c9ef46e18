// The serial link's operations through the real Win32 port path.
#include "serial/SerialLink.h"
#include "support/Harness.h"
#include "tests/UserTexts.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace qvtest;
using namespace qvwine;

namespace
{
// Loads the ring by hand, with no receive thread running.
void FillRing(unsigned char start, const std::string& bytes)
{
    g_rxRead.store(start);
    for (size_t i = 0; i < bytes.size(); ++i)
        RxRing[static_cast<unsigned char>(start + i)] = static_cast<unsigned char>(bytes[i]);
    g_rxWrite.store(static_cast<unsigned char>(start + bytes.size()));
}

// Waits (pumping) until the ring holds n unread bytes.
bool WaitForRing(TestDialog& t, int n, int timeoutMs = 2000)
{
    const int64_t end = NowUs() + timeoutMs * 1000LL;
    while (NowUs() < end)
    {
        if (static_cast<unsigned char>(g_rxWrite.load() - g_rxRead.load()) >= n)
            return true;
        t.Pump(1);
    }
    return false;
}

std::string Send(TestDialog& t, const std::string& s)
{
    EXPECT_EQ(1, t.dlg.WritePort(reinterpret_cast<const BYTE*>(s.data()), static_cast<DWORD>(s.size())));
    return s;
}
}  // namespace

TEST(Ring, ReadReplyOnEmptyRingCopiesNothing)
{
    TestDialog t;
    FillRing(17, "");
    BYTE buffer[kReplyBufferBytes];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(0, t.dlg.ReadReply(buffer));
    for (BYTE b : buffer)
        ASSERT_EQ(0x5A, b);
    EXPECT_EQ(17, g_rxRead.load());
}

TEST(Ring, ReadReplyStopsAfterTheFirstSemicolon)
{
    TestDialog t;
    FillRing(253, "ab;cd;");  // wraps past 255
    BYTE buffer[kReplyBufferBytes];
    std::memset(buffer, 0, sizeof buffer);
    ASSERT_EQ(3, t.dlg.ReadReply(buffer));
    EXPECT_EQ(0, std::memcmp(buffer, "ab;", 3));
    EXPECT_EQ(0, buffer[3]);
    EXPECT_EQ(0, t.dlg.RingEmpty());
    ASSERT_EQ(3, t.dlg.ReadReply(buffer));
    EXPECT_EQ(0, std::memcmp(buffer, "cd;", 3));
    EXPECT_EQ(1, t.dlg.RingEmpty());
}

TEST(Ring, DrainRingNeverWritesPastItsCapacity)
{
    TestDialog t;
    std::string full(255, 'x');
    FillRing(0, full);
    BYTE dest[16 + 4];
    std::memset(dest, 0xEE, sizeof dest);
    EXPECT_EQ(255, t.dlg.DrainRing(dest, 16));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ('x', dest[i]);
    for (int i = 16; i < 20; ++i)
        EXPECT_EQ(0xEE, dest[i]) << "written past the capacity at " << i;
    EXPECT_EQ(1, t.dlg.RingEmpty());
}

class Link : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.Start(SimOptions()));
        t.reset(new TestDialog);
        t->SelectPort(sim.PortName());
        ASSERT_EQ(1, t->dlg.OpenPort());
        t->dlg.StartReader();
    }
    void TearDown() override
    {
        t.reset();
        sim.Stop();
    }
    virtual std::string SimOptions() const { return std::string(); }

    Sim sim;
    std::unique_ptr<TestDialog> t;
};

TEST_F(Link, ReceivedBytesWrapAroundTheRing)
{
    // 125 unknown commands bring the indices to 250; the next eight bytes
    // ("?;" and "TY210;") wrap.
    BYTE sink[kReplyBufferBytes];
    int received = 0;
    for (int batch = 0; batch < 5; ++batch)
    {
        std::string unknown;
        for (int i = 0; i < 25; ++i)
            unknown += "X;";
        Send(*t, unknown);
        ASSERT_TRUE(WaitForRing(*t, 50)) << "batch " << batch;
        received += t->dlg.DrainRing(sink, kReplyBufferBytes);
    }
    ASSERT_EQ(250, received);
    ASSERT_EQ(250, g_rxWrite.load());
    Send(*t, "X;TY;");
    ASSERT_TRUE(WaitForRing(*t, 8));
    EXPECT_EQ(2, g_rxWrite.load());
    const char expected[] = "?;TY210;";
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(expected[i], RxRing[static_cast<unsigned char>(250 + i)]) << "position " << (250 + i) % 256;
}

TEST_F(Link, WriteReachesTheUnitExactly)
{
    const std::string bytes("\x00\x11\x13\x0d\x0a\xff;", 7);
    Send(*t, bytes);
    t->Pump(100);
    t->dlg.StopReader();
    t->dlg.ClosePort();
    sim.Stop();
    EXPECT_EQ(bytes, sim.Log().fromPc());
}

TEST_F(Link, CancelEndsAWaitWithinOneIteration)
{
    BYTE expected = 0x06;
    t->dlg.m_bCancel = 0;
    t->ClickCancelAfter(100);
    const int64_t start = NowUs();
    EXPECT_EQ(0, t->dlg.WaitForBytes(5000, &expected, 1));
    const int64_t elapsedMs = (NowUs() - start) / 1000;
    EXPECT_EQ(1, t->dlg.m_bCancel);
    EXPECT_GE(elapsedMs, 90);
    EXPECT_LT(elapsedMs, 1000) << "the wait ran on after Cancel";
}

TEST_F(Link, SilenceEndsAWaitAtItsTimeout)
{
    BYTE expected = 0x06;
    t->dlg.m_bCancel = 0;
    const int64_t start = NowUs();
    EXPECT_EQ(0, t->dlg.WaitForBytes(300, &expected, 1));
    const int64_t elapsedMs = (NowUs() - start) / 1000;
    EXPECT_GE(elapsedMs, 250);
    EXPECT_LT(elapsedMs, 1500);
}

TEST_F(Link, StopAndCloseTwiceAreHarmless)
{
    t->dlg.StopReader();
    t->dlg.StopReader();
    EXPECT_EQ(0, g_rxRun.load());
    t->dlg.ClosePort();
    t->dlg.ClosePort();
    EXPECT_EQ(INVALID_HANDLE_VALUE, g_hPort);
    EXPECT_TRUE(t->boxes.Boxes().empty());
    // The link opens again afterwards.
    ASSERT_EQ(1, t->dlg.OpenPort());
    t->dlg.StartReader();
    Send(*t, "TY;");
    EXPECT_TRUE(WaitForRing(*t, 6));
}

TEST(LinkOpen, UnopenablePortShowsTheOpenFailure)
{
    const int com = TestComNumber();
    MakePortUnopenable(com);
    std::vector<Box> seen;
    {
        TestDialog t;
        t.SelectPort("COM" + std::to_string(com));
        EXPECT_EQ(0, t.dlg.OpenPort());
        EXPECT_EQ(INVALID_HANDLE_VALUE, g_hPort);
        t.dlg.StopReader();  // what the run's clean-up would do: no effect
        t.dlg.ClosePort();
        seen = t.boxes.Boxes();
    }
    MakePortAbsent(com);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(texts::kOpenFailedText, seen[0].text);
    EXPECT_EQ(texts::kCaption, seen[0].caption);
    EXPECT_EQ(BoxIcon::Exclamation, seen[0].icon);
    EXPECT_FALSE(seen[0].hasCancel);
}

// The device floods while the PC waits: buffers stay bounded, nothing
// crashes, the wait fails cleanly.
class Flood : public Link
{
protected:
    std::string SimOptions() const override { return "--fault flood --at ty --flood-bytes 5000"; }
};

TEST_F(Flood, WaitForBytesFailsCleanly)
{
    BYTE expected = 0x06;
    t->dlg.m_bCancel = 0;
    Send(*t, ";;;TY;");
    EXPECT_EQ(0, t->dlg.WaitForBytes(1500, &expected, 1));
    t->Pump(300);
    // The ring never overran: the receive thread left the surplus in the
    // driver, so every byte arrives, in order.
    BYTE sink[kReplyBufferBytes];
    const int64_t end = NowUs() + 3000000;
    while (NowUs() < end)
    {
        if (!t->dlg.RingEmpty())
        {
            const int n = t->dlg.DrainRing(sink, kReplyBufferBytes);
            for (int i = 0; i < n && i < kReplyBufferBytes; ++i)
                ASSERT_EQ('A', sink[i]);
        }
        t->Pump(1);
    }
    EXPECT_TRUE(t->boxes.Boxes().empty());
}
