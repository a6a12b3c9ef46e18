// Runs QV-6100 Update the way a user would and says what the user sees:
// selects the port, clicks OK, answers every message with OK, prints each
// message and every status and percentage change, saves screenshots, opens
// the About box and finally clicks Exit.
//   qv_autopilot.exe <QV6100_UPDATE.exe> <COMn> <unix folder for screenshots>
#include "gui/Driver.h"

#include <cstdio>
#include <string>

using namespace qvgui;

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
    if (argc < 4)
    {
        std::fprintf(stderr, "usage: qv_autopilot <QV6100_UPDATE.exe> <COMn> <screenshot folder>\n");
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

    std::string status = app.Text(1007), percent;
    Say("[status] " + status);
    Say("[ports] available:");
    for (const auto& name : app.PortList())
        Say("  " + name);
    app.SelectPort(port);
    Shot(dir, "idle.png", app.Dialog());

    Say("[click] OK on " + port);
    app.Click(1000);
    bool started = false, progressShot = false;
    const int64_t deadline = NowMs() + 60 * 60 * 1000;
    while (NowMs() < deadline)
    {
        Box box;
        if (app.FindBox(box))
        {
            Say("[message] " + box.caption + ": " + OneLine(box.text));
            app.Answer(box, IDOK);
            Say("[answer] OK");
            continue;
        }
        const std::string s = app.Text(1007), p = app.Text(1006);
        if (s != status)
            Say("[status] " + (status = s));
        if (p != percent)
        {
            percent = p;
            if (!p.empty() && (p.back() == '%') && (p == "1%" || p == "100%" || std::stoi(p) % 10 == 0))
                Say("[progress] " + p + " (bar " + std::to_string(app.ProgressPos()) + ")");
        }
        if (!progressShot && s == "Transferring the new firmware..." && !p.empty() && std::stoi(p) >= 20)
        {
            Shot(dir, "running.png", app.Dialog());
            progressShot = true;
        }
        const bool idle = app.Enabled(1000);
        if (!idle)
            started = true;
        else if (started)
            break;
        ::Sleep(20);
    }
    Say("[status] " + app.Text(1007));
    Shot(dir, "after.png", app.Dialog());

    ::PostMessageA(app.Dialog(), WM_SYSCOMMAND, 0x0010, 0);
    if (HWND about = app.WaitWindow("About Corvane QV-6100 Update", 5000))
    {
        Say("[about] About Corvane QV-6100 Update");
        Shot(dir, "about.png", about);
        ::PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        ::Sleep(300);
    }

    Say("[click] Exit");
    app.Click(1002);
    const long code = app.WaitExit(10000);
    Say("the program ended (exit code " + std::to_string(code) + ")");
    return code == 0 ? 0 : 1;
}
