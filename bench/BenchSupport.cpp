#include "BenchSupport.h"

#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <io.h>

using namespace qvtest;

namespace qvtest
{

bool ParseOptions(int argc, char** argv, std::initializer_list<Option> options, const char* usage)
{
    int i = 1;
    for (; i + 1 < argc; i += 2)
    {
        const Option* o = nullptr;
        for (const Option& candidate : options)
            if (std::strcmp(argv[i], candidate.name) == 0)
                o = &candidate;
        if (!o)
            break;
        const char* value = argv[i + 1];
        if (!o->number)
        {
            *o->text = value;
            continue;
        }
        char* end = nullptr;
        const long v = std::strtol(value, &end, 10);
        if (end == value || *end != '\0' || v < o->low || v > o->high)
            break;
        *o->number = static_cast<int>(v);
    }
    if (i >= argc)
        return true;
    std::fprintf(stderr, "%s", usage);
    return false;
}

std::string BenchDir()
{
    std::string dir = Env("QV_BENCH_DIR");
    if (dir.empty())
    {
        const std::string build = Env("QV_BUILD_DIR");
        dir = build.empty() ? "/tmp/qv-bench" : build + "/bench";
    }
    MakeDir(dir);
    return dir;
}

void BinaryStdout()
{
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

// ---------------------------------------------------------------------------

double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto ticks = [](const FILETIME& f) {
        return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e7;
}

double PeakWorkingSetMB()
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc))
        return 0;
    return static_cast<double>(pmc.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

// ---------------------------------------------------------------------------

Summary Summarize(std::vector<double> values)
{
    Summary s;
    s.count = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    s.min = values.front();
    s.max = values.back();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    s.p99 = values[static_cast<size_t>(std::ceil(0.99 * static_cast<double>(n))) - 1];
    double sum = 0;
    for (double v : values)
        sum += v;
    s.mean = sum / static_cast<double>(n);
    return s;
}

// ---------------------------------------------------------------------------

void Json::Key(const char* key)
{
    if (!m_first.empty())
    {
        if (!m_first.back())
            m_text += ",";
        m_first.back() = false;
        m_text += "\n" + std::string(2 * m_first.size(), ' ');
    }
    if (key)
        m_text += "\"" + std::string(key) + "\": ";
}

void Json::Begin(const char* key)
{
    Key(key);
    m_text += "{";
    m_first.push_back(true);
}

void Json::End()
{
    m_first.pop_back();
    m_text += "\n" + std::string(2 * m_first.size(), ' ') + "}";
    if (m_first.empty())
        m_text += "\n";
}

void Json::BeginArray(const char* key)
{
    Key(key);
    m_text += "[";
    m_first.push_back(true);
}

void Json::EndArray()
{
    m_first.pop_back();
    m_text += "\n" + std::string(2 * m_first.size(), ' ') + "]";
}

void Json::Number(const char* key, double value, int decimals)
{
    Key(key);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    m_text += buf;
}

void Json::Int(const char* key, long long value)
{
    Key(key);
    m_text += std::to_string(value);
}

void Json::String(const char* key, const std::string& value)
{
    Key(key);
    m_text += "\"";
    for (char c : value)
    {
        if (c == '"' || c == '\\')
        {
            m_text += '\\';
            m_text += c;
        }
        else if (static_cast<unsigned char>(c) < 0x20)
        {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
            m_text += buf;
        }
        else
        {
            m_text += c;
        }
    }
    m_text += "\"";
}

void Json::Bool(const char* key, bool value)
{
    Key(key);
    m_text += value ? "true" : "false";
}

void Json::Stats(const char* key, const Summary& s, int decimals)
{
    Begin(key);
    Int("count", static_cast<long long>(s.count));
    Number("median", s.median, decimals);
    Number("p99", s.p99, decimals);
    Number("min", s.min, decimals);
    Number("max", s.max, decimals);
    Number("mean", s.mean, decimals);
    End();
}

bool Json::Save(const std::string& path, const char* program) const
{
    std::ofstream out(WinPath(path), std::ios::binary);
    out << m_text;
    out.close();
    if (!out)
    {
        std::fprintf(stderr, "%s: cannot write %s\n", program, path.c_str());
        return false;
    }
    std::printf("\nJSON: %s\n", path.c_str());
    return true;
}

}  // namespace qvtest
