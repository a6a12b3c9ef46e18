// Shared by the benchmark programs: the clock, paths between Unix and Wine,
// the simulated unit as a process, process figures, statistics and a tiny
// JSON writer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qvbench
{

// Microseconds of QueryPerformanceCounter. Under Wine it counts
// CLOCK_MONOTONIC_RAW, the clock the simulator stamps its wire log with.
int64_t NowUs();

std::string Env(const char* name, const std::string& fallback = std::string());

// A Unix path as Wine's Z: drive sees it; Windows paths pass unchanged.
std::string WinPath(const std::string& path);

// Folder for the benchmark's files (Unix path): QV_BENCH_DIR, else
// $QV_BUILD_DIR/bench; created if missing.
std::string BenchDir();

std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);

// Console output without "\r\n" translation (the output reaches a Unix
// terminal or pipe).
void BinaryStdout();

// ---------------------------------------------------------------------------
// The simulated QV-6100 (a native Linux program started through /bin/sh).

class Sim
{
public:
    Sim(int com, const std::string& dir);
    ~Sim();
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    // Returns once the port is published; on failure `error` says why.
    bool Start(const std::string& options, int lifetimeSec, std::string& error);
    // Asks it to stop and waits for its "# stopped" note (its files are then
    // complete). False if it did not stop within 10 s.
    bool Stop();

    std::string LogPath() const { return m_dir + "/wire.log"; }
    std::string ImagePath() const { return m_dir + "/image.bin"; }
    std::string ProgramPath() const { return m_dir + "/program.bin"; }
    std::string PortName() const { return "COM" + std::to_string(m_com); }

private:
    bool LogEndsStopped() const;

    int m_com;
    std::string m_dir;
    bool m_running = false;
};

// ---------------------------------------------------------------------------
// This process

double CpuSeconds();          // user + kernel, GetProcessTimes
double PeakWorkingSetMB();    // GetProcessMemoryInfo PeakWorkingSetSize, MiB

// ---------------------------------------------------------------------------
// Statistics

struct Summary
{
    size_t count = 0;
    double median = 0, p99 = 0, min = 0, max = 0, mean = 0;
};
// Nearest-rank percentiles; the median of an even count is the mean of the
// middle two.
Summary Summarize(std::vector<double> values);

// ---------------------------------------------------------------------------
// JSON: objects and arrays written in order, commas handled.

class Json
{
public:
    void Begin(const char* key = nullptr);       // {
    void End();                                  // }
    void BeginArray(const char* key = nullptr);  // [
    void EndArray();                             // ]
    void Number(const char* key, double value, int decimals);
    void Int(const char* key, long long value);
    void String(const char* key, const std::string& value);
    void Bool(const char* key, bool value);
    // {"count", "median", "p99", "min", "max", "mean"}
    void Stats(const char* key, const Summary& s, int decimals);
    const std::string& Text() const { return m_text; }
    bool Save(const std::string& path) const;

private:
    void Key(const char* key);
    std::string m_text;
    std::vector<bool> m_first;  // per open level: nothing written in it yet
};

}  // namespace qvbench
