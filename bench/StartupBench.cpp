// qv_startup_bench: time from starting QV6100_UPDATE.exe to its idle dialog
// (visible, OK button enabled), over several runs, with one simulated port
// present so that the program has a port to offer and stays open. Each run
// ends the program with its Exit button.
//   qv_startup_bench [--runs N] [--com N] [--exe PATH] [--json FILE]
#include "BenchSupport.h"

#include <mmsystem.h>

#include <cstdlib>
#include <cstring>

using namespace qvbench;

namespace
{
const char kTitle[] = "Corvane QV-6100 Update";
const int kStartButton = 1000;
const int kExitButton = 1002;

struct Options
{
    int runs = 5;
    int com = 20;
    std::string exe;
    std::string json;
};

bool ParseInt(const char* text, int low, int high, int& out)
{
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--runs" && hasValue && ParseInt(argv[++i], 1, 1000, o.runs))
            continue;
        if (a == "--com" && hasValue && ParseInt(argv[++i], 1, 20, o.com))
            continue;
        if (a == "--exe" && hasValue)
        {
            o.exe = WinPath(argv[++i]);
            continue;
        }
        if (a == "--json" && hasValue)
        {
            o.json = argv[++i];
            continue;
        }
        std::fprintf(stderr,
                     "Usage: qv_startup_bench [--runs N] [--com N] [--exe PATH] [--json FILE]\n"
                     "  --runs N   program starts to time (default 5)\n"
                     "  --com N    COM number of the simulated port, 1..20 (default 20)\n"
                     "  --exe      the program (default QV6100_UPDATE.exe beside this one)\n"
                     "  --json     where the JSON results go (default <bench dir>/startup.json)\n");
        return false;
    }
    return true;
}

std::string ModuleDir()
{
    char path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n < MAX_PATH ? n : 0);
    const size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

// The program's main dialog, once it is visible and idle.
HWND IdleDialog(DWORD pid)
{
    HWND h = nullptr;
    while ((h = ::FindWindowExA(nullptr, h, nullptr, kTitle)) != nullptr)
    {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(h, &owner);
        if (owner != pid || !::IsWindowVisible(h))
            continue;
        HWND start = ::GetDlgItem(h, kStartButton);
        if (start && ::IsWindowEnabled(start))
            return h;
    }
    return nullptr;
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
    const std::string dir = exe.substr(0, exe.find_last_of("\\/"));
    std::string cmd = "\"" + exe + "\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};

    const int64_t t0 = NowUs();
    if (!::CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi))
    {
        s.note = "cannot start " + exe + " (error " + std::to_string(::GetLastError()) + ")";
        return s;
    }
    HWND dlg = nullptr;
    const int64_t deadline = t0 + 60000000;
    while (!(dlg = IdleDialog(pi.dwProcessId)))
    {
        if (::WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0)
        {
            s.note = "the program ended before showing its idle dialog";
            break;
        }
        if (NowUs() > deadline)
        {
            s.note = "no idle dialog within 60 s";
            break;
        }
        ::Sleep(1);
    }
    if (dlg)
    {
        s.ms = static_cast<double>(NowUs() - t0) / 1000.0;
        s.ok = true;
        ::PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(kExitButton, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dlg, kExitButton)));
    }
    if (::WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0)
    {
        // Our own child, by its handle.
        ::TerminateProcess(pi.hProcess, 1);
        ::WaitForSingleObject(pi.hProcess, 5000);
        if (s.note.empty())
            s.note = "Exit did not end the program within 10 s; terminated";
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return s;
}
}  // namespace

int main(int argc, char** argv)
{
    BinaryStdout();
    Options opt;
    if (!ParseOptions(argc, argv, opt))
        return 2;
    if (opt.exe.empty())
        opt.exe = ModuleDir() + "\\QV6100_UPDATE.exe";
    if (!FileExists(opt.exe))
    {
        std::fprintf(stderr, "qv_startup_bench: no program at %s\n", opt.exe.c_str());
        return 2;
    }
    const std::string dir = BenchDir();
    if (opt.json.empty())
        opt.json = dir + "/startup.json";

    Sim sim(opt.com, dir + "/startup");
    std::string error;
    if (!sim.Start("", 600, error))
    {
        std::fprintf(stderr, "qv_startup_bench: %s\n", error.c_str());
        return 2;
    }
    const bool fineSleep = ::timeBeginPeriod(1) == TIMERR_NOERROR;  // 1 ms polling on Windows too
    std::printf("Timing %d starts of %s (simulated unit on COM%d)...\n", opt.runs, opt.exe.c_str(), opt.com);
    std::fflush(stdout);
    std::vector<Sample> samples;
    std::vector<double> times;
    for (int i = 0; i < opt.runs; ++i)
    {
        samples.push_back(StartOnce(opt.exe));
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
    j.String("program", opt.exe);
    j.String("definition", "CreateProcess -> main dialog visible with its OK button enabled (QueryPerformanceCounter, polled every 1 ms)");
    j.Int("runs", opt.runs);
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
    if (j.Save(opt.json))
        std::printf("\nJSON: %s\n", opt.json.c_str());
    else
        std::fprintf(stderr, "qv_startup_bench: cannot write %s\n", opt.json.c_str());
    return s.count == samples.size() ? 0 : 1;
}
