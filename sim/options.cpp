#include "options.hpp"

#include <cerrno>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

namespace qvsim {

namespace {

constexpr unsigned long long kMaxMs = 3600000;

class ParseError
{
public:
    explicit ParseError(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }

private:
    std::string message_;
};

unsigned long long parseUnsigned(const std::string& option, const std::string& text, unsigned long long max,
                                 bool allowHex = false)
{
    int base = 10;
    std::string digits = text;
    if (allowHex && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0))
    {
        base = 16;
        digits = text.substr(2);
    }
    if (digits.empty() ||
        digits.find_first_not_of(base == 16 ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
    {
        throw ParseError(option + ": '" + text + "' is not a non-negative integer");
    }
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, base);
    if (errno == ERANGE || value > max)
    {
        throw ParseError(option + ": " + text + " is out of range (0.." + std::to_string(max) + ")");
    }
    return value;
}

Nanos parseMs(const std::string& option, const std::string& text)
{
    return static_cast<Nanos>(parseUnsigned(option, text, kMaxMs)) * kNanosPerMs;
}

void requireNonEmpty(const std::string& option, const std::string& text)
{
    if (text.empty())
    {
        throw ParseError(option + " needs a non-empty path");
    }
}

std::uint32_t maxIndex(Step step)
{
    switch (step)
    {
    case Step::Confirm:
    case Step::Erase:
        return 0;
    case Step::Open:
    case Step::Ready:
    case Step::Ack:
        return kBlockCount - 1;
    case Step::Chunk:
        return kChunkCount - 1;
    case Step::Echo:
        return 0xFFFF + 2 - 1;
    case Step::Ty:
    case Step::Sync:
        break;
    }
    return 1000000;
}

struct Pending
{
    bool fault = false;
    bool at = false;
    bool index = false;
    bool faultByte = false;
    bool floodBytes = false;
    bool faultMs = false;
    bool floodSeed = false;
};

using Handler = std::function<void(const std::string&, const std::string&)>;

struct Table
{
    std::map<std::string, Handler> valued;  // options that take a value
    std::map<std::string, std::function<void()>> flags;
};

// Every option, with what it does to `options`.
Table optionTable(Options& options, Pending& given)
{
    Config& unit = options.unit;
    Table table;
    table.valued = {
        {"--mode",
         [&](const std::string& o, const std::string& v) {
             if (v == "normal")
                 unit.startInWriting = false;
             else if (v == "writing")
                 unit.startInWriting = true;
             else
                 throw ParseError(o + ": expected 'normal' or 'writing', got '" + v + "'");
         }},
        {"--s1",
         [&](const std::string& o, const std::string& v) {
             if (v == "off")
                 unit.s1Auto = false;
             else if (v == "auto")
                 unit.s1Auto = true;
             else
                 throw ParseError(o + ": expected 'off' or 'auto', got '" + v + "'");
         }},
        {"--fifth",
         [&](const std::string& o, const std::string& v) {
             if (v.size() != 1 || v[0] < 0x21 || v[0] > 0x7E || v[0] == ';')
             {
                 throw ParseError(o + ": expected one printable character other than ';', got '" + v + "'");
             }
             unit.fifth = v[0];
             unit.fifthGiven = true;
         }},
        {"--question-gap", [&](const std::string& o, const std::string& v) { unit.questionGap = parseMs(o, v); }},
        {"--split",
         [&](const std::string& o, const std::string& v) {
             unit.split = parseUnsigned(o, v, 5);
             if (unit.split == 0)
             {
                 throw ParseError(o + ": K must be 1..5 (bytes in the first write of the six-byte reply)");
             }
         }},
        {"--split-gap", [&](const std::string& o, const std::string& v) { unit.splitGap = parseMs(o, v); }},
        {"--delay", [&](const std::string& o, const std::string& v) { unit.tyDelay = parseMs(o, v); }},
        {"--silent-bursts",
         [&](const std::string& o, const std::string& v) {
             unit.silentBursts = static_cast<std::uint32_t>(parseUnsigned(o, v, 1000000));
         }},
        {"--erase-ms", [&](const std::string& o, const std::string& v) { unit.erase = parseMs(o, v); }},
        {"--baud",
         [&](const std::string& o, const std::string& v) {
             unit.baud = static_cast<std::uint32_t>(parseUnsigned(o, v, 10000000));
             if (unit.baud != 0 && unit.baud < 50)
             {
                 throw ParseError(o + ": expected 0 (unpaced) or 50..10000000");
             }
         }},
        {"--latency", [&](const std::string& o, const std::string& v) { unit.latency = parseMs(o, v); }},
        {"--fault",
         [&](const std::string& o, const std::string& v) {
             const auto kind = parseFaultKind(v);
             if (!kind)
             {
                 throw ParseError(o + ": unknown kind '" + v + "' (" + faultKindNames(", ") + ")");
             }
             unit.fault.kind = *kind;
             given.fault = true;
         }},
        {"--at",
         [&](const std::string& o, const std::string& v) {
             const auto step = parseStep(v);
             if (!step)
             {
                 throw ParseError(o + ": unknown step '" + v +
                                  "' (ty, sync, confirm, echo, erase, open, ready, chunk, ack)");
             }
             unit.fault.at = *step;
             given.at = true;
         }},
        {"--index",
         [&](const std::string& o, const std::string& v) {
             unit.fault.index = static_cast<std::uint32_t>(parseUnsigned(o, v, 1000000));
             given.index = true;
         }},
        {"--fault-byte",
         [&](const std::string& o, const std::string& v) {
             unit.fault.wrongByte = static_cast<std::uint8_t>(parseUnsigned(o, v, 0xFF, true));
             given.faultByte = true;
         }},
        {"--flood-bytes",
         [&](const std::string& o, const std::string& v) {
             unit.fault.floodBytes = static_cast<std::uint32_t>(parseUnsigned(o, v, 10000000));
             if (unit.fault.floodBytes == 0)
             {
                 throw ParseError(o + ": expected 1..10000000");
             }
             given.floodBytes = true;
         }},
        {"--fault-ms",
         [&](const std::string& o, const std::string& v) {
             unit.fault.delay = parseMs(o, v);
             given.faultMs = true;
         }},
        {"--flood-seed",
         [&](const std::string& o, const std::string& v) {
             unit.fault.floodSeed = static_cast<std::uint32_t>(parseUnsigned(o, v, 0xFFFFFFFFu));
             given.floodSeed = true;
         }},
        {"--com",
         [&](const std::string& o, const std::string& v) {
             options.com = static_cast<int>(parseUnsigned(o, v, 256));
             if (options.com == 0)
             {
                 throw ParseError(o + ": expected 1..256");
             }
         }},
        {"--lifetime",
         [&](const std::string& o, const std::string& v) {
             char* end = nullptr;
             errno = 0;
             const double seconds = std::strtod(v.c_str(), &end);
             if (v.empty() || *end != '\0' || errno != 0 || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400)
             {
                 throw ParseError(o + ": expected seconds in (0, 86400], got '" + v + "'");
             }
             options.lifetimeSeconds = seconds;
         }},
    };
    const std::pair<const char*, std::string Options::*> paths[] = {
        {"--prefix", &Options::prefix},      {"--link", &Options::link},   {"--device", &Options::device},
        {"--ready", &Options::readyFile},
        {"--stop-file", &Options::stopFile}, {"--log", &Options::logFile}, {"--program-out", &Options::programOut},
        {"--image-out", &Options::imageOut},
    };
    for (const auto& [name, member] : paths)
    {
        table.valued[name] = [&options, member = member](const std::string& o, const std::string& v) {
            requireNonEmpty(o, v);
            options.*member = v;
        };
    }
    table.flags = {
        {"--empty-error", [&] { unit.emptyError = true; }},
        {"--silent", [&] { unit.silent = true; }},
        {"--question-first", [&] { unit.questionFirst = true; }},
        {"--question-only", [&] { unit.questionOnly = true; }},
        {"--after", [&] { unit.fault.after = true; }},
        {"--fault-once", [&] { unit.faultOnce = true; }},
        {"--one-update", [&] { unit.oneUpdate = true; }},
        {"--help", [&] { options.help = true; }},
        {"-h", [&] { options.help = true; }},
    };
    return table;
}

Options parse(const std::vector<std::string>& args)
{
    Options options;
    Config& unit = options.unit;
    Pending given;
    const Table table = optionTable(options, given);
    const auto& valued = table.valued;
    const auto& flags = table.flags;

    for (std::size_t i = 0; i < args.size(); ++i)
    {
        std::string name = args[i];
        std::optional<std::string> value;
        const auto equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos)
        {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (const auto flag = flags.find(name); flag != flags.end())
        {
            if (value)
            {
                throw ParseError(name + " takes no value");
            }
            flag->second();
            continue;
        }
        const auto handler = valued.find(name);
        if (handler == valued.end())
        {
            throw ParseError("unknown argument '" + args[i] + "' (see --help)");
        }
        if (!value)
        {
            if (i + 1 >= args.size())
            {
                throw ParseError(name + " needs a value");
            }
            value = args[++i];
        }
        handler->second(name, *value);
    }

    if (options.help)
    {
        return options;
    }
    if (unit.questionFirst && unit.questionOnly)
    {
        throw ParseError("--question-first and --question-only exclude each other");
    }
    if (!options.link.empty() && !options.prefix.empty())
    {
        throw ParseError("--link and --prefix exclude each other");
    }
    if (options.prefix.empty() != (options.com == 0))
    {
        throw ParseError("--prefix and --com go together");
    }
    if (!options.device.empty() && (!options.link.empty() || !options.prefix.empty()))
    {
        throw ParseError("--device excludes --prefix and --link: the PC is at the far end of the cable");
    }
    if (!options.device.empty() && unit.baud != 0)
    {
        throw ParseError("--device excludes --baud: the line itself paces the bytes");
    }
    if (given.fault != given.at)
    {
        throw ParseError("--fault and --at go together");
    }
    if (!given.fault &&
        (given.index || given.faultByte || given.floodBytes || given.faultMs || given.floodSeed || unit.fault.after ||
         unit.faultOnce))
    {
        throw ParseError(
            "--index, --fault-byte, --flood-bytes, --flood-seed, --fault-ms, --after and --fault-once need --fault");
    }
    if (given.fault)
    {
        const Fault& fault = unit.fault;
        if (fault.index > maxIndex(fault.at))
        {
            throw ParseError(std::string("--index: at most ") + std::to_string(maxIndex(fault.at)) + " for step " +
                             stepName(fault.at));
        }
        if (fault.kind == FaultKind::Wrong && fault.at == Step::Ty && unit.fifthGiven && unit.fifth == '0')
        {
            throw ParseError("--fifth 0 would make the wrong TY reply the genuine one");
        }
        if ((fault.kind == FaultKind::Delay || fault.kind == FaultKind::Stall) && !given.faultMs)
        {
            throw ParseError(std::string("--fault ") + faultName(fault.kind) + " needs --fault-ms");
        }
    }
    return options;
}

}  // namespace

ParseResult parseOptions(const std::vector<std::string>& args)
{
    try
    {
        return {parse(args), {}};
    }
    catch (const ParseError& error)
    {
        return {std::nullopt, error.message()};
    }
}

std::vector<std::string> unitArguments(const Config& config)
{
    const Config defaults;
    std::vector<std::string> args;
    const auto add = [&args](const char* option, const std::string& value = std::string()) {
        args.push_back(option);
        if (!value.empty())
        {
            args.push_back(value);
        }
    };
    const auto ms = [](Nanos value) { return std::to_string(value / kNanosPerMs); };
    const auto flag = [&add](bool on, const char* option) {
        if (on)
        {
            add(option);
        }
    };
    const auto number = [&add](auto value, auto fallback, const char* option, const std::string& text) {
        if (value != fallback)
        {
            add(option, text);
        }
    };
    if (config.startInWriting)
    {
        add("--mode", "writing");
    }
    if (config.s1Auto)
    {
        add("--s1", "auto");
    }
    if (config.fifthGiven)
    {
        add("--fifth", std::string(1, config.fifth));
    }
    flag(config.emptyError, "--empty-error");
    flag(config.silent, "--silent");
    flag(config.questionFirst, "--question-first");
    flag(config.questionOnly, "--question-only");
    number(config.questionGap, defaults.questionGap, "--question-gap", ms(config.questionGap));
    number(config.split, defaults.split, "--split", std::to_string(config.split));
    number(config.splitGap, defaults.splitGap, "--split-gap", ms(config.splitGap));
    number(config.tyDelay, defaults.tyDelay, "--delay", ms(config.tyDelay));
    number(config.silentBursts, defaults.silentBursts, "--silent-bursts", std::to_string(config.silentBursts));
    number(config.erase, defaults.erase, "--erase-ms", ms(config.erase));
    number(config.baud, defaults.baud, "--baud", std::to_string(config.baud));
    number(config.latency, defaults.latency, "--latency", ms(config.latency));
    flag(config.oneUpdate, "--one-update");
    const Fault& fault = config.fault;
    if (fault.kind != FaultKind::None)
    {
        add("--fault", faultName(fault.kind));
        add("--at", stepName(fault.at));
        add("--index", std::to_string(fault.index));
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02x", fault.wrongByte);
        number(fault.wrongByte, defaults.fault.wrongByte, "--fault-byte", byte);
        number(fault.floodBytes, defaults.fault.floodBytes, "--flood-bytes", std::to_string(fault.floodBytes));
        number(fault.floodSeed, defaults.fault.floodSeed, "--flood-seed", std::to_string(fault.floodSeed));
        if (fault.delay != 0 || fault.kind == FaultKind::Delay || fault.kind == FaultKind::Stall)
        {
            add("--fault-ms", ms(fault.delay));
        }
        flag(fault.after, "--after");
        flag(config.faultOnce, "--fault-once");
    }
    return args;
}

std::vector<std::string> optionNames()
{
    Options options;
    Pending given;
    const Table table = optionTable(options, given);
    std::vector<std::string> names;
    for (const auto& entry : table.valued)
    {
        names.push_back(entry.first);
    }
    for (const auto& entry : table.flags)
    {
        names.push_back(entry.first);
    }
    return names;
}

namespace {

// `text` in lines of at most 80 columns, the first after `first`, the others
// indented like it.
std::string wrapped(const std::string& first, const std::string& text)
{
    const std::string indent(first.size(), ' ');
    std::string out = first, line;
    std::size_t start = 0;
    while (start < text.size())
    {
        std::size_t end = text.find(' ', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string word = text.substr(start, end - start);
        if (!line.empty() && out.size() - out.rfind('\n') + line.size() + word.size() > 80)
        {
            out += line + "\n" + indent;
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return out + line + "\n";
}

void replace(std::string& text, const std::string& placeholder, const std::string& by)
{
    text.replace(text.find(placeholder), placeholder.size(), by);
}

}  // namespace

std::string usageText()
{
    std::string text = R"(Usage: qv6100-sim [OPTIONS]
Plays a Corvane QV-6100 on a pseudo-terminal (8N1, raw bytes), or on a serial port.

Publishing and lifetime:
  --prefix DIR --com N  publish the pty as the symlink DIR/dosdevices/comN (N 1..256;
                        DIR must exist, DIR/dosdevices is created if missing; an
                        existing link or empty directory there is replaced). On
                        exit and on unplug the link is pointed at
                        /nonexistent/qv6100-sim-stopped.
  --link PATH           publish the pty as the symlink PATH instead (removed on exit
                        and on unplug)
  --device PATH         sit on the serial port PATH instead of a pseudo-terminal,
                        for a PC at the far end of a null-modem cable: opened raw
                        at 9600 baud 8N1 without flow control, held exclusively
                        (the line itself paces the bytes: no --baud). A path that
                        is not a serial device is refused, and so is one another
                        program has open (the message names it) or holds locked.
                        Nothing is published; unplug closes the port.
  --ready FILE          once published, write the pty path (no newline) to FILE
                        atomically (FILE.tmp, then rename)
  --stop-file FILE      exit cleanly once FILE exists (checked every 10 ms)
  --lifetime SEC        exit after SEC seconds (default 600); SIGTERM, SIGINT and
                        SIGHUP also exit cleanly
  --log FILE            wire log, one line per event, flushed per line:
                          <t_us> rx <hex bytes>   one read from the PC
                          <t_us> tx <hex bytes>   one write to the PC
                          # <note>                mode switches, errors, faults,
                                                  "# complete", "# unplugged";
                                                  "# stopped" is the last line
                        t_us is CLOCK_MONOTONIC_RAW in microseconds; hex bytes are
                        two lowercase digits separated by single spaces. Without
                        --log the notes go to stderr.
  --program-out FILE    write the received write-control program when complete
                        (the last update's)
  --image-out FILE      write the 262144-byte flash image (unwritten bytes 0xff)
                        after every acknowledged block and at exit once a block
                        transfer has started: the flash as the last update left it
  --help, -h            this text

Updates:
  One start serves any number of updates, as a unit that its user switches
  off and on between them. Once the line has been quiet for 2 s (twice the
  longest wait of an update: the PC gives up on an answer after 1 s), the next
  byte finds the unit as at power-on: in the mode --mode gives (with --s1 auto
  normal mode until the first 0x00), nothing pending, the fault armed again;
  the flash keeps what was written to it. The wire log notes each one:
  "# power-on after N ms of quiet: update K, mode ...". An unplugged line
  stays unplugged.
  --one-update          serve one update only: afterwards the unit stays as it
                        ended (complete, or silent after an error)

Normal mode (";"-terminated ASCII commands, at most 64 bytes each; longer
commands are answered "?;" at their ";"):
  --mode normal|writing start mode (default normal)
  --s1 off|auto         auto: the first 0x00 received in normal mode switches to
                        writing mode and counts as the first alignment byte;
                        answers not yet sent are dropped (default off)
  --fifth C             fifth character of the "TY21C;" reply (default 0)
  --empty-error         answer an empty command (lone ";") with "?;"
  --silent              never answer in normal mode
  --delay MS            wait MS before answering TY
  --question-first      answer TY with "?;" first, the real reply --question-gap later
  --question-gap MS     gap for --question-first (default 50)
  --question-only       answer TY with "?;" only
  --split K             send the real TY reply in two writes: K bytes (1..5), then
                        the rest --split-gap later
  --split-gap MS        gap for --split (default 30)
  Combining: --delay comes first, then the "?;" of --question-first, then
  --question-gap, then the real reply, which --split cuts. --split has no
  effect with --question-only. --silent overrides all of them.

Firmware writing mode:
  --silent-bursts N     ignore the first N complete ten-byte 0x00 bursts (default 0)
  --erase-ms MS         erase time after the program: 0 (default) sends the last
                        echo and 0xAA in one write; MS>0 sends 0xAA MS later.
  After an answered burst more whole bursts are answered again; 0x55 is
  answered 0xAA. A wrong block checksum is answered 0x15 and the unit then
  expects the same block again (0x57 0x00 ...).

Fault injection (one per update, fired at the first matching answer):
@KINDS@  --at STEP             ty      TY reply (the N-th TY query; with --question-only
                                the "?;" that answers it)
                        sync    0x00 answering the N-th answered alignment burst
                        confirm 0xAA answering 0x55 (N = 0)
                        echo    echo of program byte N (0-based, length bytes count)
                        erase   0xAA after the erase (N = 0)
                        open    0x06 answering block N's write command (0..11)
                        ready   0x11 after block N's header (0..11)
                        chunk   0x11 after global chunk N (0..2047)
                        ack     block N's checksum answer (0x06, or 0x15) (0..11)
  --index N             N for --at (default 0)
  --fault-byte 0xNN     byte sent by 'wrong' (default 0x15). For 'ty' the wrong
                        reply is "TY211;", or "TY21C;" with --fifth C (the other TY
                        replies then stay "TY210;")
  --flood-bytes N       bytes of 0x41 sent by 'flood' (default 5000)
  --flood-seed N        with N > 0 the flood sends pseudo-random bytes (xorshift32
                        seeded with N, the same stream on every run) instead of 0x41
  --fault-ms MS         lateness for 'delay' and 'stall' (required with them); for
                        'unplug-after' the time between the answer and the cut
                        (default 0)
  --after               the step's genuine answer goes out and the fault strikes
                        right after it: silence = nothing more; wrong = a stray
                        --fault-byte in a write of its own; extra = the answer once
                        more in a write of its own; unplug, unplug-after = the cut;
                        flood = the flood; delay, stall = the unit stalls MS
  --fault-once          the fault strikes in the first update only (default:
                        in every update)
@MEANINGS@  "# complete" is logged when block 11's 0x06 goes out (not when a silence,
  wrong, unplug or flood fault replaces it).

Pacing:
  --baud N              model the line at N baud 8N1 (0 = unpaced, default; else
                        50..10000000): each sent byte is its own write, appearing
                        one byte time (10 bits) after it was due or after the
                        previous byte appeared, whichever is later, on absolute
                        times (no drift); each received byte is handled one byte
                        time after its read or after the previous byte was
                        handled, whichever is later. 'flood' is never paced.
  --latency MS          hold everything the unit sends MS ms before it goes out
                        (default 0), as a USB serial adapter's latency timer does
                        (16 ms by default for FTDI adapters); the order is kept and
                        --baud pacing applies after the hold.

Bad option values print an error and exit with status 2.
)";
    replace(text, "@KINDS@", wrapped("  --fault KIND          ", faultKindNames(" | ")));
    replace(text, "@MEANINGS@", wrapped("  KIND: ", faultKindMeanings() + "."));
    return text;
}

}  // namespace qvsim
