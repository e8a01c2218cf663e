#include "SimOptions.h"

#include "CommandLineKit.h"
#include "PortNames.h"
#include "ToolText.h"

namespace {

bool parseUnsigned(const std::string& name, const std::string& text, unsigned min, unsigned max,
                   unsigned& value, std::string& error) {
    std::string why;
    if (!cli::decimal(value, min, max)(text, why)) {
        error = name + ": " + why;
        return false;
    }
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
            if (!parseUnsigned("scenario item " + printableText(item), value, 0, v.max, *v.target,
                               error)) {
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
        const bool ok = dash == std::string::npos
                            ? parseHexNumber(item, 0x7F, from) && (to = from, true)
                            : parseHexNumber(item.substr(0, dash), 0x7F, from) &&
                                  parseHexNumber(item.substr(dash + 1), 0x7F, to);
        if (!ok || from > to) {
            error = "expected hexadecimal levels 0..7F such as 5, 3,5,9 or 1-1F";
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

namespace {

const char* const intro = R"(Usage: velk-sim --com N [options]
       velk-sim --device PATH [--baud B] [options]

A VELK slave for tests and demonstrations. With --com N it creates a
pseudo-terminal and the link COMN to it in the ports folder
($XDG_CONFIG_HOME/ORBEK/ports, default ~/.config/ORBEK/ports), removed again
when it stops; with --device it serves a real port (raw, 8N1). Once it serves
it prints "READY <COMN or path> <device>". It stops on SIGINT or SIGTERM.
)";

const char* const footer = R"(
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

// Every option once, with its conversion and help.
void define(CLI::App& app, SimOptions& o) {
    cli::prepare(app);
    const std::string g = "Options";
    cli::valued(app, "--com", "N", g, "serve a pseudo-terminal linked as COMN (1 to 254)",
                [&o](const std::string& v, std::string& why) {
                    unsigned n = 0;
                    const bool ok = cli::decimal(n, 1, 254)(v, why);
                    o.com = int(n);
                    return ok;
                });
    cli::valued(app, "--device", "PATH", g, "serve this tty (or COM name) instead",
                [&o](const std::string& v, std::string& why) {
                    o.device = v;
                    why = "expected an absolute path or a COM name";
                    return !v.empty() &&
                           (v[0] == '/' || v.compare(0, 2, "\\\\") == 0 || portNumber(v) != 0);
                });
    cli::valued(app, "--baud", "B", g, "baud rate of the real port (default 115200)",
                cli::decimal(o.baud, 1, 4000000));
    cli::valued(
        app, "--scenario", "S", g, "what to answer; a comma-separated list, may be repeated",
        [&o](const std::string& v, std::string& why) { return parseScenario(v, o.scenario, why); });
    cli::valued(app, "--delay", "M", g, "same as the scenario item delay=M",
                cli::decimal(o.scenario.delayMs, 0, 60000));
    cli::valued(app, "--gap", "M", g, "same as the scenario item slow=M",
                cli::decimal(o.scenario.gapMs, 0, 60000));
    cli::valued(app, "--address", "LIST", g,
                "answer only requests whose first address level is on the\nlist, in "
                "hexadecimal as everywhere: A, A,B,C, a range A-B\nor a mix (3,5,9 or 1-1F); "
                "each listed address answers as\nits own slave (default: answer every "
                "request, as\naddress_1 says)",
                [&o](const std::string& v, std::string& why) {
                    return parseAddressList(v, o.addresses, why);
                });
    cli::valued(app, "--idle", "MS", g,
                "silence that ends a request with extended blocks when its\ndata_0/data_1 "
                "announce no byte count (default 10)",
                cli::decimal(o.idleMs, 1, 10000));
    cli::flag(app, "--json", g, "log one JSON object a line", [&o] { o.json = true; });
    cli::flag(app, "--quiet", g, "log nothing but the READY line", [&o] { o.quiet = true; });
    cli::flag(app, "-h,--help", g, "this text", [] { throw CLI::CallForHelp(); });
}

} // namespace

bool parseSimOptions(int argc, char** argv, SimOptions& options, std::string& error) {
    CLI::App app;
    define(app, options);
    switch (cli::parse(app, app, std::vector<std::string>(argv + 1, argv + argc), error)) {
    case cli::Outcome::Help:
    case cli::Outcome::Version:
        options.help = true;
        return true;
    case cli::Outcome::UsageError:
        return false;
    case cli::Outcome::Run:
        break;
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

std::string usageText() {
    SimOptions ignored;
    CLI::App app;
    define(app, ignored);
    return intro + cli::optionsHelp(app, true) + footer;
}
