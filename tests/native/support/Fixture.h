// What the native tests share: the dialog in a fresh fake world, on an open
// port with the receive thread running or not, and byte helpers.
#pragma once

#include "options.hpp"
#include "pc_script.hpp"
#include "payload/Payload.h"
#include "serial/SerialLink.h"
#include "support/Fake.h"
#include "ui/UpdateDlg.h"
#include "unit.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace qvtest
{
// Time a wait may run past its time-out on the virtual clock: the tick that
// is dispatched, and the 1 ms sleeps around it.
const std::int64_t kTimeoutMarginMs = 20;
// No test runs this long on the virtual clock: a wait still going then would
// never end.
const std::int64_t kVirtualLifetimeMs = 10 * 60 * 1000;

inline qvtest::Bytes ByteList(std::initializer_list<int> values)
{
    qvtest::Bytes out;
    for (int v : values)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

inline qvtest::Bytes Text(const std::string& s)
{
    return qvtest::Bytes(s.begin(), s.end());
}

// A stream in which a lost, repeated or reordered stretch shows: no period,
// unlike a byte counter that repeats every 256 bytes.
inline qvtest::Bytes Numbered(std::size_t count, std::uint32_t seed)
{
    qvtest::Bytes out(count);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < count; ++i)
    {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<std::uint8_t>(x >> 11);
    }
    return out;
}

// What the PC writes in a successful transfer of FirmwareImage: what the
// simulator's tests send as a correct PC.
inline const qvtest::Bytes& TransferStream()
{
    static const qvtest::Bytes stream = [] {
        qvtest::Bytes out;
        for (const Exchange& e : blockExchanges(Bytes(FirmwareImage, FirmwareImage + kFirmwareImageBytes)))
            out.insert(out.end(), e.send.begin(), e.send.end());
        return out;
    }();
    return stream;
}

// The simulator's protocol core on the far end of the port, as the
// simulator's command line `options` make it.
inline const qvsim::Unit& Connect(const std::string& options)
{
    std::vector<std::string> args;
    std::istringstream words(options);
    for (std::string word; words >> word;)
        args.push_back(word);
    const qvsim::ParseResult parsed = qvsim::parseOptions(args);
    if (!parsed.options)
        ADD_FAILURE() << options << ": " << parsed.error;
    return qvtest::ConnectUnit(parsed.options ? parsed.options->unit : qvsim::Config());
}

// The unread bytes of the ring, oldest first.
inline qvtest::Bytes RingContents()
{
    qvtest::Bytes out;
    for (unsigned char r = g_rxRead.load(); r != g_rxWrite.load(); ++r)
        out.push_back(RxRing[r]);
    return out;
}

// A fresh fake world on the virtual clock with the port COM3 present and
// selected in the dialog, as a click on Start finds it.
class WorldTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Arrange();
        dlg.reset(new CUpdateDlg);
    }

    static void Arrange()
    {
        qvtest::ResetWorld(qvtest::ClockMode::Virtual);
        qvtest::SetSleepHook([] {
            if (qvtest::NowMs() > kVirtualLifetimeMs)
            {
                std::fprintf(stderr, "A wait has not ended after %lld ms of virtual time\n",
                             static_cast<long long>(qvtest::NowMs()));
                std::abort();
            }
        });
        qvtest::AddPort("COM3");
        qvtest::SelectPort("COM3");
    }

    void TearDown() override
    {
        // The receive thread must stop whatever the port went through.
        dlg->StopReader();
        dlg->ClosePort();
        EXPECT_FALSE(qvtest::PortOpen());
        dlg.reset();
    }

    // A click on a button, delivered to the dialog's message map as Windows
    // delivers it; it returns when the handler does.
    void Click(int controlId)
    {
        const MSG click = {dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED), 0, 0, {0, 0}};
        ::DispatchMessageA(&click);
    }

    std::unique_ptr<CUpdateDlg> dlg;
};

// The port open with the receive thread running, as during a run.
class LinkTest : public WorldTest
{
protected:
    void SetUp() override
    {
        WorldTest::SetUp();
        ASSERT_EQ(1, dlg->OpenPort());
        dlg->StartReader();
    }
};
}  // namespace qvtest
