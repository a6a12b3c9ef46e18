// The pseudo-terminal the unit sits on and the symlink that publishes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvsim {

constexpr const char* kStoppedTarget = "/nonexistent/qv6100-sim-stopped";

// The line the unit sits on: a pty, or a serial port (then `master` is the
// port and there is no slave).
struct PtyPort
{
    int master = -1;  // non-blocking
    int slave = -1;   // held open so the PC side may close and reopen freely
    std::string path;
};

// Opens a pty with a raw slave side (no echo, no CR/NL or XON/XOFF handling).
std::optional<PtyPort> openPty(std::string& error);
// Opens the serial port at `path` as `master` (no slave): raw 9600 baud 8N1,
// no flow control, held exclusively. Fails for a path that is not a serial
// device, that another program has open (naming it) or that another program
// holds locked; the messages name the port as "<option> <path>". `warning`,
// if given, receives a word about a program that may open the port but whose
// open files this user cannot see.
std::optional<PtyPort> openSerialDevice(const std::string& option, const std::string& path, std::string& error,
                                        std::string* warning = nullptr);
void closePty(PtyPort& port);

// Puts the termios of `fd` in raw 8N1 mode.
bool makeRaw(int fd, std::string& error);

// <prefix>/dosdevices/com<N>; <prefix> must exist, <prefix>/dosdevices is created if missing.
std::optional<std::string> comLinkPath(const std::string& prefix, int com, std::string& error);

// Atomically makes `path` a symlink to `target`, replacing an existing symlink or
// empty directory there; refuses anything else.
bool publishLink(const std::string& path, const std::string& target, std::string& error);

// If `path` still points at `ours`: removes it, or with a non-empty
// `replacement` atomically points it there instead.
void retractLink(const std::string& path, const std::string& ours, const std::string& replacement);

// Writes `path` via `path`.tmp and rename, so readers see all or nothing.
bool writeFileAtomic(const std::string& path, const std::uint8_t* data, std::size_t size, std::string& error);
bool writeFileAtomic(const std::string& path, const std::string& text, std::string& error);

}  // namespace qvsim
