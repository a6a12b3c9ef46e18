// The prefix's real COM ports: the link opens and configures one and carries
// every byte value both ways; absent and unopenable ports fail to open.
#include "serial/SerialLink.h"
#include "support/Harness.h"
#include "tests/UserTexts.h"

#include <gtest/gtest.h>

using namespace qvtest;

TEST(Port, OpenedByTheLinkCarriesEveryByteBothWays)
{
    Sim sim;
    ASSERT_TRUE(sim.Start());
    TestDialog t;
    t.SelectPort(sim.PortName());
    ASSERT_EQ(1, t.dlg.OpenPort());
    t.dlg.StartReader();

    // Flow-control characters, line ends, 0x00 and 0xFF in an unknown
    // command (the unit answers "?;"), then the identification query.
    const std::string sent = std::string("\x00\x11\x13\x0d\x0a\xff;", 7) + ";;;TY;";
    ASSERT_EQ(1, t.dlg.WritePort(reinterpret_cast<const BYTE*>(sent.data()), static_cast<DWORD>(sent.size())));
    std::string received;
    WaitUntil(
        [&] {
            BYTE buffer[kReplyBufferBytes];
            const int n = t.dlg.DrainRing(buffer, kReplyBufferBytes);
            received.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
            t.Pump(1);
            return received.size() >= 8;
        },
        3000, 0);
    t.dlg.StopReader();
    t.dlg.ClosePort();
    sim.Stop();
    EXPECT_EQ("?;TY210;", received);
    EXPECT_EQ(sent, sim.Log().fromPc());
    EXPECT_TRUE(t.boxes.Boxes().empty());
}

TEST(Port, AbsentAndUnopenablePortsFailToOpen)
{
    const int com = TestComNumber();
    const std::string name = "COM" + std::to_string(com);
    MakePortAbsent(com);
    EXPECT_EQ(0, CUpdateDlg::ProbePort(name.c_str()));

    MakePortUnopenable(com);
    EXPECT_EQ(0, CUpdateDlg::ProbePort(name.c_str()));
    std::vector<Box> seen;
    {
        TestDialog t;
        t.SelectPort(name);
        EXPECT_EQ(0, t.dlg.OpenPort());
        EXPECT_EQ(INVALID_HANDLE_VALUE, g_hPort);
        seen = t.boxes.Boxes();
    }
    MakePortAbsent(com);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(kOpenFailedText, seen[0].text);
    EXPECT_EQ(kCaption, seen[0].caption);
    EXPECT_EQ(BoxIcon::Exclamation, seen[0].icon);
    EXPECT_FALSE(seen[0].hasCancel);
}

TEST(Port, ProbeFindsThePublishedPort)
{
    Sim sim;
    ASSERT_TRUE(sim.Start());
    EXPECT_EQ(1, CUpdateDlg::ProbePort(sim.PortName().c_str()));
    sim.Stop();
    EXPECT_EQ(0, CUpdateDlg::ProbePort(sim.PortName().c_str()));
}
