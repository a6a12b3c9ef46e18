// Command-line parsing of qv6100-sim.
#include "options.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

namespace qvtest {
using namespace qvsim;
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

// The text that --help gives an option: its line and the lines under it.
std::string helpOf(const std::string& option)
{
    std::istringstream in(usageText());
    std::string line, block;
    bool inside = false;
    while (std::getline(in, line))
    {
        const auto first = line.find_first_not_of(' ');
        const bool starts = first == 2 && line.compare(2, 2, "--") == 0;
        if (starts && inside)
        {
            break;
        }
        if (starts && line.compare(2, option.size(), option) == 0 &&
            std::string(" ,=").find(line[2 + option.size()]) != std::string::npos)
        {
            inside = true;
        }
        if (inside)
        {
            block += line + "\n";
        }
    }
    return block;
}

// Naming the default that --help gives an option changes nothing.
TEST(Options, DocumentedDefaultsAreTheOnesApplied)
{
    using Field = std::function<std::string(const Options&)>;
    const auto field = [](auto get) { return Field([get](const Options& o) { return std::to_string(get(o)); }); };
    const std::map<std::string, Field> fields = {
        {"--lifetime", field([](const Options& o) { return o.lifetimeSeconds; })},
        {"--mode", field([](const Options& o) { return o.unit.startInWriting; })},
        {"--s1", field([](const Options& o) { return o.unit.s1Auto; })},
        {"--fifth", field([](const Options& o) { return o.unit.fifth; })},
        {"--question-gap", field([](const Options& o) { return o.unit.questionGap; })},
        {"--split-gap", field([](const Options& o) { return o.unit.splitGap; })},
        {"--silent-bursts", field([](const Options& o) { return o.unit.silentBursts; })},
        {"--latency", field([](const Options& o) { return o.unit.latency; })},
        {"--index", field([](const Options& o) { return o.unit.fault.index; })},
        {"--fault-byte", field([](const Options& o) { return o.unit.fault.wrongByte; })},
        {"--flood-bytes", field([](const Options& o) { return o.unit.fault.floodBytes; })},
        {"--fault-ms", field([](const Options& o) { return o.unit.fault.delay; })},
    };
    // A fault, so that the fault's own options are accepted too.
    const std::vector<std::string> base = {"--fault", "wrong", "--at", "ack"};
    std::size_t checked = 0;
    for (const std::string& option : optionNames())
    {
        // "(default VALUE)" or "(default VALUE; ...)".
        const std::string help = helpOf(option);
        const auto at = help.find("(default ");
        const std::string value =
            at == std::string::npos ? "" : help.substr(at + 9, help.find_first_of(") ;", at + 9) - at - 9);
        if (value.empty())
        {
            continue;
        }
        ASSERT_EQ(fields.count(option), 1u) << option << " documents a default that is not checked here";
        std::vector<std::string> with = base;
        with.insert(with.end(), {option, value});
        EXPECT_EQ(fields.at(option)(parsed(with)), fields.at(option)(parsed(base))) << option << " " << value;
        ++checked;
    }
    EXPECT_EQ(checked, fields.size());
}

TEST(Options, EveryValueReachesItsField)
{
    const std::string all = "--mode writing --s1 auto --fifth 7 --empty-error --silent --question-first "
                            "--question-gap 70 --split 4 --split-gap=45 --delay 12 --silent-bursts 3 "
                            "--erase-ms 250 --baud 9600 --latency 16 --fault flood --at chunk --index 2047 "
                            "--fault-byte 0xA5 --flood-bytes 123 --fault-ms 9 --fault-once --one-update --link /tmp/x --ready /tmp/r "
                            "--stop-file /tmp/s --log /tmp/l --program-out /tmp/p --image-out /tmp/i --lifetime 2.5";
    const Options options = parsed(words(all));
    // The unit's options made from its settings make the same unit.
    const Config again = parsed(unitArguments(options.unit)).unit;
    for (const Config* config : {&options.unit, &again})
    {
        const Config& unit = *config;
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
        EXPECT_TRUE(unit.faultOnce);
        EXPECT_TRUE(unit.oneUpdate);
    }
    EXPECT_EQ(options.link, "/tmp/x");
    EXPECT_EQ(options.readyFile, "/tmp/r");
    EXPECT_EQ(options.stopFile, "/tmp/s");
    EXPECT_EQ(options.logFile, "/tmp/l");
    EXPECT_EQ(options.programOut, "/tmp/p");
    EXPECT_EQ(options.imageOut, "/tmp/i");
    EXPECT_DOUBLE_EQ(options.lifetimeSeconds, 2.5);

    const char* const withPrefix[] = {"--prefix", "/tmp/wine", "--com", "3",   "--question-only",
                                      "--fault",  "wrong",     "--at",  "ack", "--fault-byte",
                                      "21"};
    const Options prefixed = parsed(std::vector<std::string>(std::begin(withPrefix), std::end(withPrefix)));
    EXPECT_EQ(prefixed.prefix, "/tmp/wine");
    EXPECT_EQ(prefixed.com, 3);
    EXPECT_TRUE(prefixed.unit.questionOnly);
    EXPECT_EQ(prefixed.unit.fault.wrongByte, 21);
    EXPECT_EQ(parsed({"--device", "/dev/ttyS1"}).device, "/dev/ttyS1");

    // Every option the parser knows has its case here, or in the tests named.
    std::set<std::string> covered = {"--after", "--flood-seed", "--help", "-h", "--device"};
    for (const auto& args : {words(all), std::vector<std::string>(std::begin(withPrefix), std::end(withPrefix))})
    {
        for (const std::string& arg : args)
        {
            covered.insert(arg.substr(0, arg.find('=')));
        }
    }
    for (const std::string& option : optionNames())
    {
        EXPECT_EQ(covered.count(option), 1u) << option << " has no case";
    }
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
    const Options options =
        parsed({"--fault", "flood", "--at", "ack", "--index", "4", "--after", "--flood-seed", "99"});
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
        {{"--fault-once"}, "need --fault"},
        {{"--fault", "flood", "--at", "ack", "--flood-seed", "-1"}, "--flood-seed"},
        {{"--fault", "wrong", "--at", "ty", "--fifth", "0"}, "--fifth"},
        {{"--question-first", "--question-only"}, "exclude"},
        {{"--prefix", "/tmp/p"}, "--prefix and --com"},
        {{"--com", "1"}, "--prefix and --com"},
        {{"--com", "0", "--prefix", "/tmp/p"}, "--com"},
        {{"--link", "/tmp/a", "--prefix", "/tmp/p", "--com", "1"}, "exclude"},
        {{"--link", ""}, "--link"},
        {{"--device", "/dev/ttyS1", "--link", "/tmp/a"}, "--device excludes"},
        {{"--device", "/dev/ttyS1", "--baud", "9600"}, "--device excludes --baud"},
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
    for (const std::string& option : optionNames())
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
}  // namespace qvtest
