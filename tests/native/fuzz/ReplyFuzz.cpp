// The fuzz target (layout of an input in ReplyFuzz.h). Beyond what the
// sanitizers catch, it checks that every wait ends: no sleep without an armed
// time-out, never more than the armed period (and a small margin) past it, and
// a bounded number of waits per operation. A broken rule aborts.
#include "fuzz/ReplyFuzz.h"

#include "payload/Payload.h"
#include "serial/SerialLink.h"
#include "support/Fake.h"
#include "support/Fixture.h"
#include "ui/UpdateDlg.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace
{
enum Op
{
    kDetect,
    kSync,
    kLoad,
    kTransfer,
    kWaitFor,
    kRingLoop,
    kOpCount,
};

const std::int64_t kMarginMs = 20;
const std::int64_t kLongestTimeoutMs = 3000;  // the fuzzed WaitForBytes time-out at most
const std::size_t kMostScriptBytes = 1 << 20;
const std::int64_t kMostDelayMs = 4095;
// Waits an operation arms whatever the device does, at most: the transfer's
// command, header and checksum of 12 blocks, and one per chunk.
const std::size_t kMostWaits = 12 * 3 + kFirmwareImageBytes / 128;
// The identification's first wait and the renewals a busy unit may have.
const std::size_t kMostIdentifyWaits = 1 + 10;

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "broken rule: %s (virtual time %lld ms)\n", what, static_cast<long long>(qvtest::NowMs()));
    std::fflush(stderr);
    std::abort();
}

void Check(bool ok, const char* what)
{
    if (!ok)
        Broken(what);
}

class Reader
{
public:
    Reader(const std::uint8_t* data, std::size_t size) : m_p(data), m_end(data + size) {}
    bool Empty() const { return m_p == m_end; }
    std::uint8_t U8() { return m_p == m_end ? 0 : *m_p++; }
    unsigned U16()
    {
        const unsigned lo = U8();
        return lo | static_cast<unsigned>(U8()) << 8;
    }
    qvtest::Bytes Take(std::size_t n)
    {
        n = std::min<std::size_t>(n, static_cast<std::size_t>(m_end - m_p));
        qvtest::Bytes out(m_p, m_p + n);
        m_p += n;
        return out;
    }

private:
    const std::uint8_t* m_p;
    const std::uint8_t* m_end;
};

struct Script
{
    std::vector<qvtest::Reply> atStart;
    std::map<std::size_t, std::vector<qvtest::Reply>> afterWrite;  // by write index
    std::size_t bytes = 0;
    std::int64_t lastStartMs = 0;
};

void ReadEvents(Reader& in, Script& script)
{
    std::size_t trigger = 0;
    while (!in.Empty() && script.bytes < kMostScriptBytes)
    {
        trigger += in.U8();
        const std::size_t stride = in.U8();
        const std::int64_t delay = in.U16() % (kMostDelayMs + 1);
        const unsigned repeats = in.U8();
        const qvtest::Bytes bytes = in.Take(in.U8());
        for (unsigned k = 0; k <= repeats && script.bytes < kMostScriptBytes; ++k)
        {
            const std::size_t at = trigger + k * stride;
            if (at == 0)
            {
                script.atStart.push_back(qvtest::Reply{delay, bytes});
                script.lastStartMs = std::max(script.lastStartMs, delay);
            }
            else
            {
                script.afterWrite[at - 1].push_back(qvtest::Reply{delay, bytes});
            }
            script.bytes += bytes.size();
        }
    }
}

void CheckProgress()
{
    for (int pos : qvtest::TheScreen().positions)
        Check(pos >= 0 && pos <= 100, "the progress bar leaves 0..100");
}

// The ring's unread bytes, as the UI thread sees them.
unsigned Unread()
{
    return static_cast<unsigned char>(g_rxWrite.load() - g_rxRead.load());
}

// Takes everything the device sends through the ring's three readers in a
// random order, checking the ring's bookkeeping after every call: every byte
// the receive thread took is taken by the UI thread or unread, exactly once.
void RingLoop(CUpdateDlg& dlg, const Script& script, int capacity, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<BYTE> reply(kReplyBufferBytes);
    std::vector<BYTE> drained(static_cast<std::size_t>(capacity));
    std::vector<int> seen;  // byte values taken, -1 where DrainRing dropped one
    const std::int64_t quietFrom = script.lastStartMs + 5;
    const std::size_t mostTurns = script.bytes * 4 + static_cast<std::size_t>(quietFrom) + 100;

    for (std::size_t turn = 0;; ++turn)
    {
        Check(turn < mostTurns, "the ring loop does not get through the bytes");
        switch (rng() % 3)
        {
        case 0:
        {
            const int n = dlg.ReadReply(reply.data());
            Check(n >= 0 && n <= kReplyBufferBytes, "ReadReply's count");
            for (int i = 0; i < n; ++i)
            {
                Check(i == n - 1 || reply[static_cast<std::size_t>(i)] != ';', "ReadReply went past a ';'");
                seen.push_back(reply[static_cast<std::size_t>(i)]);
            }
            Check(n == 0 || reply[static_cast<std::size_t>(n - 1)] == ';' || Unread() == 0,
                  "ReadReply stopped early");
            break;
        }
        case 1:
        {
            const int n = dlg.DrainRing(drained.data(), capacity);
            Check(n >= 0 && n <= 255, "DrainRing's count");
            for (int i = 0; i < n; ++i)
                seen.push_back(i < capacity ? drained[static_cast<std::size_t>(i)] : -1);
            Check(Unread() == 0, "DrainRing left bytes");
            break;
        }
        default:
            Check(dlg.RingEmpty() == (Unread() == 0 ? 1 : 0), "RingEmpty");
            break;
        }
        Check(seen.size() + Unread() == qvtest::HandedOutCount(), "a byte is lost or taken twice in the ring");
        if (qvtest::NowMs() > quietFrom && qvtest::QueuedBytes() == 0 && Unread() == 0)
            break;
        ::Sleep(1);
    }

    const qvtest::Bytes handed = qvtest::HandedOut();
    Check(handed.size() == seen.size(), "bytes taken");
    for (std::size_t i = 0; i < seen.size(); ++i)
        Check(seen[i] < 0 || seen[i] == handed[i], "a byte changed in the ring");
    // The device's batches in the order of their times (ties in script order).
    std::vector<qvtest::Reply> order = script.atStart;
    std::stable_sort(order.begin(), order.end(),
                     [](const qvtest::Reply& a, const qvtest::Reply& b) { return a.delayMs < b.delayMs; });
    qvtest::Bytes sent;
    for (const qvtest::Reply& r : order)
        sent.insert(sent.end(), r.bytes.begin(), r.bytes.end());
    Check(sent == handed, "the PC did not read what the device sent");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Reader in(data, size);
    const int op = in.U8() % kOpCount;
    const std::uint8_t flags = in.U8();

    qvtest::ResetWorld(qvtest::ClockMode::Virtual);
    qvtest::AddPort("COM1");
    qvtest::SelectPort("COM1");
    bool cancel = false;
    std::int64_t cancelAt = 0;
    if (flags & 1)
        qvtest::UnplugAtWrite(in.U16());
    if (flags & 2)
        qvtest::LimitReads(1 + in.U8() % 64);
    if (flags & 4)
    {
        cancelAt = in.U16();
        qvtest::ClickAt(cancelAt, IDC_CANCEL_RUN);
        cancel = true;
    }

    UINT waitTimeout = 0;
    qvtest::Bytes expected;
    int capacity = 0;
    std::uint32_t seed = 0;
    if (op == kWaitFor)
    {
        waitTimeout = in.U16() % (kLongestTimeoutMs + 1);
        expected = in.Take(1 + in.U8());
        if (expected.empty())
            expected.push_back(0x06);
    }
    else if (op == kRingLoop)
    {
        capacity = 1 + in.U8();
        seed = in.U8();
    }

    auto script = std::make_shared<Script>();
    ReadEvents(in, *script);
    if (op == kRingLoop)
        script->afterWrite.clear();  // the loop writes nothing
    for (const qvtest::Reply& r : script->atStart)
        qvtest::DeliverAt(r.delayMs, r.bytes);
    qvtest::SetResponder([script](const qvtest::Bytes&, std::size_t index) {
        auto it = script->afterWrite.find(index);
        return it == script->afterWrite.end() ? std::vector<qvtest::Reply>() : it->second;
    });

    CUpdateDlg dlg;
    Check(dlg.OpenPort() == 1, "the port opens");
    dlg.StartReader();

    if (op != kRingLoop)
    {
        qvtest::SetSleepHook([] {
            const qvtest::TimerState t = qvtest::Timer(TIMEOUT_TIMER_ID);
            Check(t.sets > 0, "a wait sleeps with no time-out armed");
            Check(qvtest::NowMs() - t.lastSetMs <= static_cast<std::int64_t>(t.periodMs) + kMarginMs,
                  "a wait runs past its time-out");
        });
    }

    const qvtest::Screen& screen = qvtest::TheScreen();
    int result = 0;
    switch (op)
    {
    case kDetect:
        result = dlg.DetectDevice();
        Check(screen.messages.size() == (result ? 0u : 1u), "identification shows one message on failure, none else");
        if (result)
            Check(qvtest::Written() == qvtest::Bytes{';', ';', ';', 'T', 'Y', ';'}, "identification writes its query only");
        break;
    case kSync:
        result = dlg.SyncBitRate();
        if (result)
        {
            const qvtest::Bytes w = qvtest::Written();
            Check(screen.messages.empty() && !w.empty() && w.back() == 0x55 && w.size() % 10 == 1 && w.size() <= 51,
                  "a handshake that succeeds wrote bursts and the confirmation");
        }
        break;
    case kLoad:
        result = dlg.LoadWriteControlProgram();
        if (result)
        {
            Check(qvtest::Written() == qvtest::Bytes(WriteControlProgram, WriteControlProgram + kWriteControlProgramBytes),
                  "a load that succeeds wrote the program once");
            const qvtest::Bytes handed = qvtest::HandedOut();
            Check(!handed.empty() && handed.back() == 0xAA, "a load succeeds on 0xAA only");
        }
        CheckProgress();
        break;
    case kTransfer:
        result = dlg.TransferFirmware(FirmwareImage);
        if (result)
        {
            Check(qvtest::Written() == qvtest::TransferStream(), "a transfer that succeeds wrote the image once, framed");
            Check(screen.labels.back().second == "100%", "a finished transfer shows 100%");
        }
        CheckProgress();
        Check(std::is_sorted(screen.positions.begin(), screen.positions.end()), "the progress bar goes back");
        break;
    case kWaitFor:
        result = dlg.WaitForBytes(waitTimeout, expected.data(), static_cast<int>(expected.size()));
        if (result)
        {
            const qvtest::Bytes handed = qvtest::HandedOut();
            Check(handed.size() >= expected.size() && std::equal(expected.begin(), expected.end(), handed.begin()),
                  "WaitForBytes accepted other bytes");
            Check(Unread() == 0, "WaitForBytes accepted with bytes left over");
        }
        break;
    default:
        RingLoop(dlg, *script, capacity, seed);
        result = 1;
        break;
    }
    qvtest::SetSleepHook(nullptr);

    const qvtest::TimerState timer = qvtest::Timer(TIMEOUT_TIMER_ID);
    if (op != kRingLoop)
    {
        Check(timer.sets <= kMostWaits + script->bytes, "too many waits for what the device sent");
        Check(op != kDetect || timer.sets <= kMostIdentifyWaits, "the identification waits without bound");
        Check(qvtest::NowMs() <= static_cast<std::int64_t>(timer.sets) * (kLongestTimeoutMs + kMarginMs),
              "the operation outlived its waits");
    }
    // Every wait of these pumps messages and looks at Cancel.
    if (cancel && (op == kLoad || op == kTransfer || op == kWaitFor))
        Check(qvtest::NowMs() <= cancelAt + kMarginMs, "Cancel does not end the operation");

    dlg.StopReader();
    dlg.ClosePort();
    return 0;
}
