// The COM ports of the prefix reach the simulated unit.
#include "support/Harness.h"

#include <gtest/gtest.h>

using namespace qvtest;
using namespace qvwine;

namespace
{
HANDLE OpenCom(int com)
{
    const std::string path = "\\\\.\\COM" + std::to_string(com);
    return ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

TEST(Port, IdentificationRoundTripOverRawWin32)
{
    Sim sim;
    ASSERT_TRUE(sim.Start());

    HANDLE h = OpenCom(sim.Com());
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << "error " << ::GetLastError();
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(::GetCommState(h, &dcb));
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutX = dcb.fInX = 0;
    ASSERT_TRUE(::SetCommState(h, &dcb));

    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(h, ";;;TY;", 6, &written, nullptr));
    ASSERT_EQ(6u, written);

    std::string reply;
    const int64_t deadline = NowUs() + 2000000;
    while (reply.size() < 6 && NowUs() < deadline)
    {
        COMSTAT stat = {};
        DWORD errors = 0;
        ASSERT_TRUE(::ClearCommError(h, &errors, &stat));
        if (stat.cbInQue == 0)
        {
            ::Sleep(1);
            continue;
        }
        char buf[64];
        DWORD got = 0;
        ASSERT_TRUE(::ReadFile(h, buf, stat.cbInQue < sizeof buf ? stat.cbInQue : sizeof buf, &got, nullptr));
        reply.append(buf, got);
    }
    ::CloseHandle(h);
    sim.Stop();

    EXPECT_EQ("TY210;", reply);
    const qvsim::WireLogReader log = sim.Log();
    EXPECT_EQ(";;;TY;", log.fromPc());
    EXPECT_EQ("TY210;", log.toPc());
}

TEST(Port, AbsentAndUnopenablePortsFailToOpen)
{
    const int com = TestComNumber();
    MakePortAbsent(com);
    HANDLE h = OpenCom(com);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
    EXPECT_EQ(0, CUpdateDlg::ProbePort(("COM" + std::to_string(com)).c_str()));

    MakePortUnopenable(com);
    h = OpenCom(com);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
    MakePortAbsent(com);
}

TEST(Port, ProbeFindsThePublishedPort)
{
    Sim sim;
    ASSERT_TRUE(sim.Start());
    EXPECT_EQ(1, CUpdateDlg::ProbePort(sim.PortName().c_str()));
    sim.Stop();
    EXPECT_EQ(0, CUpdateDlg::ProbePort(sim.PortName().c_str()));
}
