// Shared by the benchmark programs: their options, their folder, process
// figures, statistics and a tiny JSON writer. The clock, paths, files and the
// simulated unit come from the Wine-side support library.
#pragma once

#include "wine/WineSide.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace qvtest
{

// One command-line option taking a value: a whole number within
// [low, high] when `number` is set, else any text.
struct Option
{
    const char* name;
    int* number;
    int low, high;
    std::string* text;
};
// False, with `usage` printed, on anything but these options.
bool ParseOptions(int argc, char** argv, std::initializer_list<Option> options, const char* usage);

// Folder for the benchmark's files (Unix path): QV_BENCH_DIR, else
// $QV_BUILD_DIR/bench; created if missing.
std::string BenchDir();

// Console output without "\r\n" translation (the output reaches a Unix
// terminal or pipe).
void BinaryStdout();

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
    // Writes the text to path and says where, or that `program` could not.
    bool Save(const std::string& path, const char* program) const;

private:
    void Key(const char* key);
    std::string m_text;
    std::vector<bool> m_first;  // per open level: nothing written in it yet
};

}  // namespace qvtest
