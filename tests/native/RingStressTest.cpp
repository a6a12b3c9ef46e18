// The ring and the real receive thread at full speed on the real clock: the
// fake port is fed a long stream as fast as it takes it, in random batches
// that are often larger than the ring's free room, while this thread takes
// the bytes through the product's own ReadReply, DrainRing, RingEmpty and
// WaitForBytes, and restarts the reader now and then. Built with
// ThreadSanitizer in the tsan preset, where any report fails the test.
#include "support/Fixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#ifndef QV_RING_STREAM_BYTES
#define QV_RING_STREAM_BYTES 400000
#endif

using namespace qvtest;

namespace
{
const std::size_t kDriverQueueBytes = 4096;

// Feeds the stream into the driver's queue from a thread of its own: mostly
// small batches, one in eight a burst of 256 to 955 bytes, never more than the
// driver's queue holds.
class Feeder
{
public:
    Feeder(const Bytes& stream, std::uint32_t seed) : m_thread([this, &stream, seed] { Run(stream, seed); }) {}
    ~Feeder()
    {
        m_stop = true;
        m_thread.join();
    }
    bool Done() const { return m_done; }
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;

private:
    void Run(const Bytes& stream, std::uint32_t seed)
    {
        std::mt19937 rng(seed);
        std::size_t pos = 0;
        while (pos < stream.size() && !m_stop)
        {
            std::size_t n = rng() % 8 == 0 ? 256 + rng() % 700 : 1 + rng() % 64;
            n = std::min(n, stream.size() - pos);
            while (QueuedBytes() + n > kDriverQueueBytes && !m_stop)
                std::this_thread::yield();
            Deliver(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                                      stream.begin() + static_cast<std::ptrdiff_t>(pos + n)));
            pos += n;
        }
        m_done = true;
    }

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

class RingStressTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetWorld(ClockMode::Real);
        AddPort("COM4");
        SelectPort("COM4");
        dlg.reset(new CUpdateDlg);
        ASSERT_EQ(1, dlg->OpenPort());
    }

    void TearDown() override
    {
        dlg->StopReader();
        dlg->ClosePort();
        dlg.reset();
    }

    std::unique_ptr<CUpdateDlg> dlg;
};

std::size_t FirstDifference(const Bytes& a, const Bytes& b)
{
    return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
}
}  // namespace

TEST_F(RingStressTest, StreamArrivesExactlyOnceAndInOrder)
{
    const std::size_t total = QV_RING_STREAM_BYTES;
    const Bytes stream = Numbered(total, 11);
    Bytes got;
    got.reserve(total + kReplyBufferBytes);
    std::mt19937 rng(12);
    BYTE buffer[kReplyBufferBytes];
    int restarts = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);

    dlg->StartReader();
    {
        Feeder feeder(stream, 13);
        while (got.size() < total && std::chrono::steady_clock::now() < deadline)
        {
            const unsigned choice = rng() % 1024;
            int n = 0;
            if (choice < 500)
            {
                n = dlg->ReadReply(buffer);
            }
            else if (choice < 1000)
            {
                n = dlg->DrainRing(buffer, kReplyBufferBytes);
                ASSERT_LE(n, 255) << "the ring gave more than it can hold";
            }
            else if (choice < 1022)
            {
                if (dlg->RingEmpty())
                    std::this_thread::yield();
            }
            else
            {
                // A restart empties the ring: take what the stopped thread
                // left in it first, as the program load does not.
                dlg->StopReader();
                n = dlg->DrainRing(buffer, kReplyBufferBytes);
                ASSERT_LE(n, 255);
                dlg->StartReader();
                ++restarts;
            }
            got.insert(got.end(), buffer, buffer + n);

            // All sent and nothing arrives any more: bytes were lost.
            if (feeder.Done() && QueuedBytes() == 0 && dlg->RingEmpty())
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (QueuedBytes() == 0 && dlg->RingEmpty())
                    break;
            }
        }
    }
    ASSERT_EQ(total, got.size()) << "first difference at byte " << FirstDifference(stream, got);
    EXPECT_TRUE(got == stream) << "first difference at byte " << FirstDifference(stream, got);
    EXPECT_EQ(255u, LargestThreadRead()) << "no burst met a ring with less room than it";
    EXPECT_GT(restarts, 10);
    std::printf("[          ] %zu bytes, %d reader restarts\n", got.size(), restarts);
}

TEST_F(RingStressTest, WaitForBytesSeesEachAnswerWhole)
{
    // Answers of 1 to 256 bytes, each arriving in pieces of random size over a
    // few milliseconds; the next answer is sent only after the wait ended.
    std::mt19937 rng(21);
    dlg->StartReader();
    for (int i = 0; i < 300; ++i)
    {
        const std::size_t length = 1 + rng() % kReplyBufferBytes;
        const Bytes answer = Numbered(length, 100 + static_cast<std::uint32_t>(i));
        std::int64_t at = NowMs();
        for (std::size_t pos = 0; pos < length;)
        {
            const std::size_t n = std::min<std::size_t>(length - pos, 1 + rng() % 300);
            DeliverAt(at, Bytes(answer.begin() + static_cast<std::ptrdiff_t>(pos),
                                            answer.begin() + static_cast<std::ptrdiff_t>(pos + n)));
            at += rng() % 2;
            pos += n;
        }
        ASSERT_EQ(1, dlg->WaitForBytes(2000, answer.data(), static_cast<int>(length))) << "answer " << i;
        ASSERT_EQ(1, dlg->RingEmpty()) << "answer " << i;
    }
}
