#include "SimOptions.h"

#include "PortNames.h"

#include <cerrno>
#include <cstdlib>

namespace {

bool parseNumber(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

bool parseUnsigned(const std::string& name, const std::string& text, unsigned long min,
                   unsigned long max, unsigned& value, std::string& error) {
    unsigned long parsed = 0;
    if (!parseNumber(text, max, parsed) || parsed < min) {
        error = name + " needs a whole number from " + std::to_string(min) + " to " +
                std::to_string(max) + ", not '" + text + "'";
        return false;
    }
    value = static_cast<unsigned>(parsed);
    return true;
}

// One scenario item: a word, or word=value.
bool parseScenarioItem(const std::string& item, Scenario& scenario, std::string& error) {
    const std::string::size_type eq = item.find('=');
    const std::string word = item.substr(0, eq);
    const bool hasValue = eq != std::string::npos;
    const std::string value = hasValue ? item.substr(eq + 1) : std::string();
    const unsigned long maxMs = 60000;

    if (word == "echo" || word == "registers") {
        if (hasValue) {
            error = "scenario '" + word + "' takes no value";
            return false;
        }
        scenario.mode = word == "echo" ? Scenario::Mode::Echo : Scenario::Mode::Registers;
        return true;
    }
    if (word == "silent" || word == "bad-crc" || word == "header-mid") {
        if (hasValue) {
            error = "scenario '" + word + "' takes no value";
            return false;
        }
        bool& flag = word == "silent"    ? scenario.silent
                     : word == "bad-crc" ? scenario.badCrc
                                         : scenario.headerMid;
        flag = true;
        return true;
    }
    if (word == "garbage" && !hasValue) {
        scenario.garbage = 3;
        return true;
    }
    struct Valued {
        const char* word;
        unsigned long max;
        unsigned* target;
    };
    const Valued valued[] = {
        {"extended", 65535, &scenario.extendedCount},
        {"garbage", 4096, &scenario.garbage},
        {"slow", maxMs, &scenario.gapMs},
        {"long", 4096, &scenario.extraBytes},
        {"delay", maxMs, &scenario.delayMs},
    };
    for (const Valued& v : valued) {
        if (word == v.word) {
            if (!hasValue) {
                error = "scenario '" + word + "' needs a value: " + word + "=N";
                return false;
            }
            if (!parseUnsigned("scenario '" + word + "'", value, 0, v.max, *v.target, error)) {
                return false;
            }
            if (word == "extended") {
                scenario.mode = Scenario::Mode::Extended;
            }
            return true;
        }
    }
    error = "unknown scenario '" + item + "' (see --help)";
    return false;
}

} // namespace

bool parseAddressList(const std::string& text, std::vector<int>& addresses, std::string& error) {
    std::vector<int> result;
    std::vector<bool> seen(128, false);
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        const std::string::size_type dash = item.find('-');
        unsigned from = 0;
        unsigned to = 0;
        const bool ok =
            dash == std::string::npos
                ? parseUnsigned("--address", item, 0, 127, from, error) && (to = from, true)
                : parseUnsigned("--address", item.substr(0, dash), 0, 127, from, error) &&
                      parseUnsigned("--address", item.substr(dash + 1), 0, 127, to, error);
        if (!ok || from > to) {
            error = "--address needs levels 0 to 127 such as 5, 3,5,9 or 1-31, not '" + text + "'";
            return false;
        }
        for (unsigned a = from; a <= to; ++a) {
            if (!seen[a]) {
                seen[a] = true;
                result.push_back(int(a));
            }
        }
        if (comma == std::string::npos) {
            addresses = result;
            return true;
        }
        start = comma + 1;
    }
}

bool parseScenario(const std::string& text, Scenario& scenario, std::string& error) {
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        if (item.empty()) {
            error = "empty scenario item in '" + text + "'";
            return false;
        }
        if (!parseScenarioItem(item, scenario, error)) {
            return false;
        }
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

bool parseSimOptions(int argc, char** argv, SimOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        const std::string::size_type eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        auto flag = [&](bool& target) {
            if (hasValue) {
                error = arg + " takes no value";
                return false;
            }
            target = true;
            return true;
        };
        auto takeValue = [&]() {
            if (hasValue) {
                return true;
            }
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };

        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            ok = flag(options.help);
        } else if (arg == "--json") {
            ok = flag(options.json);
        } else if (arg == "--quiet") {
            ok = flag(options.quiet);
        } else if (arg == "--com") {
            unsigned n = 0;
            ok = takeValue() && parseUnsigned("--com", value, 1, 254, n, error);
            options.com = static_cast<int>(n);
        } else if (arg == "--device") {
            ok = takeValue();
            // A device path (/dev/..., \\.\COM4) or a COM name.
            if (ok && (value.empty() || (value[0] != '/' && value.compare(0, 2, "\\\\") != 0 &&
                                         portNumber(value) == 0))) {
                error = "--device needs an absolute path or a COM name, not '" + value + "'";
                ok = false;
            }
            options.device = value;
        } else if (arg == "--baud") {
            ok = takeValue() && parseUnsigned("--baud", value, 1, 4000000, options.baud, error);
        } else if (arg == "--address") {
            ok = takeValue() && parseAddressList(value, options.addresses, error);
        } else if (arg == "--idle") {
            ok = takeValue() && parseUnsigned("--idle", value, 1, 10000, options.idleMs, error);
        } else if (arg == "--scenario") {
            ok = takeValue() && parseScenario(value, options.scenario, error);
        } else if (arg == "--delay") {
            ok = takeValue() &&
                 parseUnsigned("--delay", value, 0, 60000, options.scenario.delayMs, error);
        } else if (arg == "--gap") {
            ok = takeValue() &&
                 parseUnsigned("--gap", value, 0, 60000, options.scenario.gapMs, error);
        } else {
            error = "unknown option '" + std::string(argv[i]) + "' (see --help)";
            ok = false;
        }
        if (!ok) {
            return false;
        }
    }
    if (options.help) {
        return true;
    }
    if (options.com == 0 && options.device.empty()) {
        error = "give --com N (pseudo-terminal) or --device PATH (real port)";
        return false;
    }
    if (options.com != 0 && !options.device.empty()) {
        error = "--com and --device exclude each other";
        return false;
    }
    return true;
}

const char* usageText() {
    return R"(Usage: velk-sim --com N [options]
       velk-sim --device PATH [--baud B] [options]

A VELK slave for tests and demonstrations. With --com N it creates a
pseudo-terminal and the link COMN to it in the ports folder
($XDG_CONFIG_HOME/ORBEK/ports, default ~/.config/ORBEK/ports), removed again
when it stops; with --device it serves a real port (raw, 8N1). Once it serves
it prints "READY <COMN or path> <device>". It stops on SIGINT or SIGTERM.

Options:
  --com N          serve a pseudo-terminal linked as COMN (1 to 254)
  --device PATH    serve this tty instead
  --baud B         baud rate of the real port (default 115200)
  --scenario S     what to answer; a comma-separated list, may be repeated
  --delay M        same as the scenario item delay=M
  --gap M          same as the scenario item slow=M
  --address LIST   answer only requests whose first address level is on the
                   list: A, A,B,C, a range A-B or a mix (3,5,9 or 1-31);
                   each listed address answers as its own slave (default:
                   answer every request, as address_1 says)
  --idle MS        silence that ends a request with extended blocks when its
                   data_0/data_1 announce no byte count (default 10)
  --json           log one JSON object a line
  --quiet          log nothing but the READY line
  -h, --help       this text

Answer content (one of):
  echo             the request's data block: same code, index, status, data,
                   WTS and SubL; ao = address_1 (or A), ntxt 0, CS set, ERR
                   clear. A request with extended blocks gets them back: EF set,
                   data_0/data_1 = the byte count (default)
  registers        a parameter table keyed by (code, index), empty at start;
                   a request with WTS set writes, one with WTS clear reads:
                     0x10  a value in data_0..3: a write stores the request's
                           data_0..3; both answer the stored value (zeros
                           when never written)
                     0x11  a byte string: a write stores the request's
                           extended bytes (data_0/1 of the request give the
                           count when not above the bytes received) and
                           answers the count in data_0/1; a read answers EF
                           set, data_0/1 = length, then the stored bytes
                   any other code answers with ERR and CS set and ntxt 1
  extended=N       as echo, with EF set and N extended bytes (byte i is
                   (0x80 + i) mod 256), data_0/1 = N; a request carrying
                   extended bytes gets those back instead

Faults (combine with any of the above):
  silent           never answer
  bad-crc          the answer's data block has a wrong CRC byte
  garbage[=K]      K noise bytes (bit 7 clear, default 3) before the answer
  header-mid       the first 6 bytes of the answer, then the whole answer
  slow=M           M ms between two answer bytes
  long=K           K bytes 0x5A after the answer
  delay=M          M ms before the answer

An answer still waiting to go out is dropped when a new request begins.
Bytes that do not form a request (noise, broken blocks, bad CRC) are logged
and skipped.

Exit status: 0 stopped by a signal, 64 bad usage, 69 the device or the link
cannot be set up (COMN already points at a live device), 74 I/O error on
the device.
)";
}
