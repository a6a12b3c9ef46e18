// What the native tests share: the dialog in a fresh fake world, on an open
// port with the receive thread running or not, and byte helpers.
#pragma once

#include "serial/SerialLink.h"
#include "support/Fake.h"
#include "ui/UpdateDlg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>

namespace qvnative
{
// Time a wait may run past its time-out on the virtual clock: the tick that
// is dispatched, and the 1 ms sleeps around it.
const std::int64_t kTimeoutMarginMs = 20;
// No test runs this long on the virtual clock: a wait still going then would
// never end.
const std::int64_t kVirtualLifetimeMs = 10 * 60 * 1000;

inline fake::Bytes Bytes(std::initializer_list<int> values)
{
    fake::Bytes out;
    for (int v : values)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

inline fake::Bytes Text(const std::string& s)
{
    return fake::Bytes(s.begin(), s.end());
}

// A stream in which a lost, repeated or reordered stretch shows: no period,
// unlike a byte counter that repeats every 256 bytes.
inline fake::Bytes Numbered(std::size_t count, std::uint32_t seed)
{
    fake::Bytes out(count);
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

// The unread bytes of the ring, oldest first.
inline fake::Bytes RingContents()
{
    fake::Bytes out;
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
        fake::Reset(fake::ClockMode::Virtual);
        fake::SetSleepHook([] {
            if (fake::NowMs() > kVirtualLifetimeMs)
            {
                std::fprintf(stderr, "A wait has not ended after %lld ms of virtual time\n",
                             static_cast<long long>(fake::NowMs()));
                std::abort();
            }
        });
        fake::AddPort("COM3");
        fake::SelectPort("COM3");
    }

    void TearDown() override
    {
        // The receive thread must stop whatever the port went through.
        dlg->StopReader();
        dlg->ClosePort();
        EXPECT_FALSE(fake::PortOpen());
        dlg.reset();
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
}  // namespace qvnative
