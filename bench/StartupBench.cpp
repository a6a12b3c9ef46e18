// qv_startup_bench: time from starting QV6100_UPDATE.exe to its idle dialog
// (visible, OK button enabled), over several runs, with one simulated port
// present so that the program has a port to offer and stays open. Each run
// ends the program with its Exit button.
//   qv_startup_bench [--runs N] [--com N] [--exe PATH] [--json FILE]
#include "BenchSupport.h"
#include "ui/resource.h"
#include "wine/Driver.h"

#include <mmsystem.h>

using namespace qvtest;

namespace
{

std::string ModuleDir()
{
    char path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n < MAX_PATH ? n : 0);
    const size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

struct Sample
{
    double ms = 0;
    bool ok = false;
    std::string note;
};

Sample StartOnce(const std::string& exe)
{
    Sample s;
    App app;
    const int64_t t0 = NowUs();
    if (!app.Launch(exe))
    {
        s.note = "cannot start " + exe + " (error " + std::to_string(::GetLastError()) + ")";
        return s;
    }
    if (app.WaitIdleDialog(60000, 1))
    {
        s.ms = static_cast<double>(NowUs() - t0) / 1000.0;
        s.ok = true;
        app.Click(IDC_EXIT);
    }
    else
    {
        s.note = app.Running() ? "no idle dialog within 60 s" : "the program ended before showing its idle dialog";
    }
    if (app.WaitExit(10000) == -1 && app.Running())
    {
        // Our own child, by its handle.
        app.Kill();
        if (s.note.empty())
            s.note = "Exit did not end the program within 10 s; terminated";
    }
    return s;
}
}  // namespace

int main(int argc, char** argv)
{
    BinaryStdout();
    int runs = 5, com = 20;
    std::string exe, json;
    if (!ParseOptions(argc, argv,
                      {{"--runs", &runs, 1, 1000, nullptr},
                       {"--com", &com, 1, 20, nullptr},
                       {"--exe", nullptr, 0, 0, &exe},
                       {"--json", nullptr, 0, 0, &json}},
                      "Usage: qv_startup_bench [--runs N] [--com N] [--exe PATH] [--json FILE]\n"
                      "  --runs N   program starts to time (default 5)\n"
                      "  --com N    COM number of the simulated port, 1..20 (default 20)\n"
                      "  --exe      the program (default QV6100_UPDATE.exe beside this one)\n"
                      "  --json     where the JSON results go (default <bench dir>/startup.json)\n"))
        return 2;
    exe = exe.empty() ? ModuleDir() + "\\QV6100_UPDATE.exe" : WinPath(exe);
    if (!FileExists(exe))
    {
        std::fprintf(stderr, "qv_startup_bench: no program at %s\n", exe.c_str());
        return 2;
    }
    const std::string dir = BenchDir();
    if (json.empty())
        json = dir + "/startup.json";

    Simulator sim(com, dir + "/startup");
    std::string error;
    if (!sim.Start("", 600, error))
    {
        std::fprintf(stderr, "qv_startup_bench: %s\n", error.c_str());
        return 2;
    }
    const bool fineSleep = ::timeBeginPeriod(1) == TIMERR_NOERROR;  // 1 ms polling on Windows too
    std::printf("Timing %d starts of %s (simulated unit on COM%d)...\n", runs, exe.c_str(), com);
    std::fflush(stdout);
    std::vector<Sample> samples;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
    {
        samples.push_back(StartOnce(exe));
        if (samples.back().ok)
            times.push_back(samples.back().ms);
    }
    if (fineSleep)
        ::timeEndPeriod(1);
    sim.Stop();
    const Summary s = Summarize(times);

    std::printf("\nQV6100_UPDATE.exe start-up: process start -> idle dialog (visible, OK enabled)\n");
    for (size_t i = 0; i < samples.size(); ++i)
    {
        if (samples[i].ok)
            std::printf("  run %-3zu %9.1f ms%s%s\n", i + 1, samples[i].ms, samples[i].note.empty() ? "" : "  ",
                        samples[i].note.c_str());
        else
            std::printf("  run %-3zu %12s  %s\n", i + 1, "failed", samples[i].note.c_str());
    }
    std::printf("  %zu of %zu runs: median %.1f ms  min %.1f ms  max %.1f ms\n", s.count, samples.size(), s.median,
                s.min, s.max);

    Json j;
    j.Begin();
    j.String("benchmark", "startup");
    j.String("program", exe);
    j.String("definition", "CreateProcess -> main dialog visible with its OK button enabled (QueryPerformanceCounter, polled every 1 ms)");
    j.Int("runs", runs);
    j.Stats("startup_ms", s, 2);
    j.BeginArray("runs_ms");
    for (const Sample& x : samples)
    {
        j.Begin();
        j.Bool("ok", x.ok);
        j.Number("ms", x.ms, 2);
        j.String("note", x.note);
        j.End();
    }
    j.EndArray();
    j.End();
    j.Save(json, "qv_startup_bench");
    return s.count == samples.size() ? 0 : 1;
}
