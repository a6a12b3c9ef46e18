#include "BenchSupport.h"

#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <io.h>
#include <sstream>

namespace qvbench
{

int64_t NowUs()
{
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return static_cast<int64_t>(static_cast<double>(c.QuadPart) * 1e6 / static_cast<double>(f.QuadPart));
}

std::string Env(const char* name, const std::string& fallback)
{
    char buf[1024];
    const DWORD n = ::GetEnvironmentVariableA(name, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf)
        return fallback;
    return std::string(buf, n);
}

std::string WinPath(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    std::string p = "Z:" + path;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

std::string BenchDir()
{
    std::string dir = Env("QV_BENCH_DIR");
    if (dir.empty())
    {
        const std::string build = Env("QV_BUILD_DIR");
        dir = build.empty() ? "/tmp/qv-bench" : build + "/bench";
    }
    ::CreateDirectoryA(WinPath(dir).c_str(), nullptr);
    return dir;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(WinPath(path), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(WinPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void BinaryStdout()
{
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

// ---------------------------------------------------------------------------

Sim::Sim(int com, const std::string& dir) : m_com(com), m_dir(dir)
{
    ::CreateDirectoryA(WinPath(m_dir).c_str(), nullptr);
}

Sim::~Sim()
{
    Stop();
}

bool Sim::Start(const std::string& options, int lifetimeSec, std::string& error)
{
    Stop();
    const std::string exe = Env("QV_SIM", QV_BENCH_DEFAULT_SIM);
    const std::string prefix = Env("WINEPREFIX");
    if (prefix.empty())
    {
        error = "WINEPREFIX is not set (run through bench/run.sh or scripts/wine-run.sh)";
        return false;
    }
    const std::string ready = m_dir + "/ready";
    const std::string stop = m_dir + "/stop";
    for (const std::string& f : {ready, stop, LogPath(), ImagePath(), ProgramPath()})
        ::DeleteFileA(WinPath(f).c_str());

    // Through a shell that detaches the simulator's output from ours.
    const std::string cmd = "/bin/sh -c \"exec " + exe + " --prefix " + prefix + " --com " + std::to_string(m_com) +
                            " --log " + LogPath() + " --ready " + ready + " --stop-file " + stop + " --image-out " +
                            ImagePath() + " --program-out " + ProgramPath() + " --lifetime " +
                            std::to_string(lifetimeSec) + " " + options + " </dev/null >" + m_dir +
                            "/sim.out 2>&1\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    {
        error = "cannot start the simulator (error " + std::to_string(::GetLastError()) + "): " + cmd;
        return false;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    m_running = true;
    const int64_t deadline = NowUs() + 10000000;
    while (NowUs() < deadline)
    {
        if (FileExists(ready))
            return true;
        ::Sleep(5);
    }
    error = "the simulator did not publish " + PortName() + " within 10 s (see " + m_dir + "/sim.out)";
    Stop();
    return false;
}

bool Sim::LogEndsStopped() const
{
    HANDLE h = ::CreateFileA(WinPath(LogPath()).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char tail[256] = {};
    LARGE_INTEGER size = {};
    ::GetFileSizeEx(h, &size);
    LARGE_INTEGER at;
    at.QuadPart = size.QuadPart > 255 ? size.QuadPart - 255 : 0;
    ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    DWORD got = 0;
    ::ReadFile(h, tail, sizeof tail - 1, &got, nullptr);
    ::CloseHandle(h);
    return std::string(tail, got).find("# stopped") != std::string::npos;
}

bool Sim::Stop()
{
    if (!m_running)
        return true;
    m_running = false;
    HANDLE h = ::CreateFileA(WinPath(m_dir + "/stop").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
    // Wine gives no waitable handle for a Unix process: its last log line
    // says it is done.
    const int64_t deadline = NowUs() + 10000000;
    while (NowUs() < deadline)
    {
        if (LogEndsStopped())
            return true;
        ::Sleep(10);
    }
    return false;
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

bool Json::Save(const std::string& path) const
{
    std::ofstream out(WinPath(path), std::ios::binary);
    out << m_text;
    return static_cast<bool>(out);
}

}  // namespace qvbench
