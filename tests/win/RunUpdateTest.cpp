// The run's identification stage and the registry marker.
#include "serial/SerialLink.h"
#include "support/Harness.h"

#include <gtest/gtest.h>

using namespace qvtest;

namespace
{
const char kConnectText[] =
    "To start communication between the PC and QV-6100: \n\n"
    "1. Switch off the QV-6100 power.\n"
    "2. Connect the QV-6100 to the PC using an RS-232C cable. \n"
    "3. Switch on the QV-6100 power. \n\n"
    "When you are ready, click OK to continue.";
const char kWritingModePrefix[] = "To set the QV-6100 to firmware writing mode: \n\n";
const char kNotDetected[] = "Could not detect the QV-6100.";

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

class Run : public ::testing::Test
{
protected:
    void SetUp() override { DeleteMarkerKey(); }
    void TearDown() override { DeleteMarkerKey(); }

    // One press of Start: boxes answered as given.
    void RunOnce(const std::string& simOptions, std::vector<int> answers)
    {
        boxes.Clear();
        boxes.Answer(std::move(answers));
        ASSERT_TRUE(sim.Start(simOptions));
        t.SelectPort(sim.PortName());
        t.dlg.m_bCancel = 0;
        t.dlg.RunUpdate();
        sim.Stop();
    }

    void ExpectCleanedUp() { ExpectIdleAfterRun(t); }

    Sim sim;
    TestDialog t;
    BoxWatcher& boxes = t.boxes;
};
}  // namespace

TEST_F(Run, FirstRunIdentifiesStoresTheMarkerAndGoesOnToWriting)
{
    SetMarkerValue(0);
    RunOnce("", {IDOK, IDCANCEL});

    auto seen = boxes.Boxes();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(kConnectText, seen[0].text);
    EXPECT_EQ("QV-6100 Update", seen[0].caption);
    EXPECT_EQ(BoxIcon::Information, seen[0].icon);
    EXPECT_TRUE(seen[0].hasCancel);
    EXPECT_TRUE(StartsWith(seen[1].text, kWritingModePrefix)) << seen[1].text;

    DWORD marker = 0;
    ASSERT_TRUE(GetMarkerValue(marker));
    EXPECT_EQ(3120u, marker);
    EXPECT_EQ(";;;TY;", sim.Log().FromPc());
    ExpectCleanedUp();
}

TEST_F(Run, MarkerPresentSkipsIdentification)
{
    SetMarkerValue(3120);
    RunOnce("", {IDCANCEL});

    auto seen = boxes.Boxes();
    ASSERT_EQ(1u, seen.size());
    EXPECT_TRUE(StartsWith(seen[0].text, kWritingModePrefix)) << seen[0].text;
    EXPECT_EQ("", sim.Log().FromPc()) << "nothing is sent when the second message is declined";
    ExpectCleanedUp();
}

TEST_F(Run, DecliningTheFirstMessageOpensNothing)
{
    SetMarkerValue(0);
    t.dlg.m_strStatus = "status before the run";
    t.dlg.PushLabels();
    RunOnce("", {IDCANCEL});

    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ(kConnectText, boxes.Boxes()[0].text);
    EXPECT_EQ("", sim.Log().FromPc());
    EXPECT_EQ("status before the run", t.LabelText(IDC_STATUS)) << "no clean-up after Cancel";
    EXPECT_EQ(INVALID_HANDLE_VALUE, g_hPort);
    DWORD marker = 1;
    ASSERT_TRUE(GetMarkerValue(marker));
    EXPECT_EQ(0u, marker);
}

TEST_F(Run, WithoutTheKeyIdentificationWorksButTheNextRunAsksAgain)
{
    RunOnce("", {IDOK, IDCANCEL});
    auto seen = boxes.Boxes();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(kConnectText, seen[0].text);
    // The failed read-back leaves the 3120 of this run: the writing stage
    // follows at once.
    EXPECT_TRUE(StartsWith(seen[1].text, kWritingModePrefix)) << seen[1].text;
    DWORD marker = 0;
    EXPECT_FALSE(GetMarkerValue(marker)) << "the key is never created";

    RunOnce("", {IDCANCEL});
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ(kConnectText, boxes.Boxes()[0].text);
    ExpectCleanedUp();
}

TEST_F(Run, FailedIdentificationLeavesTheMarkerAndCleansUp)
{
    SetMarkerValue(7);
    RunOnce("--fifth 1", {IDOK});
    auto seen = boxes.Boxes();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(kNotDetected, seen[1].text);
    DWORD marker = 0;
    ASSERT_TRUE(GetMarkerValue(marker));
    EXPECT_EQ(7u, marker);
    ExpectCleanedUp();

    RunOnce("", {IDCANCEL});
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ(kConnectText, boxes.Boxes()[0].text) << "the next run asks again";
}

TEST_F(Run, UnopenablePortEndsTheRunWithoutCleanUp)
{
    SetMarkerValue(0);
    boxes.Answer({IDOK});
    t.dlg.m_strStatus = "status before the run";
    t.dlg.PushLabels();
    MakePortUnopenable(TestComNumber());
    t.SelectPort("COM" + std::to_string(TestComNumber()));
    t.dlg.m_bCancel = 0;
    t.dlg.RunUpdate();
    MakePortAbsent(TestComNumber());

    auto seen = boxes.Boxes();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("Failed to open serial port.", seen[1].text);
    EXPECT_EQ(BoxIcon::Exclamation, seen[1].icon);
    EXPECT_EQ("status before the run", t.LabelText(IDC_STATUS));
}
