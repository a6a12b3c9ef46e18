// Runs the real qv6100-sim and talks to it over its pty like a PC would.
#pragma once

#include "test_files.hpp"
#include "unit.hpp"
#include "wire_log_reader.hpp"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qvtest {

using std::chrono::milliseconds;

struct CommandResult
{
    int status = -1;  // exit status, or -1 if it did not exit normally
    std::string out;
    std::string err;
};

// Runs qv6100-sim with `args` to completion.
CommandResult runSimulator(const std::vector<std::string>& args, milliseconds limit = milliseconds(10000));

class SimProcess
{
public:
    // Publishes at <dir>/com1 unless `args` choose --prefix, --link or --device.
    // "@DIR@" in an argument stands for the process's temporary directory.
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ready() const { return ready_; }
    const std::string& failure() const { return failure_; }
    const std::string& link() const { return link_; }
    const std::string& ptyPath() const { return ptyPath_; }
    std::string file(const std::string& name) const { return dir_.file(name); }
    const std::string& dir() const { return dir_.path(); }
    pid_t pid() const { return pid_; }

    qvsim::WireLogReader log() const;
    // Waits until some note contains `fragment`.
    bool waitForNote(const std::string& fragment, milliseconds limit = milliseconds(5000)) const;
    bool waitForLog(const std::function<bool(const qvsim::WireLogReader&)>& done,
                    milliseconds limit = milliseconds(5000)) const;

    // Creates the stop file and waits for the exit; returns the exit status (-1 on failure).
    int stop(milliseconds limit = milliseconds(10000));
    // Waits for an exit that something else caused.
    int waitExit(milliseconds limit);
    bool running();

private:
    TempDir dir_;
    std::string link_;
    std::string ptyPath_;
    pid_t pid_ = -1;
    bool ready_ = false;
    bool exited_ = false;
    int status_ = -1;
    std::string failure_;
};

// The PC end of the line.
class Port
{
public:
    // `raw`: put the line in raw mode from this side too, as a PC program would.
    explicit Port(const std::string& path, bool raw = true);
    explicit Port(int fd) : fd_(fd) {}  // takes over an open line
    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close();

    bool send(const qvsim::Bytes& bytes);
    bool send(const std::string& text) { return send(qvsim::Bytes(text.begin(), text.end())); }
    // Up to `count` bytes, or fewer when the time is up.
    qvsim::Bytes receive(std::size_t count, milliseconds limit = milliseconds(5000));
    // Whatever the first read after data arrives returns.
    qvsim::Bytes receiveSome(std::size_t maximum, milliseconds limit = milliseconds(5000));
    // True once the far end has hung up (as after a pulled cable).
    bool waitHangup(milliseconds limit);

private:
    int fd_ = -1;
};

qvsim::Bytes text(const std::string& s);

}  // namespace qvtest
