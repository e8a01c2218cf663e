#include "CommandLine.h"

#include "CommandLineKit.h"
#include "ToolText.h"
#include "UserValue.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <functional>

namespace {

using cli::decimal;
using cli::flag;
using cli::text;
using cli::valued;

template <class T>
bool hexNumber(const std::string& v, unsigned min, unsigned max, T& target, std::string& why) {
    unsigned n = 0;
    if (!parseHexNumber(v, max, n) || n < min) {
        char range[32];
        std::snprintf(range, sizeof range, "%X..%X", min, max);
        why = std::string("expected a hexadecimal number ") + range;
        return false;
    }
    target = T(n);
    return true;
}

// Up to four hexadecimal bytes; the missing ones are 0.
bool hexQuad(const std::string& v, unsigned max, const char* what, unsigned char (&target)[4],
             std::string& why) {
    std::vector<unsigned char> bytes;
    if (!parseHexList(v, max, bytes) || bytes.size() > 4) {
        char range[16];
        std::snprintf(range, sizeof range, "0..%X", max);
        why = std::string("expected one to four hexadecimal ") + what + " " + range +
              ", comma-separated";
        return false;
    }
    bytes.resize(4);
    std::copy(bytes.begin(), bytes.end(), target);
    return true;
}

bool typeName(const std::string& v, bool noneAllowed, int& target, std::string& why) {
    std::string upper = v;
    for (char& c : upper) {
        c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    const int code = upper == "NONE" ? 0 : parameterTypeCode(v);
    if (code > 0 || (noneAllowed && code == 0)) {
        target = code;
        return true;
    }
    why = std::string("expected BOOLEAN, INTEGER, UNSIGNED, REAL32FIX or REAL32") +
          (noneAllowed ? " or NONE" : "");
    return false;
}

using Apply = std::function<bool(RequestOptions&, const std::string&, std::string&)>;

Apply setFlag(bool RequestOptions::*flag) {
    return [flag](RequestOptions& r, const std::string&, std::string&) { return r.*flag = true; };
}

Apply hexField(unsigned char RequestOptions::*field, unsigned max) {
    return [field, max](RequestOptions& r, const std::string& v, std::string& why) {
        return hexNumber(v, 0, max, r.*field, why);
    };
}

Apply addressLevel(int level) {
    return [level](RequestOptions& r, const std::string& v, std::string& why) {
        r.addressGiven = r.addressGiven || level == 0;
        return hexNumber(v, 0, 0x7F, r.address[level], why);
    };
}

// The request options: one definition each, for the command line, its help
// and the requests of a plan.
struct RequestOptionDefinition {
    const char* name;
    const char* argument; // nullptr for a flag
    const char* group;
    const char* help;
    Apply apply;
};

const char* const addressGroup = "Address block";
const char* const dataGroup = "Data block";

const RequestOptionDefinition requestOptions[] = {
    {"address", "A1[,A2,A3,A4]", addressGroup, "address levels 0..7F; levels not given are 0",
     [](RequestOptions& r, const std::string& v, std::string& why) {
         return r.addressGiven = hexQuad(v, 0x7F, "levels", r.address, why);
     }},
    {"address-1", "A", addressGroup, "first address level 0..7F", addressLevel(0)},
    {"address-2", "A", addressGroup, "second address level 0..7F", addressLevel(1)},
    {"address-3", "A", addressGroup, "third address level 0..7F", addressLevel(2)},
    {"address-4", "A", addressGroup, "fourth address level 0..7F", addressLevel(3)},
    {"time", nullptr, addressGroup, "set the time flag", setFlag(&RequestOptions::timeBit)},
    {"code", "C", dataGroup, "command code 0..FF (default 0)",
     hexField(&RequestOptions::code, 0xFF)},
    {"index", "I", dataGroup, "parameter index 0..FF (default 0)",
     hexField(&RequestOptions::index, 0xFF)},
    {"ao", "A", dataGroup, "sender's address 0..7F (default 1F)",
     hexField(&RequestOptions::ao, 0x7F)},
    {"ntxt", "N", dataGroup, "0..7F (default 0)", hexField(&RequestOptions::ntxt, 0x7F)},
    {"status", "S", dataGroup, "0..FF (default 0)", hexField(&RequestOptions::status, 0xFF)},
    {"data", "B0[,B1,B2,B3]", dataGroup, "data bytes data_0 to data_3, 0..FF; missing ones are 0",
     [](RequestOptions& r, const std::string& v, std::string& why) {
         return r.dataGiven = hexQuad(v, 0xFF, "bytes", r.data, why);
     }},
    {"value", "V", dataGroup,
     "a decimal value split into the four data bytes by --type;\nthe digits after the point "
     "give the decimals (1 to 3)",
     [](RequestOptions& r, const std::string& v, std::string&) {
         r.value = v;
         return r.valueGiven = true;
     }},
    {"type", "TYPE", dataGroup,
     "type of --value: BOOLEAN, INTEGER (default), UNSIGNED,\nREAL32FIX or REAL32",
     [](RequestOptions& r, const std::string& v, std::string& why) {
         return typeName(v, false, r.type, why);
     }},
    {"wts", nullptr, dataGroup, "set the WTS flag", setFlag(&RequestOptions::wtsBit)},
    {"subl", nullptr, dataGroup, "set the SubL flag of the data block",
     setFlag(&RequestOptions::subLBit)},
    {"ef", nullptr, dataGroup,
     "set the EF flag: data_0 and data_1 then carry the number\nof extended bytes, low byte "
     "first",
     setFlag(&RequestOptions::efBit)},
    {"ext", "B,B,...", dataGroup,
     "extended data bytes 0..FF (needs --ef); sent in extended\nblocks of seven bytes when "
     "--wts is set too",
     [](RequestOptions& r, const std::string& v, std::string& why) {
         std::vector<unsigned char> bytes;
         if (!parseHexList(v, 0xFF, bytes) || bytes.size() > 0xFFFF) {
             why = "expected hexadecimal bytes 0..FF, comma-separated (at most 65535)";
             return false;
         }
         r.extendedData = bytes;
         return true;
     }},
};

const RequestOptionDefinition* requestOption(const std::string& name) {
    for (const RequestOptionDefinition& d : requestOptions) {
        if (name == d.name) {
            return &d;
        }
    }
    return nullptr;
}

void addRequestOption(CLI::App& app, RequestOptions& target, const RequestOptionDefinition& d,
                      const std::string& group, const std::string& help) {
    const std::string names =
        (d.name == std::string("address") ? "-a,--" : "--") + std::string(d.name);
    if (d.argument == nullptr) {
        flag(app, names, group, help, [&d, &target] {
            std::string ignored;
            d.apply(target, "", ignored);
        });
    } else {
        valued(app, names, d.argument, group, help,
               [&d, &target](const std::string& v, std::string& why) {
                   return d.apply(target, v, why);
               });
    }
}

const char* const portHelp =
    "serial port: COMn (a link in $XDG_CONFIG_HOME/ORBEK/ports,\nelse the fixed table: COM1.. "
    "= /dev/ttyS0.., COM33.. =\n/dev/ttyUSB0.., COM97.. = /dev/ttyACM0..) or a device path";

// The whole tool as a tree of commands, every option defined once here.
struct Parser {
    CLI::App app;
    CLI::App* commands[4] = {&app, nullptr, nullptr, nullptr}; // by Command
    bool formatClash = false; // --json and --csv, which exclude each other
    bool cycleGiven = false;
    bool fromGiven = false;

    explicit Parser(Invocation& in) {
        cli::prepare(app);
        defineSingle(app, in.single);
        commands[1] = app.add_subcommand("scan", "ask every address of a range, list the slaves "
                                                 "that answer");
        commands[2] = app.add_subcommand("monitor", "decode the blocks on the line without "
                                                    "sending; save and replay captures");
        commands[3] = app.add_subcommand("run", "run a test plan (JSON or YAML) with checks on "
                                                "every answer; JUnit report");
        for (CLI::App* sub : {commands[1], commands[2], commands[3]}) {
            cli::prepare(*sub);
        }
        defineScan(*commands[1], in.scan);
        defineMonitor(*commands[2], in.monitor);
        defineRun(*commands[3], in.run);
    }

    static void addLine(CLI::App& app, std::string& port, unsigned& baud, const std::string& group,
                        const char* portText, const char* baudText) {
        valued(app, "-p,--port", "PORT", group, portText, text(port, "name"));
        valued(app, "-b,--baud", "RATE", group, baudText, decimal(baud, 1, 4000000));
    }

    static void addTimes(CLI::App& app, unsigned& timeout, unsigned& restarts,
                         const std::string& group) {
        valued(app, "--timeout", "MS", group,
               "time-out for each received byte, in ms (default 150)",
               decimal(timeout, 0, 3600000));
        valued(app, "--restarts", "N", group,
               "block restarts on a stray header byte allowed per\nreception (default 0)",
               decimal(restarts, 0, 1000000));
    }

    // --json, --csv and --quiet, which every command has.
    void addOutput(CLI::App& app, Output& output, const std::string& group, const char* jsonHelp,
                   const char* csvHelp, const char* quietHelp) {
        const auto format = [this, &output](OutputMode mode) {
            return [this, &output, mode] {
                formatClash =
                    formatClash || (output.mode != mode && output.mode != OutputMode::Text);
                output.mode = mode;
            };
        };
        flag(app, "--json", group, jsonHelp, format(OutputMode::Json));
        flag(app, "--csv", group, csvHelp, format(OutputMode::Csv));
        flag(app, "-q,--quiet", group, quietHelp, [&output] { output.quiet = true; });
    }

    static void help(CLI::App& app, const std::string& group) {
        flag(app, "-h,--help", group, "show this help and exit", [] { throw CLI::CallForHelp(); });
    }

    // What scan, monitor and run end their options with.
    void addCommandEnd(CLI::App& a, std::string& port, unsigned& baud, Output& output,
                       const char* portText, const char* baudText, const char* jsonHelp,
                       const char* csvHelp) {
        addLine(a, port, baud, "Options", portText, baudText);
        addOutput(a, output, "Options", jsonHelp, csvHelp, "only the summary");
        help(a, "Options");
    }

    void defineSingle(CLI::App& a, CommandLine& o) {
        const std::string line = "Line";
        addLine(a, o.port, o.baudRate, line, portHelp,
                "baud rate (default 115200; the bus runs at 115200, 500000\nor 1000000)");
        addTimes(a, o.byteTimeoutMs, o.maxRestarts, line);
        for (const RequestOptionDefinition& d : requestOptions) {
            addRequestOption(a, o.request, d, d.group, d.help);
        }
        const std::string sending = "Sending";
        valued(a, "--cycle", "MS", sending,
               "send cyclically: wait MS ms, exchange, repeat (0 counts\nas 1); without --count "
               "until Ctrl-C",
               [this, &o](const std::string& v, std::string& why) {
                   cycleGiven = true;
                   return decimal(o.periodMs, 0, UINT_MAX)(v, why);
               });
        valued(a, "--count", "N", sending,
               "stop after N exchanges (with a 100 ms cycle when --cycle\nis not given)",
               decimal(o.count, 1, UINT_MAX));
        const std::string output = "Output";
        valued(a, "--rx-type", "TYPE", output,
               "show the answer's data bytes as a BOOLEAN, INTEGER,\nUNSIGNED, REAL32FIX or REAL32 "
               "value (default NONE)",
               [&o](const std::string& v, std::string& why) {
                   return typeName(v, true, o.rxType, why);
               });
        addOutput(a, o.output, output,
                  "one JSON object per line (\"type\": \"exchange\" or \"summary\")",
                  "a header line, then one row per exchange; the summary of\na cyclic run goes "
                  "to standard error",
                  "nothing per exchange, only the summary");
        help(a, output);
        flag(a, "-V,--version", output, "show the version and exit",
             [] { throw CLI::CallForVersion(); });
    }

    void defineScan(CLI::App& a, ScanOptions& o) {
        const std::string g = "Options";
        valued(a, "--from", "A", g, "first address to try, 1..7F (default 1)",
               [this, &o](const std::string& v, std::string& why) {
                   fromGiven = true;
                   return hexNumber(v, 1, 0x7F, o.from, why);
               });
        valued(a, "--to", "A", g, "last address to try, 1..7F (default 7F)",
               [&o](const std::string& v, std::string& why) {
                   return hexNumber(v, 1, 0x7F, o.to, why);
               });
        valued(a, "--levels", "A1", g,
               "walk the second address level under address_1 A1;\n--from and --to then give "
               "address_2",
               [&o](const std::string& v, std::string& why) {
                   return hexNumber(v, 1, 0x7F, o.levelOne, why);
               });
        addTimes(a, o.byteTimeoutMs, o.maxRestarts, g);
        valued(a, "--retries", "N", g,
               "ask a silent or faulty address up to N more times\n(default 0)",
               decimal(o.retries, 0, 100));
        for (const char* name : {"code", "index", "ao"}) {
            const RequestOptionDefinition& d = *requestOption(name);
            addRequestOption(a, o.request, d, g, std::string(d.help) + "; the request sent");
        }
        addCommandEnd(a, o.port, o.baudRate, o.output, portHelp, "baud rate (default 115200)",
                      "one object per address (\"type\": \"scan\") and a summary\n(\"type\": "
                      "\"scan_summary\")",
                      "a header line, then one row per address; the summary goes\nto standard "
                      "error");
    }

    void defineMonitor(CLI::App& a, MonitorOptions& o) {
        const std::string g = "Options";
        valued(a, "--raw", "FILE", g, "also save the bytes with their arrival times",
               text(o.rawFile, "file name"));
        valued(a, "--replay", "FILE", g, "decode a capture saved with --raw instead of a port",
               text(o.replayFile, "file name"));
        valued(a, "--idle", "MS", g,
               "silence that ends an unfinished block (default 150,\nthe session's byte time-out)",
               decimal(o.idleMs, 1, 3600000));
        valued(a, "--duration", "MS", g, "stop after MS ms (default: until Ctrl-C or SIGTERM)",
               decimal(o.durationMs, 1, 86400000));
        addCommandEnd(a, o.port, o.baudRate, o.output, portHelp, "baud rate (default 115200)",
                      "one JSON object per block (\"type\": \"block\"), then a\nsummary "
                      "(\"type\": \"monitor_summary\")",
                      "a header line, then one row per block; the summary\ngoes to standard "
                      "error");
    }

    void defineRun(CLI::App& a, RunOptions& o) {
        a.add_option("PLAN", o.planFile, "the plan file")->group("");
        valued(a, "--junit", "FILE", "Options",
               "also write a JUnit XML report (one testcase per step)",
               text(o.junitFile, "file name"));
        addCommandEnd(a, o.port, o.baudRate, o.output, "the port (overrides the plan's \"port\")",
                      "the baud rate (overrides the plan's \"baud\")",
                      "one object per step (\"type\": \"step\") and a summary\n(\"type\": "
                      "\"plan_summary\")",
                      "a header line, then one row per step; the summary goes\nto standard error");
    }
};

const char* const singleIntro = R"(Usage: velkctl --port PORT --address A1[,A2,A3,A4] [OPTION]...
  or:  velkctl scan --port PORT [OPTION]...
  or:  velkctl monitor --port PORT | --replay FILE [OPTION]...
  or:  velkctl run PLAN [OPTION]...
Send one VELK request as bus master, once or cyclically, and show each answer.
Commands (each described after this one; velkctl COMMAND --help for one):
)";

const char* const singleNotes = R"(
Hexadecimal values are written 1F or 0x1F (any case); baud rate, times and
counts are decimal. A value out of range is a usage error.
)";

const char* const singleFooter = R"(
Ctrl-C (SIGINT) or SIGTERM ends the run at once, even in the middle of an
exchange (which is then not counted), and prints the summary.

Each exchange shows its start time (ISO 8601, local time, milliseconds), the
response time, the transmitted address and data packets and the received data
packet as it came off the line (hexadecimal, upper case, no leading zeros;
stray bytes before the answer's header included), the answer's fields and
extended bytes when an answer was decoded (codes 0, 7, 8), the typed value,
and the error code with its text. A cyclic run (or --quiet) ends with a
summary: requests, answers OK, errors by code, and the response time of the
answers OK (min / median / p99 / max, in ms).

A port whose device hangs up or fails (an adapter pulled, a slave program
ended) is opened again by its name before the next exchange, at most every
250 ms, so the run goes on when the device comes back. Each loss and return is
reported on standard error, and each record says whether the port was opened
again for it and lost during it (port_reopened, port_lost). A pseudo-terminal
named by its path does not come back: the run ends with status 74.

Exit status:
  0        the last exchange succeeded (also a cyclic run stopped before any)
  1 to 8   the error code of the last exchange:
             1 address block not packed    5 no answer (time-out)
             2 data block not packed       6 answer did not decode
             3 extended block not packed   7 extended answer block missing
             4 transmission failed         8 extended answer did not decode
  64       usage error
  74       the port cannot be opened (the message says why), or was lost
           and cannot come back
  130, 143 stopped by SIGINT (Ctrl-C) or SIGTERM

Examples:
  velkctl --port COM3 --address 5 --code 3 --index 1
  velkctl --port COM3 --address 5,1 --code 83 --value 12.5 --type REAL32FIX --wts
  velkctl --port COM3 --address 5 --code 3 --cycle 200 --count 50 --quiet
  velkctl --port /dev/ttyUSB0 --address 5 --ef --wts --ext 41,42,43 --json
)";

const char* const scanIntro = R"(Usage: velkctl scan --port PORT [OPTION]...
Find the slaves that answer: one request to each address of a range, lowest
first, with a short time-out. Lists every address that answered (with the
answer's fields and the response time) or answered with faults, then a
summary of answered, silent and faulty addresses.
)";

const char* const scanFooter =
    R"(On a terminal a progress line shows the address being asked. A fault is named
by what came back: bad CRC, cut short, or noise before the answer (with the
bytes). Ctrl-C or SIGTERM ends the scan at once, even in the middle of an
exchange, with the summary.
Exit status: 0 at least one slave answered, 1 none did, 64 usage error,
74 the port cannot be opened or sending failed, 130 or 143 stopped by SIGINT
or SIGTERM.
)";

const char* const monitorIntro = R"(Usage: velkctl monitor --port PORT [OPTION]...
  or:  velkctl monitor --replay FILE [OPTION]...
Decode what is on the line: every address, data and extended block with its
CRC verdict, as request or answer, with its arrival time and the gap before
it (microseconds). A header byte (bit 7 set) always starts a block, so a block
cut short by the next one, or by silence, is shown as such; bytes that belong
to no block are shown as noise. The port is opened for itself alone, RTS and
DTR stay low and nothing is ever written to it.
)";

const char* const monitorFooter =
    R"(Text shows one line per block: time, gap, direction, kind, verdict, the bytes
in hexadecimal and the decoded fields. The summary counts blocks by verdict,
requests, answers and noise. Ctrl-C or SIGTERM ends the watch or the replay,
with the summary.
Exit status: 0 done, 64 usage error, 65 the capture is damaged, 74 the port
or a file cannot be opened, or the port was lost, 130 or 143 stopped by
SIGINT or SIGTERM.
)";

const char* const runIntro = R"(Usage: velkctl run PLAN [OPTION]...
Run a test plan: a JSON file (comments allowed) or a YAML file (.yaml, .yml)
listing steps, each a request, checks on its answer, repeats, a delay and
variables captured for later steps. The whole plan is checked before anything
is sent. Prints one line per step (pass or fail, and why), then a summary.
)";

const char* const runFooter =
    R"(A plan: {"port": "COM9", "timeout": 150, "restarts": 0, "steps": [STEP, ...]}
A step: {"name": "...", "comment": "...",
         "request": {the single request's options without the dashes:
                     "address": "5,1", "code": "10", "wts": true, "value": "12.5",
                     "type": "REAL32FIX", "ef": true, "ext": "41,42", ...},
         "expect": {"error": 0, "code": "10", "errBit": false, "data": "1,2,3,4",
                    "ext": "41,42", "ext_count": 2, "max_ms": 50,
                    "value": {"type": "REAL32FIX", "equals": 12.5,
                              "tolerance": 0.001}},
         "capture": {"name": "data_0"}, "repeat": 1, "delay_ms": 0,
         "timeout": 150}
Hexadecimal fields are strings written as on the command line ("1F"); a
captured variable is used as ${name} in any later string. Without "error" a
step expects code 0. A field an answer may carry: code, index, ao, ntxt,
status, data_0..data_3, wtsBit, csBit, subLBit, efBit, errBit, data, ext,
ext_count; a capture may also take "value:TYPE". The JUnit report is written
once the plan has run; an existing one is left alone until then. Ctrl-C or
SIGTERM ends the run at once, even in the middle of an exchange, with the
steps so far and the summary.
Exit status: 0 every step passed, 1 a step failed, 64 usage error or invalid
plan (FILE:LINE: reason), 74 the port or the report cannot be opened, 130 or
143 stopped by SIGINT or SIGTERM.
)";

// The help around each command's options, by Command.
const struct {
    const char* intro;
    const char* notes;
    const char* footer;
} helpTexts[] = {{singleIntro, singleNotes, singleFooter},
                 {scanIntro, "", scanFooter},
                 {monitorIntro, "", monitorFooter},
                 {runIntro, "", runFooter}};

// A unique prefix of a long option stands for it, as with getopt. Not for
// the argument of an option.
std::vector<std::string> expandAbbreviations(const CLI::App& app,
                                             std::vector<std::string> arguments) {
    bool argumentNext = false;
    for (std::string& a : arguments) {
        if (argumentNext || a.size() < 3 || a.compare(0, 2, "--") != 0) {
            argumentNext = false;
            continue;
        }
        const std::string::size_type eq = a.find('=');
        const std::string name = a.substr(2, eq == std::string::npos ? eq : eq - 2);
        const CLI::Option* found = nullptr;
        int matches = 0;
        for (const CLI::Option* o : app.get_options()) {
            for (const std::string& l : o->get_lnames()) {
                if (l == name) {
                    found = o;
                    matches = -1000;
                } else if (l.compare(0, name.size(), name) == 0) {
                    found = o;
                    ++matches;
                }
            }
        }
        if (matches == 1) {
            a = "--" + found->get_lnames().front() + (eq == std::string::npos ? "" : a.substr(eq));
        }
        argumentNext = found != nullptr && matches != 0 && matches <= 1 &&
                       found->get_expected_max() != 0 && eq == std::string::npos;
    }
    return arguments;
}

// The checks between the options of the command once all are applied.
std::string conflicts(Invocation& in, const Parser& parser) {
    std::string error;
    switch (in.command) {
    case Command::Single: {
        CommandLine& o = in.single;
        if (o.port.empty() || !o.request.addressGiven) {
            return o.port.empty() ? "missing --port" : "missing --address";
        }
        if (!finishRequest(o.request, error)) {
            return error;
        }
        if (parser.cycleGiven || o.count != 0) {
            o.cyclic = true;
            o.periodMs = std::max(o.periodMs, 1u);
        }
        break;
    }
    case Command::Scan:
        if (in.scan.port.empty()) {
            return "missing --port";
        }
        if (in.scan.from > in.scan.to) {
            return parser.fromGiven ? "--from is above --to" : "--to is below the first address 1";
        }
        break;
    case Command::Monitor: {
        const MonitorOptions& o = in.monitor;
        if (o.port.empty() == o.replayFile.empty()) {
            return o.port.empty() ? "give --port or --replay"
                                  : "--port and --replay exclude each other";
        }
        if (!o.replayFile.empty() && (!o.rawFile.empty() || o.durationMs != 0)) {
            return "--replay takes no --raw or --duration";
        }
        break;
    }
    case Command::Run:
        if (in.run.planFile.empty()) {
            return "missing PLAN";
        }
        break;
    }
    return parser.formatClash ? "--json and --csv exclude each other" : "";
}

} // namespace

ParseResult parseVelkctl(int argc, char* argv[], Invocation& out, std::string& error) {
    out = Invocation();
    error.clear();
    Parser parser(out);
    const std::string first = argc > 1 ? argv[1] : "";
    for (Command c : {Command::Scan, Command::Monitor, Command::Run}) {
        out.command = first == parser.commands[int(c)]->get_name() ? c : out.command;
    }
    CLI::App& command = *parser.commands[int(out.command)];
    std::vector<std::string> arguments(argv + (&command == &parser.app ? 1 : 2), argv + argc);
    arguments = expandAbbreviations(command, arguments);
    if (&command != &parser.app) {
        arguments.insert(arguments.begin(), first);
    }
    switch (cli::parse(parser.app, command, arguments, error)) {
    case cli::Outcome::Help:
        return ParseResult::Help;
    case cli::Outcome::Version:
        return ParseResult::Version;
    case cli::Outcome::UsageError:
        return ParseResult::UsageError;
    case cli::Outcome::Run:
        break;
    }
    for (const CLI::App* other : parser.commands) {
        if (other != &command && other != &parser.app && other->parsed()) {
            error =
                "unexpected argument " + cli::quoted(other->get_name()); // a command comes first
            return ParseResult::UsageError;
        }
    }
    error = conflicts(out, parser);
    return error.empty() ? ParseResult::Run : ParseResult::UsageError;
}

ParseResult parseCommandLine(int argc, char* argv[], CommandLine& out, std::string& error) {
    Invocation in;
    const ParseResult result = parseVelkctl(argc, argv, in, error);
    if (result == ParseResult::Run && in.command != Command::Single) {
        error = "unexpected argument " + cli::quoted(argv[1]);
        return ParseResult::UsageError;
    }
    out = in.single;
    return result;
}

std::string velkctlHelp(Command command) {
    Invocation in;
    const Parser parser(in);
    const CLI::App& app = *parser.commands[int(command)];
    std::string text = helpTexts[int(command)].intro;
    for (const CLI::App* sub : app.get_subcommands({})) {
        text += "  " + sub->get_name() + std::string(10 - sub->get_name().size(), ' ') +
                sub->get_description() + "\n";
    }
    return text + helpTexts[int(command)].notes + cli::optionsHelp(app) +
           helpTexts[int(command)].footer;
}

bool applyRequestOption(RequestOptions& request, const std::string& name, const std::string& value,
                        std::string& error) {
    const RequestOptionDefinition* d = requestOption(name);
    std::string why;
    if (d == nullptr) {
        error = "unknown option " + cli::quoted("--" + name);
        return false;
    }
    if (!d->apply(request, value, why)) {
        error = "invalid --" + name + " " + cli::quoted(value) + ": " + why;
        return false;
    }
    return true;
}

bool isRequestOption(const std::string& name, bool* isFlag) {
    const RequestOptionDefinition* d = requestOption(name);
    if (d != nullptr && isFlag != nullptr) {
        *isFlag = d->argument == nullptr;
    }
    return d != nullptr;
}

bool finishRequest(RequestOptions& r, std::string& error) {
    error.clear();
    std::string why;
    const int type = r.type < 0 ? parameterTypeCode("INTEGER") : r.type;
    if (r.type >= 0 && !r.valueGiven) {
        error = "--type needs --value";
    } else if (r.valueGiven && r.dataGiven) {
        error = "--value and --data exclude each other";
    } else if (r.valueGiven && r.efBit) {
        error = "--value cannot be used with --ef (data_0 and data_1 carry the length)";
    } else if (r.valueGiven && !splitUserValue(r.value, type, r.data, why)) {
        error = "invalid --value " + cli::quoted(r.value) + ": " + why;
    } else if (!r.extendedData.empty() && !r.efBit) {
        error = "--ext needs --ef";
    } else if (r.efBit) {
        const auto n = unsigned(r.extendedData.size());
        r.data[0] = static_cast<unsigned char>(n & 0xFF);
        r.data[1] = static_cast<unsigned char>((n >> 8) & 0xFF);
    }
    return error.empty();
}

ExchangeRequest exchangeRequest(const RequestOptions& r, unsigned byteTimeoutMs,
                                unsigned maxRestarts) {
    ExchangeRequest request;
    request.address.address = Velk21Address(r.address[0], r.address[1], r.address[2], r.address[3]);
    request.address.timeBit = r.timeBit ? 1 : 0;
    request.data =
        Velk21DataBlockKernel(Velk21ParameterId(r.code, r.index), r.ao, r.ntxt, r.status,
                              r.wtsBit ? 1 : 0, 0, r.subLBit ? 1 : 0, r.efBit ? 1 : 0, 0);
    std::copy(r.data, r.data + 4, request.data.data);
    for (unsigned char b : r.extendedData) {
        request.extendedData.append(b);
    }
    request.byteTimeoutMs = byteTimeoutMs;
    request.maxRestarts = maxRestarts;
    return request;
}
