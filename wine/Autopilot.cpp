// Runs QV-6100 Update the way a user would and says what the user sees:
// selects the port, clicks OK, answers every message with OK, prints each
// message and every status and percentage change, saves screenshots, opens
// the About box and finally clicks Exit. With --runs N it runs N updates in a
// row from the one window, pausing --between-ms (default 3000) before each
// next click on OK, as a user who switches the unit off and on between them.
//   qv_autopilot.exe <QV6100_UPDATE.exe> <COMn> <unix folder for screenshots>
//                    [--runs N] [--between-ms MS]
#include "ui/resource.h"
#include "wine/Driver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace qvtest;

namespace
{
void Say(const std::string& what)
{
    std::printf("%s\n", what.c_str());
    std::fflush(stdout);
}

std::string OneLine(std::string text)
{
    for (size_t i = 0; (i = text.find('\n', i)) != std::string::npos;)
        text.replace(i, 1, " | ");
    return text;
}

void Shot(const std::string& dir, const char* name, HWND window)
{
    const std::string path = dir + "/" + name;
    Say(Screenshot(path, window) ? "[screenshot] " + path : "[screenshot] failed: " + path);
}
}  // namespace

int main(int argc, char** argv)
{
    int runs = 1, betweenMs = 3000;
    bool usage = argc < 4;
    for (int i = 4; i < argc && !usage; i += 2)
    {
        const std::string option = argv[i];
        const int value = i + 1 < argc ? std::atoi(argv[i + 1]) : -1;
        if (option == "--runs" && value >= 1)
            runs = value;
        else if (option == "--between-ms" && value >= 0)
            betweenMs = value;
        else
            usage = true;
    }
    if (usage)
    {
        std::fprintf(stderr, "usage: qv_autopilot <QV6100_UPDATE.exe> <COMn> <screenshot folder> [--runs N] "
                             "[--between-ms MS]\n");
        return 2;
    }
    const std::string exe = argv[1], port = argv[2], dir = argv[3];
    App app;
    if (!app.Launch(exe))
    {
        Say("cannot start " + exe);
        return 1;
    }
    if (!app.WaitIdleDialog(20000))
    {
        Box box;
        if (app.FindBox(box))
        {
            Say("[message] " + box.caption + ": " + OneLine(box.text));
            app.Answer(box, IDOK);
        }
        const long code = app.WaitExit(10000);
        Say("the program ended (exit code " + std::to_string(code) + ")");
        return 1;
    }

    std::string status = app.Text(IDC_STATUS), percent;
    Say("[status] " + status);
    Say("[ports] available:");
    for (const auto& name : app.PortList())
        Say("  " + name);
    app.SelectPort(port);
    Shot(dir, "idle.png", app.Dialog());

    bool loaded = false, progressShot = false;
    const auto onBox = [](const Box& box) {
        Say("[message] " + box.caption + ": " + OneLine(box.text));
        Say("[answer] OK");
    };
    const auto onLook = [&] {
        const std::string s = app.Text(IDC_STATUS), p = app.Text(IDC_PERCENT);
        if (s != status)
            Say("[status] " + (status = s));
        if (p != percent)
        {
            percent = p;
            if (!p.empty() && (p.back() == '%') && (p == "1%" || p == "100%" || std::stoi(p) % 10 == 0))
                Say("[progress] " + p + " (bar " + std::to_string(app.ProgressPos()) + ")");
        }
        // The transfer counts from 0% again after the program load's 100%.
        loaded = loaded || p == "100%";
        if (!progressShot && loaded && !p.empty() && p != "100%" && std::stoi(p) >= 20)
        {
            Shot(dir, "running.png", app.Dialog());
            progressShot = true;
        }
    };
    for (int run = 1; run <= runs; ++run)
    {
        if (run > 1)
        {
            Say("[pause] " + std::to_string(betweenMs) + " ms before run " + std::to_string(run) + " of " +
                std::to_string(runs));
            ::Sleep(static_cast<DWORD>(betweenMs));
        }
        Say("[click] OK on " + port);
        app.Click(IDC_START);
        app.FollowRun(20, onBox, onLook, 60 * 60 * 1000);
        Say("[status] " + (status = app.Text(IDC_STATUS)));
        Shot(dir, "after.png", app.Dialog());
    }

    // The About box, opened from the system menu, reads like a message box.
    ::PostMessageA(app.Dialog(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    Box about;
    if (app.WaitBox(about, 5000))
    {
        Say("[about] " + about.caption + ": " + OneLine(about.text));
        Shot(dir, "about.png", about.hWnd);
        app.Answer(about, IDOK);
    }

    Say("[click] Exit");
    app.Click(IDC_EXIT);
    const long code = app.WaitExit(10000);
    Say("the program ended (exit code " + std::to_string(code) + ")");
    return code == 0 ? 0 : 1;
}
