// Command-line parsing of qv6100-sim.
#include "options.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

namespace qvsim {
namespace {

std::vector<std::string> words(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

Options parsed(const std::vector<std::string>& args)
{
    const ParseResult result = parseOptions(args);
    EXPECT_TRUE(result.options.has_value()) << result.error;
    return result.options.value_or(Options{});
}

std::string errorOf(const std::vector<std::string>& args)
{
    const ParseResult result = parseOptions(args);
    EXPECT_FALSE(result.options.has_value()) << "accepted";
    return result.error;
}

TEST(Options, Defaults)
{
    const Options options = parsed({});
    EXPECT_FALSE(options.unit.startInWriting);
    EXPECT_FALSE(options.unit.s1Auto);
    EXPECT_EQ(options.unit.fifth, '0');
    EXPECT_EQ(options.unit.questionGap, 50 * kNanosPerMs);
    EXPECT_EQ(options.unit.splitGap, 30 * kNanosPerMs);
    EXPECT_EQ(options.unit.split, 0u);
    EXPECT_EQ(options.unit.silentBursts, 0u);
    EXPECT_EQ(options.unit.erase, 0);
    EXPECT_EQ(options.unit.baud, 0u);
    EXPECT_EQ(options.unit.latency, 0);
    EXPECT_EQ(options.unit.fault.kind, FaultKind::None);
    EXPECT_EQ(options.unit.fault.wrongByte, 0x15);
    EXPECT_EQ(options.unit.fault.floodBytes, 5000u);
    EXPECT_DOUBLE_EQ(options.lifetimeSeconds, 600.0);
}

TEST(Options, EveryValueReachesItsField)
{
    const Options options = parsed(words("--mode writing --s1 auto --fifth 7 --empty-error --silent --question-first "
                                         "--question-gap 70 --split 4 --split-gap=45 --delay 12 --silent-bursts 3 "
                                         "--erase-ms 250 --baud 9600 --latency 16 --fault flood --at chunk "
                                         "--index 2047 "
                                         "--fault-byte 0xA5 --flood-bytes 123 --fault-ms 9 --link /tmp/x "
                                         "--ready /tmp/r --stop-file /tmp/s --log /tmp/l --program-out /tmp/p "
                                         "--image-out /tmp/i --lifetime 2.5"));
    const Config& unit = options.unit;
    EXPECT_TRUE(unit.startInWriting);
    EXPECT_TRUE(unit.s1Auto);
    EXPECT_EQ(unit.fifth, '7');
    EXPECT_TRUE(unit.fifthGiven);
    EXPECT_TRUE(unit.emptyError);
    EXPECT_TRUE(unit.silent);
    EXPECT_TRUE(unit.questionFirst);
    EXPECT_EQ(unit.questionGap, 70 * kNanosPerMs);
    EXPECT_EQ(unit.split, 4u);
    EXPECT_EQ(unit.splitGap, 45 * kNanosPerMs);
    EXPECT_EQ(unit.tyDelay, 12 * kNanosPerMs);
    EXPECT_EQ(unit.silentBursts, 3u);
    EXPECT_EQ(unit.erase, 250 * kNanosPerMs);
    EXPECT_EQ(unit.baud, 9600u);
    EXPECT_EQ(unit.latency, 16 * kNanosPerMs);
    EXPECT_EQ(unit.fault.kind, FaultKind::Flood);
    EXPECT_EQ(unit.fault.at, Step::Chunk);
    EXPECT_EQ(unit.fault.index, 2047u);
    EXPECT_EQ(unit.fault.wrongByte, 0xA5);
    EXPECT_EQ(unit.fault.floodBytes, 123u);
    EXPECT_EQ(unit.fault.delay, 9 * kNanosPerMs);
    EXPECT_EQ(options.link, "/tmp/x");
    EXPECT_EQ(options.readyFile, "/tmp/r");
    EXPECT_EQ(options.stopFile, "/tmp/s");
    EXPECT_EQ(options.logFile, "/tmp/l");
    EXPECT_EQ(options.programOut, "/tmp/p");
    EXPECT_EQ(options.imageOut, "/tmp/i");
    EXPECT_DOUBLE_EQ(options.lifetimeSeconds, 2.5);

    const Options prefixed = parsed({"--prefix", "/tmp/wine", "--com", "3", "--question-only", "--fault", "wrong",
                                     "--at", "ack", "--fault-byte", "21"});
    EXPECT_EQ(prefixed.prefix, "/tmp/wine");
    EXPECT_EQ(prefixed.com, 3);
    EXPECT_TRUE(prefixed.unit.questionOnly);
    EXPECT_EQ(prefixed.unit.fault.wrongByte, 21);
}

TEST(Options, FaultKindsAndStepsByName)
{
    for (const char* kind : {"silence", "wrong", "extra", "unplug", "flood", "delay", "stall", "unplug-after"})
    {
        for (const char* step : {"ty", "sync", "confirm", "echo", "erase", "open", "ready", "chunk", "ack"})
        {
            const Options options = parsed({"--fault", kind, "--at", step, "--fault-ms", "5"});
            EXPECT_STREQ(faultName(options.unit.fault.kind), kind);
            EXPECT_STREQ(stepName(options.unit.fault.at), step);
        }
    }
}

TEST(Options, AfterAndFloodSeed)
{
    const Options options = parsed({"--fault", "flood", "--at", "ack", "--index", "4", "--after", "--flood-seed", "99"});
    EXPECT_TRUE(options.unit.fault.after);
    EXPECT_EQ(options.unit.fault.floodSeed, 99u);
    EXPECT_FALSE(parsed({"--fault", "flood", "--at", "ack"}).unit.fault.after);
    EXPECT_EQ(parsed({"--fault", "flood", "--at", "ack"}).unit.fault.floodSeed, 0u);
}

TEST(Options, BadValuesAreRejectedWithAMessage)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown argument"},
        {{"positional"}, "unknown argument"},
        {{"--delay"}, "needs a value"},
        {{"--silent=yes"}, "takes no value"},
        {{"--mode", "fast"}, "--mode"},
        {{"--s1", "on"}, "--s1"},
        {{"--fifth", "12"}, "--fifth"},
        {{"--fifth", ";"}, "--fifth"},
        {{"--fifth", ""}, "--fifth"},
        {{"--delay", "-5"}, "--delay"},
        {{"--delay", "1e3"}, "--delay"},
        {{"--delay", "99999999"}, "out of range"},
        {{"--question-gap", "x"}, "--question-gap"},
        {{"--split", "0"}, "--split"},
        {{"--split", "6"}, "--split"},
        {{"--erase-ms", ""}, "--erase-ms"},
        {{"--baud", "10"}, "--baud"},
        {{"--latency", "x"}, "--latency"},
        {{"--fault", "explode", "--at", "ty"}, "unknown kind"},
        {{"--fault", "silence", "--at", "nowhere"}, "unknown step"},
        {{"--fault", "silence"}, "--fault and --at"},
        {{"--at", "ty"}, "--fault and --at"},
        {{"--index", "3"}, "need --fault"},
        {{"--fault", "silence", "--at", "open", "--index", "12"}, "--index"},
        {{"--fault", "silence", "--at", "chunk", "--index", "2048"}, "--index"},
        {{"--fault", "silence", "--at", "confirm", "--index", "1"}, "--index"},
        {{"--fault", "wrong", "--at", "ack", "--fault-byte", "0x100"}, "--fault-byte"},
        {{"--fault", "wrong", "--at", "ack", "--fault-byte", "0xZZ"}, "--fault-byte"},
        {{"--fault", "flood", "--at", "ack", "--flood-bytes", "0"}, "--flood-bytes"},
        {{"--fault", "delay", "--at", "ack"}, "--fault-ms"},
        {{"--fault", "stall", "--at", "ack"}, "--fault-ms"},
        {{"--after"}, "need --fault"},
        {{"--flood-seed", "7"}, "need --fault"},
        {{"--fault", "flood", "--at", "ack", "--flood-seed", "-1"}, "--flood-seed"},
        {{"--fault", "wrong", "--at", "ty", "--fifth", "0"}, "--fifth"},
        {{"--question-first", "--question-only"}, "exclude"},
        {{"--prefix", "/tmp/p"}, "--prefix and --com"},
        {{"--com", "1"}, "--prefix and --com"},
        {{"--com", "0", "--prefix", "/tmp/p"}, "--com"},
        {{"--link", "/tmp/a", "--prefix", "/tmp/p", "--com", "1"}, "exclude"},
        {{"--link", ""}, "--link"},
        {{"--lifetime", "0"}, "--lifetime"},
        {{"--lifetime", "abc"}, "--lifetime"},
        {{"--lifetime", "nan"}, "--lifetime"},
    };
    for (const auto& [args, fragment] : cases)
    {
        std::string joined;
        for (const auto& arg : args)
        {
            joined += arg + " ";
        }
        SCOPED_TRACE(joined);
        EXPECT_NE(errorOf(args).find(fragment), std::string::npos) << errorOf(args);
    }
}

TEST(Options, HelpDocumentsEveryOption)
{
    EXPECT_TRUE(parsed({"--help"}).help);
    EXPECT_TRUE(parsed({"-h"}).help);
    const std::string usage = usageText();
    // The option as a whole word: "--split" must not be satisfied by "--split-gap".
    const auto mentions = [&](const std::string& option) {
        for (auto at = usage.find(option); at != std::string::npos; at = usage.find(option, at + 1))
        {
            const char next = at + option.size() < usage.size() ? usage[at + option.size()] : ' ';
            if (next == ' ' || next == ',' || next == '=')
            {
                return true;
            }
        }
        return false;
    };
    for (const std::string& option :
         words("--mode --s1 --fifth --empty-error --silent --question-first --question-gap --question-only --split "
               "--split-gap --delay --silent-bursts --erase-ms --program-out --image-out --fault --at --index "
               "--fault-byte --flood-bytes --fault-ms --baud --latency --prefix --com --link --ready --stop-file "
               "--lifetime "
               "--log --help"))
    {
        EXPECT_TRUE(mentions(option)) << option;
    }
    for (const char* word : {"silence", "wrong", "extra", "unplug", "flood", "delay", "ty", "sync", "confirm", "echo",
                             "erase", "open", "ready", "chunk", "ack"})
    {
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    }
}

}  // namespace
}  // namespace qvsim
