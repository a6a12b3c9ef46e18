// Wire-log formatting and comparison, the pty and link publishing, without
// running the simulator.
#include "options.hpp"
#include "pc_script.hpp"
#include "pty_port.hpp"
#include "tap.hpp"
#include "test_files.hpp"
#include "unit_driver.hpp"
#include "wire_log.hpp"
#include "wire_log_reader.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace qvtest {
using namespace qvsim;
namespace {

using Clock = std::chrono::steady_clock;

// Reads exactly `count` bytes or until the deadline.
std::vector<std::uint8_t> readFor(int fd, std::size_t count, std::chrono::milliseconds limit)
{
    std::vector<std::uint8_t> data;
    const auto deadline = Clock::now() + limit;
    while (data.size() < count && Clock::now() < deadline)
    {
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0)
        {
            continue;
        }
        std::uint8_t buffer[512];
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - data.size()));
        if (n <= 0)
        {
            break;
        }
        data.insert(data.end(), buffer, buffer + n);
    }
    return data;
}

bool writeAll(int fd, const std::vector<std::uint8_t>& data)
{
    std::size_t done = 0;
    while (done < data.size())
    {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EAGAIN)
        {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        if (n <= 0)
        {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<std::uint8_t> allByteValues()
{
    std::vector<std::uint8_t> bytes(256);
    for (int i = 0; i < 256; ++i)
    {
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    return bytes;
}

TEST(WireLogFormat, HexBytes)
{
    EXPECT_EQ(hexBytes(nullptr, 0), "");
    const std::uint8_t bytes[] = {0x0a, 0xff, 0x11, 0x00, 0xAB};
    EXPECT_EQ(hexBytes(bytes, 1), "0a");
    EXPECT_EQ(hexBytes(bytes, 5), "0a ff 11 00 ab");
    EXPECT_EQ(wireLine(1234567, "tx", bytes, 2), "1234567 tx 0a ff");
}

TEST(WireLogFormat, FileHoldsOneLinePerEvent)
{
    TempDir dir;
    {
        WireLog log;
        ASSERT_TRUE(log.open(dir.file("wire.log")));
        const std::uint8_t rx[] = {0x3b, 0x54};
        const std::uint8_t tx[] = {0xaa};
        log.rx(10, rx, sizeof rx);
        log.note("complete");
        log.tx(25, tx, sizeof tx);
        // Flushed per line: visible before the log is closed.
        EXPECT_EQ(readText(dir.file("wire.log")), "10 rx 3b 54\n# complete\n25 tx aa\n");
    }
    WireLog again;
    ASSERT_TRUE(again.open(dir.file("wire.log")));
    EXPECT_EQ(readText(dir.file("wire.log")), "") << "a new run truncates";
    EXPECT_FALSE(WireLog().open(dir.file("missing/wire.log")));
}

TEST(WireLogFormat, ReaderTakesLinesBackAndFlagsMalformedOnes)
{
    const WireLogReader log("10 rx 3b 54\n# complete\n25 tx aa\n7 rx 3B\n8 rx 0a \n9 xx 0a\nrx 0a\n");
    ASSERT_EQ(log.entries.size(), 7u);
    EXPECT_EQ(log.fromPc(), ";T");
    EXPECT_EQ(log.toPc(), "\xaa");
    EXPECT_EQ(log.notes(), std::vector<std::string>{"complete"});
    EXPECT_EQ(log.timeOfByte("rx", 1), 10);
    EXPECT_EQ(log.timeOfByte("tx", 1), -1);
    for (std::size_t i = 3; i < log.entries.size(); ++i)
    {
        EXPECT_FALSE(log.entries[i].wellFormed) << log.entries[i].text;
    }
}

class PtyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        auto port = openPty(error);
        ASSERT_TRUE(port) << error;
        port_ = *port;
    }
    void TearDown() override { closePty(port_); }

    // Opens the slave the way a PC program would, without touching its settings.
    int openAsPc() const { return ::open(port_.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }

    PtyPort port_;
};

// A unit made by the simulator's options, 3 ms slow, takes a whole update
// from a PC that waits 10 ms after each message; its wire log, compared with
// a sound unit, names the answer it spoilt and how.
TEST(WireLogComparison, NamesTheFirstAnswerThatDiffers)
{
    const auto script = fullUpdate(makeProgram(12, 3), patternBytes(kFlashSize, 5));
    const struct
    {
        const char* unit;
        int status;
        const char* says;
    } cases[] = {
        {"", 0, "no difference; complete"},
        {"--fault wrong --at ready --index 3", 1, "(ready 3): the unit sent 15, the simulator 11; reached open 3"},
        {"--fault silence --at echo --index 9", 1, "(echo 9): the unit sent nothing, the simulator "},
        {"--fault extra --at chunk --index 5 --after", 1, "(chunk 5): the unit sent 11 11, the simulator 11"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.unit);
        std::vector<std::string> args = {"--s1", "auto", "--latency", "3"};
        std::istringstream words(c.unit);
        for (std::string word; words >> word;)
        {
            args.push_back(word);
        }
        UnitDriver driver(parseOptions(args).options->unit);
        std::string log;
        Nanos at = ms(1000);
        for (const Exchange& exchange : script)
        {
            log += wireLine(at / 1000, "rx", exchange.send.data(), exchange.send.size()) + "\n";
            driver.feed(exchange.send, at);
            at += ms(10);
        }
        driver.drain();
        for (const Write& write : driver.writes())
        {
            log += wireLine(write.at / 1000, "tx", write.bytes.data(), write.bytes.size()) + "\n";
        }
        std::ostringstream report;
        EXPECT_EQ(compareLog(log, {}, report), c.status);
        EXPECT_NE(report.str().find(c.says), std::string::npos) << report.str();
    }
}

TEST_F(PtyTest, EveryByteValuePassesUntranslatedBothWays)
{
    const int pc = openAsPc();
    ASSERT_GE(pc, 0);
    const auto all = allByteValues();

    ASSERT_TRUE(writeAll(port_.master, all));
    EXPECT_EQ(readFor(pc, all.size(), std::chrono::seconds(5)), all);

    ASSERT_TRUE(writeAll(pc, all));
    EXPECT_EQ(readFor(port_.master, all.size(), std::chrono::seconds(5)), all);
    // No echo of what the master wrote came back to it either.
    pollfd p{port_.master, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    ::close(pc);
}

TEST(Publishing, LinkReplacesLinksAndEmptyDirectoriesOnly)
{
    TempDir dir;
    std::string error;
    const std::string link = dir.file("com1");

    ASSERT_TRUE(publishLink(link, "/dev/pts/999", error)) << error;
    EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/pts/999");

    ASSERT_TRUE(publishLink(link, "/dev/pts/998", error)) << error;
    EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/pts/998");

    const std::string emptyDir = dir.file("com2");
    ASSERT_EQ(::mkdir(emptyDir.c_str(), 0755), 0);
    ASSERT_TRUE(publishLink(emptyDir, "/dev/pts/997", error)) << error;
    EXPECT_EQ(std::filesystem::read_symlink(emptyDir), "/dev/pts/997");

    const std::string fullDir = dir.file("com3");
    ASSERT_EQ(::mkdir(fullDir.c_str(), 0755), 0);
    std::ofstream(fullDir + "/keep") << "data";
    EXPECT_FALSE(publishLink(fullDir, "/dev/pts/996", error));
    EXPECT_TRUE(std::filesystem::exists(fullDir + "/keep"));

    const std::string file = dir.file("com4");
    std::ofstream(file) << "data";
    EXPECT_FALSE(publishLink(file, "/dev/pts/995", error));
    EXPECT_NE(error.find("neither"), std::string::npos);
    EXPECT_EQ(readText(file), "data");
}

TEST(Publishing, RetractTouchesOnlyOurOwnLink)
{
    TempDir dir;
    std::string error;
    const std::string link = dir.file("com1");

    ASSERT_TRUE(publishLink(link, "/dev/pts/42", error));
    retractLink(link, "/dev/pts/42", "");
    EXPECT_FALSE(std::filesystem::is_symlink(link));

    ASSERT_TRUE(publishLink(link, "/dev/pts/42", error));
    retractLink(link, "/dev/pts/42", kStoppedTarget);
    EXPECT_EQ(std::filesystem::read_symlink(link), kStoppedTarget);

    ASSERT_TRUE(publishLink(link, "/dev/pts/43", error));
    retractLink(link, "/dev/pts/42", "");
    EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/pts/43") << "another simulator's link stays";
}

TEST(Publishing, ComLinkPathInsideThePrefix)
{
    TempDir dir;
    std::string error;
    const auto path = comLinkPath(dir.path(), 7, error);
    ASSERT_TRUE(path) << error;
    EXPECT_EQ(*path, dir.path() + "/dosdevices/com7");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/dosdevices"));
    EXPECT_TRUE(comLinkPath(dir.path(), 7, error)) << "an existing dosdevices is fine";
    EXPECT_FALSE(comLinkPath(dir.file("no-such-prefix"), 1, error));
}

TEST(Publishing, AtomicFileWrite)
{
    TempDir dir;
    std::string error;
    const std::vector<std::uint8_t> data{0x00, 0xFF, 0x0D, 0x0A};
    ASSERT_TRUE(writeFileAtomic(dir.file("image.bin"), data.data(), data.size(), error)) << error;
    EXPECT_EQ(readBinary(dir.file("image.bin")), data);
    ASSERT_TRUE(writeFileAtomic(dir.file("image.bin"), std::string("xy"), error));
    EXPECT_EQ(readText(dir.file("image.bin")), "xy");
    EXPECT_FALSE(std::filesystem::exists(dir.file("image.bin.tmp")));
    EXPECT_FALSE(writeFileAtomic(dir.file("missing/image.bin"), std::string("xy"), error));
}

}  // namespace
}  // namespace qvtest
