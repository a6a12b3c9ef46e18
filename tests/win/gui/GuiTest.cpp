// End to end: the real QV6100_UPDATE.exe under Wine, driven from outside as a
// user would, against the simulated unit.
#include "gui/Driver.h"
#include "support/FaultMatrix.h"
#include "support/Harness.h"
#include "support/UserTexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace qvgui;
using qvtest::kFailed;
using qvtest::kIdle;
using qvtest::Sim;

namespace
{

std::string Exe()
{
    return WinPath(qvtest::Env("QV_EXE"));
}

std::string Artifacts()
{
    const std::string dir = qvtest::Env("QV_ARTIFACTS", qvtest::TestTmpDir());
    ::CreateDirectoryA(WinPath(dir).c_str(), nullptr);
    return dir;
}

class Gui : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int com = 1; com <= 20; ++com)
            qvtest::MakePortAbsent(com);
        qvtest::SetMarkerValue(0);
    }
    void TearDown() override
    {
        app.Kill();
        qvtest::DeleteMarkerKey();
    }

    // Answers every box with OK until the run is over and returns their
    // texts; `each` sees the status label at every look, every `pollMs`.
    std::vector<std::string> FollowRun(int pollMs, const std::function<void(const std::string& status)>& each)
    {
        std::vector<std::string> texts;
        bool started = false;
        for (const int64_t end = NowMs() + 300000; NowMs() < end;)
        {
            Box box;
            if (app.FindBox(box))
            {
                texts.push_back(box.text);
                app.Answer(box, IDOK);
                continue;
            }
            each(app.Text(1007));
            if (!app.Enabled(1000))
                started = true;
            else if (started)
                break;
            ::Sleep(static_cast<DWORD>(pollMs));
        }
        return texts;
    }

    // One press of Start through the window; with `cancelOnNote`, Cancel once
    // the unit logs that note.
    std::vector<std::string> RunThroughWindow(const Sim& sim, const std::string& cancelOnNote)
    {
        LogTail log(sim.LogPath());
        bool cancelled = cancelOnNote.empty();
        app.Click(1000);
        const auto texts = FollowRun(2, [&](const std::string&) {
            if (!cancelled && log.Seen(cancelOnNote))
            {
                app.Click(1001);
                cancelled = true;
            }
        });
        EXPECT_TRUE(cancelled) << "the unit never reached " << cancelOnNote;
        return texts;
    }

    App app;
};
}  // namespace

TEST_F(Gui, NoPortShowsTheMessageAndEnds)
{
    ASSERT_TRUE(app.Launch(Exe()));
    Box box;
    ASSERT_TRUE(app.WaitBox(box, 20000));
    EXPECT_EQ("There are no serial ports available.", box.text);
    EXPECT_EQ("QV-6100 Update", box.caption);
    EXPECT_FALSE(box.hasCancel);
    app.Answer(box, IDOK);
    EXPECT_NE(-1, app.WaitExit(10000)) << "the program goes on after the message";
}

TEST_F(Gui, PortListIsSortedByNameAndUnopenablePortsAreLeftOut)
{
    Sim com3(3), com10(10);
    ASSERT_TRUE(com3.Start());
    ASSERT_TRUE(com10.Start());
    qvtest::MakePortUnopenable(5);
    ASSERT_TRUE(app.Launch(Exe()));
    ASSERT_NE(nullptr, app.WaitIdleDialog(20000));
    EXPECT_EQ((std::vector<std::string>{"COM10", "COM3"}), app.PortList());
    EXPECT_EQ(0, app.PortSelection());
    EXPECT_EQ(kIdle, app.Text(1007));
    EXPECT_EQ("", app.Text(1006));
    EXPECT_FALSE(app.Enabled(1001)) << "Cancel";
    EXPECT_FALSE(app.Visible(1009)) << "caution";
    Screenshot(Artifacts() + "/idle.png");
    qvtest::MakePortAbsent(5);

    app.Click(1002);
    EXPECT_EQ(0, app.WaitExit(10000)) << "Exit ends with code 0";
}

TEST_F(Gui, KeysSystemMenuAboutAndHelp)
{
    Sim sim(3);
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(app.Launch(Exe()));
    ASSERT_NE(nullptr, app.WaitIdleDialog(20000));

    app.PressKey(VK_ESCAPE);
    app.PressKey(VK_F4, true);
    ::Sleep(300);
    EXPECT_TRUE(app.Running());
    EXPECT_TRUE(::IsWindowVisible(app.Dialog())) << "Escape and Alt+F4 do not close the dialog";

    // Enter presses the default button, Start: the run asks its first question.
    app.PressKey(VK_RETURN);
    Box box;
    ASSERT_TRUE(app.WaitBox(box, 10000));
    EXPECT_EQ(0u, box.text.find("To start communication between the PC and QV-6100: "));
    EXPECT_TRUE(box.hasCancel);
    app.Answer(box, IDCANCEL);
    ASSERT_NE(nullptr, app.WaitIdleDialog(10000));
    EXPECT_EQ("", sim.Log().fromPc()) << "declined: nothing sent";

    ::PostMessageA(app.Dialog(), WM_SYSCOMMAND, 0x0010, 0);
    HWND about = app.WaitWindow("About Corvane QV-6100 Update", 10000);
    ASSERT_NE(nullptr, about);
    Screenshot(Artifacts() + "/about.png");
    ::PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);

    // F1 and the Help button both open the help file next to the program.
    app.PressKey(VK_F1);
    HWND help = app.WaitWindow("QV-6100 Update Help", 15000);
    ASSERT_NE(nullptr, help) << "F1";
    ::PostMessageA(help, WM_CLOSE, 0, 0);
    for (int64_t until = NowMs() + 5000; NowMs() < until && ::IsWindow(help);)
        ::Sleep(10);
    ASSERT_FALSE(::IsWindow(help));
    app.Click(57670);
    EXPECT_NE(nullptr, app.WaitWindow("QV-6100 Update Help", 15000)) << "the Help button";

    app.Click(1002);
    EXPECT_EQ(0, app.WaitExit(10000));
}

TEST_F(Gui, FullUpdateThenCancelDuringTheTransfer)
{
    Sim sim(3);
    // The unit takes a while to erase, as a real one does: long enough to see.
    ASSERT_TRUE(sim.Start("--s1 auto --erase-ms 300"));
    ASSERT_TRUE(app.Launch(Exe()));
    ASSERT_NE(nullptr, app.WaitIdleDialog(20000));

    app.Click(1000);
    std::vector<std::string> statuses;
    bool checkedRunning = false, sawRed = false;
    std::vector<std::string> texts = FollowRun(5, [&](const std::string& s) {
        if (statuses.empty() || statuses.back() != s)
            statuses.push_back(s);
        if (checkedRunning || s != "Transferring the new firmware...")
            return;
        checkedRunning = true;
        for (int64_t until = NowMs() + 1000; NowMs() < until && app.Focus() != app.Control(1001);)
            ::Sleep(5);
        EXPECT_EQ(app.Control(1001), app.Focus()) << "focus on Cancel during the run";
        EXPECT_TRUE(app.Enabled(1001));
        EXPECT_FALSE(app.Enabled(1002));
        EXPECT_FALSE(app.Enabled(1003));
        EXPECT_TRUE(app.Enabled(1006));
        EXPECT_TRUE(app.Visible(1009));
        const std::string shot = Artifacts() + "/running.bmp";
        Bitmap bmp;
        if (Screenshot(shot) && bmp.Load(shot))
        {
            RECT r;
            ::GetWindowRect(app.Control(1009), &r);
            sawRed = bmp.Count(r, 255, 0, 0) > 20;
        }
        Screenshot(Artifacts() + "/running.png");
    });
    ASSERT_EQ(4u, texts.size()) << ::testing::PrintToString(texts);
    EXPECT_EQ("Completed!  The firmware has been updated.", texts[2]);
    EXPECT_TRUE(sawRed) << "the caution text is red";
    const std::vector<std::string> expected = {kIdle, "Loading a Write Control Program...",
                                               "Deleting the Old Firmware Program...",
                                               "Transferring the new firmware...", kIdle};
    EXPECT_EQ(expected, statuses);

    // Start comes back enabled a moment before the handler moves the focus.
    for (int64_t until = NowMs() + 3000; NowMs() < until && app.Focus() != app.Control(1000);)
        ::Sleep(5);
    EXPECT_EQ(app.Control(1000), app.Focus()) << "focus back on Start";
    EXPECT_EQ(1000, app.DefaultId());
    EXPECT_EQ(BS_PUSHBUTTON, ::GetWindowLongA(app.Control(1001), GWL_STYLE) & 0x0F);
    EXPECT_EQ(BS_PUSHBUTTON, ::GetWindowLongA(app.Control(57670), GWL_STYLE) & 0x0F);
    EXPECT_FALSE(app.Visible(1009));
    EXPECT_EQ(0, app.ProgressPos());

    sim.Stop();
    EXPECT_TRUE(qvtest::ReadFileBytes(sim.ImagePath()) ==
                qvtest::BuiltInImage())
        << "the unit's flash holds the image byte for byte";

    // Second run on the same port (the list is never refreshed), the marker
    // now stored: Cancel while the firmware goes out.
    ASSERT_TRUE(sim.Start("--mode writing"));
    app.Click(1000);
    bool cancelled = false;
    texts = FollowRun(5, [&](const std::string& s) {
        if (!cancelled && s == "Transferring the new firmware...")
        {
            app.Click(1001);
            cancelled = true;
        }
    });
    ASSERT_EQ(2u, texts.size()) << ::testing::PrintToString(texts);
    EXPECT_EQ(kFailed, texts[1]);
    app.Click(1002);
    EXPECT_EQ(0, app.WaitExit(10000));
}

// A cross-section of the fault matrix, through the real window: what the user
// sees, the window back at rest, and the next Start updating the unit.
TEST_F(Gui, FaultMatrixCellsThroughTheWindow)
{
    using qvtest::MatrixCell;
    using qvtest::Outcome;
    const std::pair<const char*, const char*> picks[] = {
        {"identification", "silence"}, {"alignment", "unplugged"},      {"load middle", "cancel"},
        {"middle chunk", "burst"},     {"checksum", "refused checksum"}, {"between blocks", "cancel"},
    };
    const std::string image = qvtest::BuiltInImage();
    Sim sim(3);
    ASSERT_TRUE(sim.Start("--mode writing"));
    ASSERT_TRUE(app.Launch(Exe()));
    ASSERT_NE(nullptr, app.WaitIdleDialog(20000));
    sim.Stop();

    for (const auto& [phase, fault] : picks)
    {
        const MatrixCell* cell = qvtest::FindCell(phase, fault);
        ASSERT_NE(nullptr, cell) << phase << " / " << fault;
        SCOPED_TRACE(cell->Name());
        qvtest::SetMarkerValue(cell->identification ? 0 : 3120);

        ASSERT_TRUE(sim.Start(cell->simOptions));
        const std::vector<std::string> texts = RunThroughWindow(sim, cell->cancelOnNote);
        sim.Stop();
        std::vector<std::string> expected;
        if (cell->identification)
            expected.push_back(qvtest::kConnectText);
        if (!cell->identification || cell->outcome != Outcome::NotDetected)
            expected.push_back(qvtest::kWritingModeText);
        for (const auto& s : qvtest::OutcomeTexts(cell->outcome))
            expected.push_back(s);
        if (cell->systemText == qvtest::SystemText::Always)
        {
            ASSERT_EQ(expected.size() + 1, texts.size()) << ::testing::PrintToString(texts);
            EXPECT_FALSE(texts[expected.size() - 1].empty()) << "the system's text for the failed write";
            EXPECT_EQ(expected.back(), texts.back());
        }
        else
        {
            EXPECT_EQ(expected, texts);
        }
        EXPECT_EQ(kIdle, app.Text(1007));
        EXPECT_EQ("", app.Text(1006));
        EXPECT_EQ(0, app.ProgressPos());
        EXPECT_FALSE(app.Visible(1009)) << "caution hidden";
        EXPECT_TRUE(app.Enabled(1000) && app.Enabled(1002) && app.Enabled(1003));
        EXPECT_FALSE(app.Enabled(1001));

        // The next Start, with a sound unit in writing mode, updates it.
        qvtest::SetMarkerValue(3120);
        ASSERT_TRUE(sim.Start("--mode writing"));
        const std::vector<std::string> next = RunThroughWindow(sim, "");
        sim.Stop();
        ASSERT_EQ(3u, next.size()) << ::testing::PrintToString(next);
        EXPECT_EQ("Completed!  The firmware has been updated.", next[1]);
        EXPECT_TRUE(qvtest::ReadFileBytes(sim.ImagePath()) == image) << "the image byte for byte";
    }
    app.Click(1002);
    EXPECT_EQ(0, app.WaitExit(10000));
}
