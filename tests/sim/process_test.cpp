// The real qv6100-sim process on its pty, driven like the PC drives the unit.
#include "pc_script.hpp"
#include "pty_port.hpp"
#include "sim_process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <termios.h>
#include <utility>

namespace qvtest {
using namespace qvsim;
namespace {

namespace fs = std::filesystem;

#define ASSERT_READY(sim) ASSERT_TRUE((sim).ready()) << (sim).failure()

using Args = std::vector<std::string>;

// Alignment and confirmation on a unit already in writing mode.
void align(Port& port)
{
    ASSERT_TRUE(port.send(Bytes(10, 0x00)));
    ASSERT_EQ(port.receive(1), Bytes{0x00});
    ASSERT_TRUE(port.send(Bytes{0x55}));
    ASSERT_EQ(port.receive(1), Bytes{0xAA});
}

// Sends each exchange and checks the unit's answer to it.
void converse(Port& port, const std::vector<Exchange>& script)
{
    for (std::size_t i = 0; i < script.size(); ++i)
    {
        ASSERT_TRUE(port.send(script[i].send)) << "exchange " << i;
        if (!script[i].answer.empty())
        {
            ASSERT_EQ(port.receive(script[i].answer.size()), script[i].answer) << "exchange " << i;
        }
    }
}

// Aligns, loads a tiny program and leaves the unit ready for block 0.
void toBlocks(Port& port)
{
    converse(port, preludeExchanges(makeProgram(2, 99)));
}

// Block 0's exchanges up to (not including) its checksum.
std::vector<Exchange> blockZeroBody(const Bytes& image)
{
    auto script = blockExchanges(image);
    script.resize(3 + 2 * 32);
    return script;
}

TEST(SimProcessNormal, IdentificationQueryAndWireLog)
{
    SimProcess sim(Args{});
    ASSERT_READY(sim);
    EXPECT_EQ(fs::read_symlink(sim.link()), sim.ptyPath());
    EXPECT_EQ(sim.ptyPath().rfind("/dev/pts/", 0), 0u);
    Port port(sim.link());
    ASSERT_TRUE(port.isOpen());
    ASSERT_TRUE(port.send(";;;TY;"));
    EXPECT_EQ(port.receive(6), text("TY210;"));
    ASSERT_EQ(sim.stop(), 0);

    const auto log = sim.log();
    for (const auto& entry : log.entries)
    {
        EXPECT_TRUE(entry.wellFormed) << entry.text;
    }
    EXPECT_EQ(log.bytes("rx"), ";;;TY;");
    EXPECT_EQ(log.bytes("tx"), "TY210;");
    const auto rx = log.of("rx");
    const auto tx = log.of("tx");
    ASSERT_EQ(tx.size(), 1u);
    EXPECT_GE(tx[0].tUs, rx.back().tUs) << "the reply follows the query";
    EXPECT_TRUE(log.hasNote("stopping: stop file"));
    ASSERT_FALSE(log.entries.empty());
    EXPECT_EQ(log.entries.back().text, "stopped") << "the last line says the run is over";
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link()))) << "link removed on exit";
}

TEST(SimProcessNormal, SplitReplyArrivesInTwoPieces)
{
    SimProcess sim(Args{"--split", "2", "--split-gap", "300"});
    ASSERT_READY(sim);
    Port port(sim.link());
    ASSERT_TRUE(port.send(";;;TY;"));
    EXPECT_EQ(port.receiveSome(16), text("TY"));
    EXPECT_EQ(port.receive(4), text("210;"));
    ASSERT_EQ(sim.stop(), 0);
    const auto tx = sim.log().of("tx");
    ASSERT_EQ(tx.size(), 2u);
    EXPECT_EQ(tx[0].bytes, "TY");
    EXPECT_EQ(tx[1].bytes, "210;");
}

TEST(SimProcessNormal, PortMayBeClosedAndReopened)
{
    SimProcess sim(Args{});
    ASSERT_READY(sim);
    for (int round = 0; round < 3; ++round)
    {
        Port port(sim.link());
        ASSERT_TRUE(port.isOpen());
        ASSERT_TRUE(port.send(";;;TY;"));
        EXPECT_EQ(port.receive(6), text("TY210;")) << "round " << round;
    }
    EXPECT_TRUE(sim.running());
    ASSERT_EQ(sim.stop(), 0);
    EXPECT_FALSE(sim.log().hasNote("error")) << "the master saw no hang-up between the PC's opens";
}

TEST(SimProcessWriting, PartialImageAfterEachAcknowledgedBlock)
{
    SimProcess sim(Args{"--mode", "writing", "--image-out", "@DIR@/image.bin"});
    ASSERT_READY(sim);
    Port port(sim.link());
    toBlocks(port);
    const Bytes image = patternBytes(kFlashSize, 41);
    auto script = blockExchanges(image);
    script.resize(2 * (4 + 2 * 32));  // blocks 0 and 1
    converse(port, script);
    // The image is on disk before the acknowledgement leaves.
    const Bytes saved = readBinary(sim.file("image.bin"));
    ASSERT_EQ(saved.size(), kFlashSize);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x2000, saved.begin()));
    EXPECT_TRUE(std::all_of(saved.begin() + 0x2000, saved.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(SimProcessFaults, UnplugHangsUpAndUnpublishes)
{
    SimProcess sim(Args{"--mode", "writing", "--fault", "unplug", "--at", "confirm"});
    ASSERT_READY(sim);
    Port port(sim.link());
    ASSERT_TRUE(port.send(Bytes(10, 0x00)));
    EXPECT_EQ(port.receive(1), Bytes{0x00});
    ASSERT_TRUE(port.send(Bytes{0x55}));
    EXPECT_TRUE(port.waitHangup(milliseconds(5000)));
    EXPECT_TRUE(sim.waitForNote("unplugged"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link())));
    EXPECT_TRUE(sim.running()) << "keeps running until stopped";
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_EQ(sim.log().bytes("tx"), std::string(1, '\0'));
}

TEST(SimProcessFaults, FloodIsReadable)
{
    SimProcess sim(Args{"--fault", "flood", "--at", "ty"});
    ASSERT_READY(sim);
    Port port(sim.link());
    ASSERT_TRUE(port.send(";;;TY;"));
    EXPECT_EQ(port.receive(5000), Bytes(5000, 0x41));
    EXPECT_TRUE(sim.waitForNote("flood: sent 5000 of 5000 bytes"));
    ASSERT_TRUE(port.send(";;;TY;"));
    ASSERT_TRUE(sim.waitForLog([](const WireLogReader& log) { return log.bytes("rx").size() == 12; }));
    ASSERT_EQ(sim.stop(), 0);
    EXPECT_EQ(sim.log().bytes("tx"), std::string(5000, 'A')) << "silent after the flood";
}

TEST(SimProcessFaults, FloodNobodyReadsDoesNotDeadlock)
{
    SimProcess sim(Args{"--fault", "flood", "--at", "ty", "--flood-bytes", "2000000"});
    ASSERT_READY(sim);
    Port port(sim.link());
    ASSERT_TRUE(port.send(";;;TY;"));
    ASSERT_TRUE(sim.waitForNote("flood: sent", milliseconds(10000)));
    const auto notes = sim.log().notes();
    const auto note =
        std::find_if(notes.begin(), notes.end(), [](const std::string& n) { return n.rfind("flood: sent", 0) == 0; });
    ASSERT_NE(note, notes.end());
    const long sent = std::stol(note->substr(std::string("flood: sent ").size()));
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, 2000000);
    EXPECT_EQ(static_cast<long>(sim.log().bytes("tx").size()), sent);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimProcessPacing, HighBaudIsRoughlyHonoured)
{
    constexpr double kByteUs = 10.0 * 1e6 / 57600;
    SimProcess sim(Args{"--mode", "writing", "--baud", "57600"});
    ASSERT_READY(sim);
    Port port(sim.link());
    // Everything in one go: the unit takes the bytes one byte time apart and echoes each.
    Bytes stream(10, 0x00);
    stream.push_back(0x55);
    const Bytes program = makeProgram(198, 6);
    stream.insert(stream.end(), program.begin(), program.end());
    ASSERT_TRUE(port.send(stream));
    Bytes expected{0x00, 0xAA};
    expected.insert(expected.end(), program.begin(), program.end());
    expected.push_back(0xAA);
    EXPECT_EQ(port.receive(expected.size()), expected);
    ASSERT_EQ(sim.stop(), 0);

    const auto tx = sim.log().of("tx");
    ASSERT_EQ(tx.size(), expected.size()) << "one write per byte";
    const double span = static_cast<double>(tx.back().tUs - tx.front().tUs);
    const double nominal = kByteUs * static_cast<double>(expected.size() - 1);
    EXPECT_GT(span, 0.5 * nominal);
    EXPECT_LT(span, 5e6);
}

TEST(SimProcessLifetime, ReadyFileHoldsThePtyPath)
{
    SimProcess sim(Args{});
    ASSERT_READY(sim);
    EXPECT_EQ(readText(sim.file("ready")), sim.ptyPath());
    EXPECT_FALSE(fs::exists(sim.file("ready.tmp")));
    struct stat info = {};
    ASSERT_EQ(::stat(sim.ptyPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(SimProcessLifetime, PrefixPublishingAndStoppedLink)
{
    TempDir prefix;
    const std::string com = prefix.file("dosdevices/com5");
    fs::create_directories(com);  // an empty directory is taken over
    {
        SimProcess sim(Args{"--prefix", prefix.path(), "--com", "5"});
        ASSERT_READY(sim);
        EXPECT_EQ(fs::read_symlink(com), sim.ptyPath());
        Port port(com);
        ASSERT_TRUE(port.send(";;;TY;"));
        EXPECT_EQ(port.receive(6), text("TY210;"));
        ASSERT_EQ(sim.stop(), 0);
    }
    EXPECT_EQ(fs::read_symlink(com), "/nonexistent/qv6100-sim-stopped");
    // A later run takes the registered-but-absent link over again.
    SimProcess again(Args{"--prefix", prefix.path(), "--com", "5"});
    ASSERT_READY(again);
    EXPECT_EQ(fs::read_symlink(com), again.ptyPath());
}

TEST(SimProcessLifetime, SignalsAndLifetimeEndCleanly)
{
    for (int number : {SIGTERM, SIGINT})
    {
        SimProcess sim(Args{});
        ASSERT_READY(sim);
        ASSERT_EQ(::kill(sim.pid(), number), 0);
        EXPECT_EQ(sim.waitExit(milliseconds(10000)), 0);
        EXPECT_TRUE(sim.log().hasNote("stopping: signal"));
        EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link())));
    }
    SimProcess brief(Args{"--lifetime", "0.3"});
    ASSERT_READY(brief);
    EXPECT_EQ(brief.waitExit(milliseconds(10000)), 0);
    EXPECT_TRUE(brief.log().hasNote("stopping: lifetime over"));
}

TEST(SimProcessLifetime, StopFileEndsTheRunAndKeepsFiles)
{
    SimProcess sim(Args{"--mode", "writing", "--image-out", "@DIR@/image.bin"});
    ASSERT_READY(sim);
    Port port(sim.link());
    toBlocks(port);
    const Bytes image = patternBytes(kFlashSize, 45);
    auto script = blockZeroBody(image);
    script.resize(4);
    converse(port, script);
    ASSERT_EQ(sim.stop(), 0);
    // The block was never acknowledged, but the image at exit shows what arrived.
    const Bytes saved = readBinary(sim.file("image.bin"));
    ASSERT_EQ(saved.size(), kFlashSize);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + kChunkSize, saved.begin()));
    EXPECT_EQ(saved[kChunkSize], 0xFF);
}

// Starts a program that has `path` open without a lock, as a terminal program
// or ModemManager has it. posix_spawn returns once the program runs.
pid_t holdOpen(const std::string& path)
{
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 3, path.c_str(), O_RDWR | O_NOCTTY, 0);
    char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("60"), nullptr};
    pid_t pid = -1;
    ::posix_spawn(&pid, "/bin/sleep", &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The far end of a pseudo-terminal pair stands for a serial port, the test
// for the PC at the other end of the cable.
TEST(SimProcessDevice, PlaysTheUnitOnASerialPortNobodyElseHasOpen)
{
    std::string error;
    auto line = openPty(error);
    ASSERT_TRUE(line) << error;
    // The far end is the simulator's alone.
    ::close(std::exchange(line->slave, -1));
    {
        // Another program has it open, without a lock: it is named.
        const pid_t holder = holdOpen(line->path);
        const std::string named = line->path + " is busy: sleep (process " + std::to_string(holder) + ")";
        const CommandResult refused = runSimulator({"--device", line->path});
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.err.find(named), std::string::npos) << refused.err;
        EXPECT_NE(refused.err.find("sudo systemctl stop ModemManager"), std::string::npos) << refused.err;
    }
    {
        SimProcess sim(Args{"--device", line->path, "--s1", "auto", "--image-out", "@DIR@/image.bin"});
        ASSERT_READY(sim);
        EXPECT_EQ(sim.ptyPath(), line->path);
        termios settings{};
        ASSERT_EQ(::tcgetattr(line->master, &settings), 0);
        EXPECT_EQ(::cfgetispeed(&settings), static_cast<speed_t>(B9600));
        EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
        Port pc(std::exchange(line->master, -1));
        ASSERT_TRUE(pc.send(";;;TY;"));
        EXPECT_EQ(pc.receive(6), text("TY210;"));
        align(pc);

        // What is not a serial device, and a port another program holds, are refused.
        const std::string held = line->path + " is busy: qv6100-sim (process " + std::to_string(sim.pid()) + ")";
        for (const auto& [path, why] : {std::pair{sim.file("ready"), sim.file("ready") + " is not a serial device"},
                                        std::pair{std::string("/dev/null"), std::string("/dev/null is not a serial device")},
                                        std::pair{line->path, held}})
        {
            const CommandResult refused = runSimulator({"--device", path});
            EXPECT_EQ(refused.status, 1) << path;
            EXPECT_NE(refused.err.find(why), std::string::npos) << refused.err;
        }
        ASSERT_EQ(sim.stop(), 0);
        EXPECT_EQ(sim.log().bytes("rx"), std::string(";;;TY;") + std::string(10, '\0') + "\x55");
    }
    closePty(*line);
}

TEST(SimProcessCommandLine, HelpAndBadValues)
{
    const CommandResult help = runSimulator({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--fault KIND"), std::string::npos);

    const CommandResult bad = runSimulator({"--baud", "fast"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--baud"), std::string::npos);

    const CommandResult unknown = runSimulator({"--colour"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("--colour"), std::string::npos);
}

TEST(SimProcessCommandLine, RefusesToReplaceAFile)
{
    TempDir dir;
    const std::string path = dir.file("com1");
    std::ofstream(path) << "keep";
    const CommandResult result = runSimulator({"--link", path, "--lifetime", "5"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(path), std::string::npos);
    EXPECT_EQ(readText(path), "keep");
}

}  // namespace
}  // namespace qvtest
