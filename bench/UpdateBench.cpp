// qv_bench: one full firmware update through the engine's own operations, on
// a modeless update dialog, against the simulated QV-6100 pacing the line at a
// chosen bit rate. Reports the time taken against the time the bytes need on
// the line, the updater's answer latency from the simulator's wire log, CPU
// time and peak memory. A measurement, not a test: it judges nothing but
// whether the unit ended up holding the built-in image.
//   qv_bench [--baud N] [--com N] [--latency MS] [--json FILE]
#include "BenchSupport.h"

#include "app/UpdateApp.h"
#include "framework/Framework.h"
#include "payload/Payload.h"
#include "ui/UpdateDlg.h"
#include "update/RunRequests.h"

#include <cstring>

using namespace qvtest;

namespace
{
class CBenchApp : public CWinApp
{
};
CBenchApp theBenchApp;

struct Phase
{
    explicit Phase(const char* n) : name(n) {}
    const char* name;
    int64_t startUs = 0;
    int64_t endUs = 0;
    bool ok = false;
    // From the wire log:
    long long fromPc = 0;  // bytes the unit received
    long long toPc = 0;    // bytes the unit sent
    std::vector<double> latencyMs;
};

struct Run
{
    std::vector<Phase> phases;
    bool ok = false;  // every operation reported success
    double cpuBefore = 0, cpuAfter = 0;
    // The whole wire log, phases or not:
    long long fromPc = 0, toPc = 0;
    std::vector<double> latencyMs;
};

// The writing stage's operations, in the order RunUpdate calls them.
struct EngineStep
{
    const char* name;
    int (*run)(CUpdateDlg& dlg);  // 1 on success, as the engine's operations
};

const EngineStep kWritingSteps[] = {
    {"open port, start reader",
     [](CUpdateDlg& dlg) {
         if (!dlg.OpenPort())
             return 0;
         dlg.StartReader();
         return 1;
     }},
    {"bit-rate sync", [](CUpdateDlg& dlg) { return dlg.SyncBitRate(); }},
    {"program load", [](CUpdateDlg& dlg) { return dlg.LoadWriteControlProgram(); }},
    {"firmware transfer", [](CUpdateDlg& dlg) { return dlg.TransferFirmware(FirmwareImage); }},
};

// Each operation timed as a phase of its own, then the clean-up.
Run UpdateOnce(CUpdateDlg& dlg)
{
    Run run;
    RunRequests requests;  // as the run holds them
    dlg.m_bCancel = 0;
    run.cpuBefore = CpuSeconds();
    auto timed = [&run](const char* name, auto&& operation) {
        run.phases.emplace_back(name);
        Phase& p = run.phases.back();
        p.startUs = NowUs();
        p.ok = operation() != 0;
        p.endUs = NowUs();
        return p.ok;
    };
    run.ok = true;
    for (const EngineStep& step : kWritingSteps)
        if (!(run.ok = timed(step.name, [&] { return step.run(dlg); })))
            break;
    timed("stop reader, close port", [&dlg] {
        dlg.StopReader();
        dlg.ClosePort();
        return 1;
    });
    run.cpuAfter = CpuSeconds();
    return run;
}

// Splits the wire log over the phases by time and measures each round trip:
// an "rx" line (the PC's answer) following "tx" lines (the unit's request)
// gives t(rx) - t(last tx line), from the simulator's write of the last byte
// the unit sent to its read of the first byte of the answer. The pty hands
// a written byte to the PC at once, so this is the updater's own reaction
// time plus the simulator's scheduling.
void AnalyseWire(const qvsim::WireLogReader& log, Run& run)
{
    auto phaseAt = [&run](int64_t t) -> Phase* {
        for (Phase& p : run.phases)
            if (p.startUs != 0 && t >= p.startUs && t < p.endUs)
                return &p;
        return nullptr;
    };
    int64_t lastTxUs = -1;
    bool afterTx = false;
    for (const qvsim::WireEntry& e : log.entries)
    {
        if (e.kind != "rx" && e.kind != "tx")
            continue;
        const long long bytes = static_cast<long long>(e.bytes.size());
        Phase* p = phaseAt(e.tUs);
        if (e.kind == "rx")
        {
            run.fromPc += bytes;
            if (p)
                p->fromPc += bytes;
            if (afterTx)
            {
                const double ms = static_cast<double>(e.tUs - lastTxUs) / 1000.0;
                run.latencyMs.push_back(ms);
                if (p)
                    p->latencyMs.push_back(ms);
            }
            afterTx = false;
        }
        else
        {
            run.toPc += bytes;
            if (p)
                p->toPc += bytes;
            lastTxUs = e.tUs;
            afterTx = true;
        }
    }
}

std::string Thousands(long long v)
{
    std::string s = std::to_string(v);
    for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3)
        s.insert(static_cast<size_t>(i), " ");
    return s;
}

std::string WineVersion()
{
    using Fn = const char*(CDECL*)();
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    auto fn = ntdll ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")))
                    : nullptr;
    return fn ? fn() : "none";
}
}  // namespace

int main(int argc, char** argv)
{
    BinaryStdout();
    theApp.InitApplication(::GetModuleHandleA(nullptr));
    int baud = 9600, com = 19, simLatencyMs = 0;
    std::string json;
    if (!ParseOptions(argc, argv,
                      {{"--baud", &baud, 50, 10000000, nullptr},
                       {"--com", &com, 1, 256, nullptr},
                       {"--latency", &simLatencyMs, 0, 1000, nullptr},
                       {"--json", nullptr, 0, 0, &json}},
                      "Usage: qv_bench [--baud N] [--com N] [--latency MS] [--json FILE]\n"
                      "  --baud N      line rate the simulator models, 50..10000000 (default 9600)\n"
                      "  --com N       COM number the simulator publishes (default 19)\n"
                      "  --latency MS  the simulator holds each answer MS ms, 0..1000 (default 0)\n"
                      "  --json        where the JSON results go (default <bench dir>/update-<baud>.json,\n"
                      "                update-<baud>-latency<MS>.json with a latency)\n"))
        return 2;
    const std::string dir = BenchDir();
    if (json.empty())
        json = dir + "/update-" + std::to_string(baud) +
               (simLatencyMs ? "-latency" + std::to_string(simLatencyMs) : std::string()) + ".json";

    // Roughly 272 000 bytes cross the line: let the simulator live well past that.
    const int wireEstimateSec = static_cast<int>(2720000LL / baud);
    // About 3 500 answers, each held that long.
    const int latencySec = simLatencyMs * 5;
    std::string simOptions = "--mode writing --baud " + std::to_string(baud);
    if (simLatencyMs)
        simOptions += " --latency " + std::to_string(simLatencyMs);
    Simulator sim(com, dir + "/update-com" + std::to_string(com));
    std::string error;
    const std::string held = simLatencyMs ? ", each answer held " + std::to_string(simLatencyMs) + " ms" : "";
    std::printf("Starting the simulated unit on COM%d (firmware writing mode, %d baud%s)...\n", com, baud,
                held.c_str());
    std::fflush(stdout);
    if (!sim.Start(simOptions, 120 + 3 * (wireEstimateSec + latencySec), error))
    {
        std::fprintf(stderr, "qv_bench: %s\n", error.c_str());
        return 2;
    }

    Run run;
    std::vector<std::string> boxes;
    {
        // Outlives the dialog: it may show boxes from its creation on.
        BoxWatcher answerer;
        CUpdateDlg dlg;
        dlg.m_bCancel = 0;
        dlg.m_bTimeout = 0;
        dlg.Create();
        dlg.ShowWindow(SW_SHOW);
        SelectOrAdd(::GetDlgItem(dlg.m_hWnd, IDC_PORT), sim.PortName());

        std::printf("Updating through the engine (the full run takes about %d s of line time)...\n",
                    wireEstimateSec);
        std::fflush(stdout);
        run = UpdateOnce(dlg);
        dlg.KillTimer(TIMEOUT_TIMER_ID);
        dlg.DestroyWindow();
        boxes = answerer.Texts();
    }
    const bool stopped = sim.Stop();
    const double cpuProcess = CpuSeconds();
    const double peakMB = PeakWorkingSetMB();

    AnalyseWire(sim.Log(), run);
    const std::string image = ReadFileBytes(sim.ImagePath());
    const std::string program = ReadFileBytes(sim.ProgramPath());
    const bool imageOk = image.size() == static_cast<size_t>(kFirmwareImageBytes) &&
                         std::memcmp(image.data(), FirmwareImage, image.size()) == 0;
    const bool programOk = program.size() == static_cast<size_t>(kWriteControlProgramBytes) &&
                           std::memcmp(program.data(), WriteControlProgram, program.size()) == 0;

    const double byteSec = 10.0 / baud;
    const long long fromPc = run.fromPc;
    const long long toPc = run.toPc;
    const std::vector<double>& latency = run.latencyMs;
    long long inPhases = 0;
    for (const Phase& p : run.phases)
        inPhases += p.fromPc + p.toPc;
    const double totalSec = static_cast<double>(run.phases.back().endUs - run.phases.front().startUs) / 1e6;
    const double wireSec = static_cast<double>(fromPc + toPc) * byteSec;
    const Summary lat = Summarize(latency);

    const char* verdict = !run.ok ? "failed" : (imageOk && programOk ? "ok" : "mismatch");

    // ---- Table ---------------------------------------------------------------
    std::printf("\nQV-6100 Update benchmark: one full update at %d baud on COM%d (simulated unit%s)\n", baud,
                com, held.c_str());
    std::printf("  %-24s %s (flash image %s the built-in image; program %s)\n", "result", verdict,
                imageOk ? "equals" : "DIFFERS FROM", programOk ? "equal" : "DIFFERS");
    for (const std::string& b : boxes)
        std::printf("  %-24s \"%s\"\n", "message shown", b.c_str());
    if (!stopped)
        std::printf("  %-24s the simulator did not confirm its stop\n", "warning");
    if (inPhases != fromPc + toPc)
        std::printf("  %-24s %lld logged bytes fall outside the timed phases\n", "warning",
                    fromPc + toPc - inPhases);
    std::printf("  %-24s %.3f s  (QueryPerformanceCounter, OpenPort .. ClosePort)\n", "total time", totalSec);
    std::printf("  %-24s %s\n", "bytes PC -> unit", Thousands(fromPc).c_str());
    std::printf("  %-24s %s\n", "bytes unit -> PC", Thousands(toPc).c_str());
    std::printf("  %-24s %.3f s  = (PC->unit + unit->PC) x 10 / %d  (half duplex, 8N1)\n", "wire time", wireSec,
                baud);
    std::printf("  %-24s %.4f\n", "total / wire", wireSec > 0 ? totalSec / wireSec : 0.0);
    std::printf("  %-24s %zu\n", "round trips", lat.count);
    std::printf("  %-24s median %.3f  p99 %.3f  max %.3f ms\n", "answer latency", lat.median, lat.p99, lat.max);
    std::printf("  %-24s (the simulator's write of the last byte the unit sent, at the end of its byte\n", "");
    std::printf("  %-24s  time -> its read of the first byte of the answer)\n", "");
    std::printf("  %-24s %.2f s during the update, %.2f s whole process (user + kernel)\n", "CPU", run.cpuAfter - run.cpuBefore,
                cpuProcess);
    std::printf("  %-24s %.1f MiB (PeakWorkingSetSize)\n", "peak memory", peakMB);
    std::printf("\n  %-26s %9s %9s %9s %9s %8s %7s %10s %9s\n", "phase", "time s", "PC->unit", "unit->PC", "wire s",
                "ratio", "trips", "lat med ms", "lat max");
    for (const Phase& p : run.phases)
    {
        const double t = static_cast<double>(p.endUs - p.startUs) / 1e6;
        const double w = static_cast<double>(p.fromPc + p.toPc) * byteSec;
        const Summary s = Summarize(p.latencyMs);
        char ratio[16] = "-";
        if (w > 0)
            std::snprintf(ratio, sizeof ratio, "%.4f", t / w);
        std::printf("  %-26s %9.3f %9lld %9lld %9.3f %8s %7zu %10.3f %9.3f%s\n", p.name, t, p.fromPc, p.toPc, w,
                    ratio, s.count, s.median, s.max, p.ok || p.startUs == 0 ? "" : "  (failed)");
    }

    // ---- JSON ----------------------------------------------------------------
    Json j;
    j.Begin();
    j.String("benchmark", "update");
    j.String("wine", WineVersion());
    j.Int("baud", baud);
    j.Int("com", com);
    j.Int("sim_latency_ms", simLatencyMs);
    j.String("result", verdict);
    j.Bool("image_equal", imageOk);
    j.Bool("program_equal", programOk);
    j.BeginArray("messages");
    for (const std::string& b : boxes)
        j.String(nullptr, b);
    j.EndArray();
    j.Number("total_s", totalSec, 6);
    j.Int("bytes_pc_to_unit", fromPc);
    j.Int("bytes_unit_to_pc", toPc);
    j.Number("wire_s", wireSec, 6);
    j.String("wire_formula", "(bytes_pc_to_unit + bytes_unit_to_pc) * 10 / baud");
    j.Number("total_over_wire", wireSec > 0 ? totalSec / wireSec : 0.0, 6);
    j.String("latency_definition",
             "t(rx) - t(last tx before it) in the wire log: the simulator's write of the last byte the unit sent "
             "to its read of the first byte of the PC's answer");
    j.Stats("answer_latency_ms", lat, 4);
    j.Number("cpu_s_update", run.cpuAfter - run.cpuBefore, 3);
    j.Number("cpu_s_process", cpuProcess, 3);
    j.Number("peak_working_set_mib", peakMB, 2);
    j.BeginArray("phases");
    for (const Phase& p : run.phases)
    {
        j.Begin();
        j.String("name", p.name);
        j.Bool("ok", p.ok);
        j.Number("time_s", static_cast<double>(p.endUs - p.startUs) / 1e6, 6);
        j.Int("bytes_pc_to_unit", p.fromPc);
        j.Int("bytes_unit_to_pc", p.toPc);
        j.Number("wire_s", static_cast<double>(p.fromPc + p.toPc) * byteSec, 6);
        j.Stats("answer_latency_ms", Summarize(p.latencyMs), 4);
        j.End();
    }
    j.EndArray();
    j.End();
    j.Save(json, "qv_bench");
    std::printf("Wire log: %s\n", sim.LogPath().c_str());
    return std::strcmp(verdict, "ok") == 0 ? 0 : 1;
}
