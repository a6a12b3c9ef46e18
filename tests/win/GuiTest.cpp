// End to end: the real QV6100_UPDATE.exe under Wine, driven from outside as a
// user would, against the simulated unit.
#include "support/Harness.h"
#include "sim/options.hpp"
#include "tests/Outcomes.h"
#include "ui/resource.h"
#include "wine/Driver.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace qvtest;

namespace
{

std::string Exe()
{
    return WinPath(Env("QV_EXE"));
}

std::string Artifacts()
{
    const std::string dir = Env("QV_ARTIFACTS", TestTmpDir());
    ::CreateDirectoryA(WinPath(dir).c_str(), nullptr);
    return dir;
}

// The control shows the whole text, drawn with the dialog's font.
void ExpectFits(HWND control, const std::string& text, const DialogFont& font)
{
    ASSERT_NE(nullptr, control) << text;
    const TextFit fit = MeasureText(control, text, font.Get());
    EXPECT_TRUE(fit.Fits()) << "\"" << text << "\" needs " << fit.needed.cx << "x" << fit.needed.cy << " px and has "
                            << fit.room.cx << "x" << fit.room.cy;
}

// The font measured with is the dialog's own: its dialog units give the
// dialog its size.
void ExpectDialogsFont(HWND dialog, const DialogFont& font, const std::string& name)
{
    RECT r = {};
    ::GetClientRect(dialog, &r);
    EXPECT_EQ(std::make_pair(font.ClientSize().cx, font.ClientSize().cy), std::make_pair(r.right, r.bottom)) << name;
}

// A box's buttons and text, as one line. (Its icon cannot be told from
// another process: each process has icon handles of its own.)
std::string Describe(bool hasCancel, const std::string& text)
{
    return (hasCancel ? "OK and Cancel: " : "OK: ") + text;
}

std::vector<std::string> Describe(const std::vector<EndBox>& boxes)
{
    std::vector<std::string> out;
    for (const EndBox& box : boxes)
        out.push_back(Describe((box.type & MB_TYPEMASK) == MB_OKCANCEL, box.text));
    return out;
}

class Gui : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int com = 1; com <= 20; ++com)
            MakePortAbsent(com);
        SetMarkerValue(0);
    }
    void TearDown() override
    {
        app.Kill();
        DeleteMarkerKey();
    }

    // One press of Start through the window: every box it shows, answered OK.
    std::vector<std::string> RunThroughWindow()
    {
        std::vector<std::string> seen;
        app.Click(IDC_START);
        app.FollowRun(2, [&seen](const Box& box) { seen.push_back(Describe(box.hasCancel, box.text)); },
                      nullptr);
        return seen;
    }

    App app;
};
}  // namespace

TEST_F(Gui, NoPortShowsTheMessageAndEnds)
{
    ASSERT_TRUE(app.Launch(Exe()));
    Box box;
    ASSERT_TRUE(app.WaitBox(box, 20000));
    EXPECT_EQ(kNoPortsText, box.text);
    EXPECT_EQ(kCaption, box.caption);
    EXPECT_FALSE(box.hasCancel);
    app.Answer(box, IDOK);
    EXPECT_NE(-1, app.WaitExit(10000)) << "the program ends after the message";
}

TEST_F(Gui, PortListIsSortedByNameAndUnopenablePortsAreLeftOut)
{
    Sim com3(3), com10(10);
    ASSERT_TRUE(com3.Start());
    ASSERT_TRUE(com10.Start());
    MakePortUnopenable(5);
    ASSERT_TRUE(app.Launch(Exe()));
    ASSERT_NE(nullptr, app.WaitIdleDialog(20000));
    EXPECT_EQ((std::vector<std::string>{"COM10", "COM3"}), app.PortList());
    EXPECT_EQ(0, app.PortSelection());
    EXPECT_EQ(kIdleStatusText, app.Text(IDC_STATUS));
    EXPECT_EQ("", app.Text(IDC_PERCENT));
    EXPECT_FALSE(app.Enabled(IDC_CANCEL_RUN)) << "Cancel";
    EXPECT_FALSE(app.Visible(IDC_CAUTION)) << "caution";
    Screenshot(Artifacts() + "/idle.png");
    MakePortAbsent(5);

    app.Click(IDC_EXIT);
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
    EXPECT_EQ(kConnectText, box.text);
    EXPECT_TRUE(box.hasCancel);
    app.Answer(box, IDCANCEL);
    ASSERT_NE(nullptr, app.WaitIdleDialog(10000));
    EXPECT_EQ("", sim.Log().fromPc()) << "declined: nothing sent";

    // The About box, from the system menu: its caption and its two lines.
    ::PostMessageA(app.Dialog(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    Box about;
    ASSERT_TRUE(app.WaitBox(about, 10000));
    EXPECT_EQ(kAboutCaption, about.caption);
    EXPECT_EQ(kAboutText, about.text);
    Screenshot(Artifacts() + "/about.png");
    app.Answer(about, IDOK);

    // F1 and the Help button both open the help file next to the program.
    app.PressKey(VK_F1);
    HWND help = app.WaitWindow(kHelpTitle, 15000);
    ASSERT_NE(nullptr, help) << "F1";
    ::PostMessageA(help, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([help] { return !::IsWindow(help); }, 5000));
    app.Click(ID_HELP);
    EXPECT_NE(nullptr, app.WaitWindow(kHelpTitle, 15000)) << "the Help button";

    app.Click(IDC_EXIT);
    EXPECT_EQ(0, app.WaitExit(10000));
}

// At 100%, 150% and 200% scaling every label and button of the update dialog
// and the About box shows its whole text, the status and percentage labels
// every text a run puts there. Both windows at each scale in the artefacts.
TEST_F(Gui, EveryTextFitsItsControlAt96_144And192Dpi)
{
    // Each label and button with the texts it shows; none: the one it has.
    const std::pair<int, std::vector<std::string>> labels[] = {
        {IDC_STATUS, {kIdleStatusText, kLoadingProgramText, kDeletingText, kTransferringText}},
        {IDC_PERCENT, {kFullPercentText}},
        {IDC_PORT_LABEL, {}}, {IDC_CAUTION, {}}, {IDC_START, {}}, {IDC_CANCEL_RUN, {}}, {ID_HELP, {}}, {IDC_EXIT, {}},
    };
    Sim sim(3);
    ASSERT_TRUE(sim.Start());
    for (const int dpi : {96, 144, 192})
    {
        const std::string scale = std::to_string(dpi * 100 / 96);
        SCOPED_TRACE(scale + "%");
        const ScreenDpi screen(static_cast<DWORD>(dpi));
        App shown;
        ASSERT_TRUE(shown.Launch(Exe()));
        ASSERT_NE(nullptr, shown.WaitIdleDialog(20000));
        const DialogFont font(Exe(), IDD_UPDATE_DIALOG, dpi);
        ExpectDialogsFont(shown.Dialog(), font, "update dialog");
        for (const auto& [id, texts] : labels)
            for (const std::string& text : texts.empty() ? std::vector{shown.Text(id)} : texts)
                ExpectFits(shown.Control(id), text, font);
        EXPECT_TRUE(Screenshot(Artifacts() + "/idle-" + scale + ".png", shown.Dialog()));

        ::PostMessageA(shown.Dialog(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        Box about;
        ASSERT_TRUE(shown.WaitBox(about, 10000));
        const DialogFont aboutFont(Exe(), IDD_ABOUTBOX, dpi);
        ExpectDialogsFont(about.hWnd, aboutFont, "About box");
        ExpectFits(about.textControl, about.text, aboutFont);
        ExpectFits(::GetDlgItem(about.hWnd, IDOK), WindowText(::GetDlgItem(about.hWnd, IDOK)), aboutFont);
        EXPECT_TRUE(Screenshot(Artifacts() + "/about-" + scale + ".png", about.hWnd));
        shown.Answer(about, IDOK);
        shown.Click(IDC_EXIT);
        EXPECT_EQ(0, shown.WaitExit(10000));
    }
}

TEST_F(Gui, FullUpdateThenCancelDuringTheTransfer)
{
    Sim sim(3);
    // The unit takes a while to erase, as a real one does: long enough to see.
    ASSERT_TRUE(sim.Start("--s1 auto --erase-ms 300"));
    ASSERT_TRUE(app.Launch(Exe()));
    ASSERT_NE(nullptr, app.WaitIdleDialog(20000));

    app.Click(IDC_START);
    std::vector<std::string> statuses;
    bool checkedRunning = false, sawRed = false;
    std::vector<std::string> texts = app.FollowRun(5, nullptr, [&] {
        const std::string s = app.Text(IDC_STATUS);
        if (statuses.empty() || statuses.back() != s)
            statuses.push_back(s);
        if (checkedRunning || s != kTransferringText)
            return;
        checkedRunning = true;
        EXPECT_TRUE(WaitUntil([&] { return app.Focus() == app.Control(IDC_CANCEL_RUN); }, 1000))
            << "focus on Cancel during the run";
        EXPECT_TRUE(app.Enabled(IDC_CANCEL_RUN));
        EXPECT_FALSE(app.Enabled(IDC_EXIT));
        EXPECT_FALSE(app.Enabled(IDC_PORT));
        EXPECT_TRUE(app.Enabled(IDC_PERCENT));
        EXPECT_TRUE(app.Visible(IDC_CAUTION));
        const std::string shot = Artifacts() + "/running.bmp";
        Bitmap bmp;
        if (Screenshot(shot) && bmp.Load(shot))
        {
            RECT r;
            ::GetWindowRect(app.Control(IDC_CAUTION), &r);
            sawRed = bmp.Count(r, 255, 0, 0) > 20;
        }
        Screenshot(Artifacts() + "/running.png");
    });
    ASSERT_EQ(4u, texts.size()) << ::testing::PrintToString(texts);
    EXPECT_EQ(kCompletedText, texts[2]);
    EXPECT_TRUE(sawRed) << "the caution text is red";
    const std::vector<std::string> expected = {kIdleStatusText, kLoadingProgramText, kDeletingText,
                                               kTransferringText, kIdleStatusText};
    EXPECT_EQ(expected, statuses);

    // Start comes back enabled a moment before the handler moves the focus.
    EXPECT_TRUE(WaitUntil([&] { return app.Focus() == app.Control(IDC_START); }, 3000)) << "focus back on Start";
    EXPECT_EQ(IDC_START, app.DefaultId());
    EXPECT_EQ(BS_PUSHBUTTON, ::GetWindowLongA(app.Control(IDC_CANCEL_RUN), GWL_STYLE) & 0x0F);
    EXPECT_EQ(BS_PUSHBUTTON, ::GetWindowLongA(app.Control(ID_HELP), GWL_STYLE) & 0x0F);
    EXPECT_FALSE(app.Visible(IDC_CAUTION));
    EXPECT_EQ(0, app.ProgressPos());

    sim.Stop();
    EXPECT_TRUE(ReadFileBytes(sim.ImagePath()) == BuiltInImage()) << "the unit's flash holds the image byte for byte";

    // Second run on the same port (the list is never refreshed), the marker
    // now stored: Cancel while the firmware goes out.
    ASSERT_TRUE(sim.Start("--mode writing"));
    app.Click(IDC_START);
    bool cancelled = false;
    texts = app.FollowRun(5, nullptr, [&] {
        const std::string s = app.Text(IDC_STATUS);
        if (!cancelled && s == kTransferringText)
        {
            app.Click(IDC_CANCEL_RUN);
            cancelled = true;
        }
    });
    ASSERT_EQ(2u, texts.size()) << ::testing::PrintToString(texts);
    EXPECT_EQ(kFailedText, texts[1]);
    app.Click(IDC_EXIT);
    EXPECT_EQ(0, app.WaitExit(10000));
}

// Each message an update can end with, once through the real window: the
// unit's faults with the outcome the sweep's table gives them, a port that
// cannot be opened, a record that cannot be stored. After each, the window is
// back at rest and a clean run writes every byte.
TEST_F(Gui, EachWayAnUpdateEnds)
{
    using qvsim::Step;
    enum Setup
    {
        UnitFault,
        PortUnopenable,
        KeyReadOnly,
    };
    const struct
    {
        Setup setup;
        Step step;
        const char* column;
        unsigned index;
    } cells[] = {
        {UnitFault, Step::Ty, "silence", 0},      // not detected
        {UnitFault, Step::Sync, "cable cut", 0},  // the system's text, then not detected
        {UnitFault, Step::Ack, "wrong byte", 5},
        {UnitFault, Step::Chunk, "flood", 1280},
        {UnitFault, Step::Echo, "wrong byte", 700},  // completed all the same
        {PortUnopenable, Step::Sync, nullptr, 0},
        {KeyReadOnly, Step::Ty, nullptr, 0},
    };
    const std::string image = BuiltInImage();
    Sim sim(3);
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(app.Launch(Exe()));
    ASSERT_NE(nullptr, app.WaitIdleDialog(20000));
    sim.Stop();

    qvsim::Config unit;
    unit.s1Auto = true;
    for (const auto& cell : cells)
    {
        const bool marked = cell.step != Step::Ty;
        // A box as this test sees it: its text and buttons.
        std::vector<EndBox> expected = {{kOpenFailedText, MB_OK}};
        qvsim::Config spoiled = unit;
        if (cell.setup == UnitFault)
        {
            const Column& column = ColumnNamed(cell.column);
            const Seen seen = column.seen[RowIndex(cell.step)];
            expected = RunBoxes(marked, marked || seen == Done, seen);
            spoiled = Spoiled(unit, kRows[RowIndex(cell.step)], column, cell.index);
        }
        else if (cell.setup == PortUnopenable)
            expected.insert(expected.begin(), {kWritingModeText, MB_OKCANCEL});
        else
            expected = {{kConnectText, MB_OKCANCEL}, {kAdminText, MB_OK}};
        std::string options;
        for (const std::string& arg : qvsim::unitArguments(spoiled))
            options += arg + " ";
        SCOPED_TRACE(cell.column ? options : expected.back().text);

        SetMarkerValue(marked ? kRecordValue : 0);
        if (cell.setup == KeyReadOnly)
            MakeMarkerKeyReadOnly();
        ASSERT_TRUE(sim.Start(options));
        if (cell.setup == PortUnopenable)
            MakePortUnopenable(3);
        EXPECT_EQ(Describe(expected), RunThroughWindow());
        sim.Stop();
        EXPECT_EQ(kIdleStatusText, app.Text(IDC_STATUS));
        EXPECT_EQ("", app.Text(IDC_PERCENT));
        EXPECT_EQ(0, app.ProgressPos());
        EXPECT_FALSE(app.Visible(IDC_CAUTION)) << "caution hidden";
        EXPECT_TRUE(app.Enabled(IDC_START) && app.Enabled(IDC_EXIT) && app.Enabled(IDC_PORT));
        EXPECT_FALSE(app.Enabled(IDC_CANCEL_RUN));

        // The next Start, with a sound unit, updates it.
        DeleteMarkerKey();
        SetMarkerValue(kRecordValue);
        ASSERT_TRUE(sim.Start("--s1 auto"));
        EXPECT_EQ(Describe(RunBoxes(true, true, Done)), RunThroughWindow());
        sim.Stop();
        EXPECT_TRUE(ReadFileBytes(sim.ImagePath()) == image) << "the image byte for byte";
        EXPECT_TRUE(ReadFileBytes(sim.ProgramPath()) == BuiltInProgram()) << "the program byte for byte";
    }
    app.Click(IDC_EXIT);
    EXPECT_EQ(0, app.WaitExit(10000));
}

// Installed into a folder whose name the ANSI code page cannot spell: the
// program starts, F1 opens its help, Exit ends it, and the uninstaller takes
// it away again.
TEST_F(Gui, InstalledInAFolderOutsideTheAnsiCodePage)
{
    const std::string setup = Env("QV_SETUP");
    if (setup.empty())
        GTEST_SKIP() << "this build has no installer";
    const std::string parent = u8"C:\\Программы";
    const std::string dir = parent + "\\QV-6100";
    const std::string exe = dir + "\\QV6100_UPDATE.exe";
    App installer;
    ASSERT_TRUE(installer.Launch(WinPath(setup), "/S /D=" + dir));
    ASSERT_EQ(0, installer.WaitExit(60000));
    ASSERT_TRUE(FileExists(exe) && FileExists(dir + "\\QV6100_UPDATE.chm"));

    Sim sim(3);
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(app.Launch(exe));
    ASSERT_NE(nullptr, app.WaitIdleDialog(20000));
    app.PressKey(VK_F1);
    HWND help = app.WaitWindow(kHelpTitle, 15000);
    EXPECT_NE(nullptr, help) << "F1 opens the help file next to the program";
    if (help)
        ::PostMessageA(help, WM_CLOSE, 0, 0);
    app.Click(IDC_EXIT);
    EXPECT_EQ(0, app.WaitExit(10000));

    // The uninstaller runs on from a copy of itself.
    App uninstaller;
    ASSERT_TRUE(uninstaller.Launch(dir + "\\Uninstall.exe", "/S"));
    uninstaller.WaitExit(30000);
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(dir); }, 15000, 50)) << "the uninstaller removes the folder";
    ::RemoveDirectoryW(Wide(parent).c_str());
}
