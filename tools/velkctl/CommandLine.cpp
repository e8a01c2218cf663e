#include "CommandLine.h"

#include "ExchangeOutput.h"
#include "UserValue.h"

#include <getopt.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

enum OptionId {
    OptPort = 'p',
    OptBaud = 'b',
    OptAddress = 'a',
    OptQuiet = 'q',
    OptHelp = 'h',
    OptVersion = 'V',
    OptAddress1 = 256,
    OptAddress2,
    OptAddress3,
    OptAddress4,
    OptTime,
    OptCode,
    OptIndex,
    OptAo,
    OptNtxt,
    OptStatus,
    OptData,
    OptValue,
    OptType,
    OptWts,
    OptSubl,
    OptEf,
    OptExt,
    OptTimeout,
    OptRestarts,
    OptCycle,
    OptCount,
    OptRxType,
    OptJson,
    OptCsv,
};

const option longOptions[] = {
    {"port", required_argument, nullptr, OptPort},
    {"baud", required_argument, nullptr, OptBaud},
    {"address", required_argument, nullptr, OptAddress},
    {"address-1", required_argument, nullptr, OptAddress1},
    {"address-2", required_argument, nullptr, OptAddress2},
    {"address-3", required_argument, nullptr, OptAddress3},
    {"address-4", required_argument, nullptr, OptAddress4},
    {"time", no_argument, nullptr, OptTime},
    {"code", required_argument, nullptr, OptCode},
    {"index", required_argument, nullptr, OptIndex},
    {"ao", required_argument, nullptr, OptAo},
    {"ntxt", required_argument, nullptr, OptNtxt},
    {"status", required_argument, nullptr, OptStatus},
    {"data", required_argument, nullptr, OptData},
    {"value", required_argument, nullptr, OptValue},
    {"type", required_argument, nullptr, OptType},
    {"wts", no_argument, nullptr, OptWts},
    {"subl", no_argument, nullptr, OptSubl},
    {"ef", no_argument, nullptr, OptEf},
    {"ext", required_argument, nullptr, OptExt},
    {"timeout", required_argument, nullptr, OptTimeout},
    {"restarts", required_argument, nullptr, OptRestarts},
    {"cycle", required_argument, nullptr, OptCycle},
    {"count", required_argument, nullptr, OptCount},
    {"rx-type", required_argument, nullptr, OptRxType},
    {"json", no_argument, nullptr, OptJson},
    {"csv", no_argument, nullptr, OptCsv},
    {"quiet", no_argument, nullptr, OptQuiet},
    {"help", no_argument, nullptr, OptHelp},
    {"version", no_argument, nullptr, OptVersion},
    {nullptr, 0, nullptr, 0},
};

const char shortOptions[] = ":p:b:a:qhV";

std::string optionName(int id) {
    for (const option* o = longOptions; o->name != nullptr; ++o) {
        if (o->val == id) {
            return std::string("--") + o->name;
        }
    }
    return "?";
}

std::string quoted(const std::string& text) {
    return "'" + printableText(text) + "'";
}

// The long option named in a command-line element ("--name" or "--name=..."),
// abbreviations included, or null.
const option* longOptionIn(const char* element) {
    if (element == nullptr || std::strncmp(element, "--", 2) != 0) {
        return nullptr;
    }
    const std::string name(element + 2, std::strcspn(element + 2, "="));
    const option* found = nullptr;
    for (const option* o = longOptions; o->name != nullptr; ++o) {
        if (name == o->name) {
            return o;
        }
        if (!name.empty() && std::strncmp(o->name, name.c_str(), name.size()) == 0) {
            found = found == nullptr ? o : nullptr;
        }
    }
    return found;
}

// How to name the option getopt stumbled on: the long name when the element
// was a long option, even for one that also has a short form.
std::string failedOptionName(int id, const char* element) {
    const option* named = longOptionIn(element);
    if (id >= 256 || (named != nullptr && named->val == id)) {
        return optionName(id);
    }
    return std::string("'-") + char(id) + "'";
}

bool digitsOnly(const std::string& text, bool hex) {
    if (text.empty()) {
        return false;
    }
    for (unsigned char c : text) {
        if (hex ? !std::isxdigit(c) : !std::isdigit(c)) {
            return false;
        }
    }
    return true;
}

bool parseNumber(const std::string& text, unsigned base, unsigned max, unsigned& out) {
    if (!digitsOnly(text, base == 16)) {
        return false;
    }
    unsigned long long n = 0;
    for (unsigned char c : text) {
        const unsigned digit =
            std::isdigit(c) ? unsigned(c - '0') : unsigned(std::toupper(c) - 'A' + 10);
        n = n * base + digit;
        if (n > max) {
            return false;
        }
    }
    out = unsigned(n);
    return true;
}

std::string hexRange(unsigned max) {
    char text[16];
    std::snprintf(text, sizeof text, "0..%X", max);
    return text;
}

} // namespace

bool parseHexNumber(const std::string& text, unsigned max, unsigned& out) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return parseNumber(text.substr(2), 16, max, out);
    }
    return parseNumber(text, 16, max, out);
}

bool parseDecimalNumber(const std::string& text, unsigned max, unsigned& out) {
    return parseNumber(text, 10, max, out);
}

bool parseHexList(const std::string& text, unsigned max, std::vector<unsigned char>& out) {
    // Items are separated by commas; blanks separate items too. An empty item
    // (",,", a comma at either end, nothing at all) is an error.
    std::vector<unsigned char> bytes;
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type comma = text.find(',', start);
        const std::string piece =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::istringstream tokens(piece);
        std::string token;
        bool any = false;
        while (tokens >> token) {
            unsigned value = 0;
            if (!parseHexNumber(token, max, value)) {
                return false;
            }
            bytes.push_back(static_cast<unsigned char>(value));
            any = true;
        }
        if (!any) {
            return false;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    out = bytes;
    return true;
}

const char* velkctlUsage() {
    return R"(Usage: velkctl --port PORT --address A1[,A2,A3,A4] [OPTION]...
  or:  velkctl scan --port PORT [OPTION]...
  or:  velkctl monitor --port PORT | --replay FILE [OPTION]...
  or:  velkctl run PLAN [OPTION]...
Send one VELK request as bus master, once or cyclically, and show each answer.
Commands (each described after this one; velkctl COMMAND --help for one):
  scan      ask every address of a range, list the slaves that answer
  monitor   decode the blocks on the line without sending; save and replay captures
  run       run a test plan (JSON or YAML) with checks on every answer; JUnit report

Hexadecimal values are written 1F or 0x1F (any case); baud rate, times and
counts are decimal. A value out of range is a usage error.

Line:
  -p, --port PORT          serial port: COMn (a link in $XDG_CONFIG_HOME/ORBEK/ports,
                           else the fixed table: COM1.. = /dev/ttyS0.., COM33.. =
                           /dev/ttyUSB0.., COM97.. = /dev/ttyACM0..) or a device path
  -b, --baud RATE          baud rate (default 115200; the bus runs at 115200, 500000
                           or 1000000)
      --timeout MS         time-out for each received byte, in ms (default 150)
      --restarts N         block restarts on a stray header byte allowed per
                           reception (default 0)

Address block:
  -a, --address A1[,A2,A3,A4]
                           address levels 0..7F; levels not given are 0
      --address-1 A ... --address-4 A
                           one address level each
      --time               set the time flag

Data block:
      --code C             command code 0..FF (default 0)
      --index I            parameter index 0..FF (default 0)
      --ao A               sender's address 0..7F (default 1F)
      --ntxt N             0..7F (default 0)
      --status S           0..FF (default 0)
      --data B0[,B1,B2,B3] data bytes data_0 to data_3, 0..FF; missing ones are 0
      --value V            a decimal value split into the four data bytes by --type;
                           the digits after the point give the decimals (1 to 3)
      --type TYPE          type of --value: BOOLEAN, INTEGER (default), UNSIGNED,
                           REAL32FIX or REAL32
      --wts                set the WTS flag
      --subl               set the SubL flag of the data block
      --ef                 set the EF flag: data_0 and data_1 then carry the number
                           of extended bytes, low byte first
      --ext B,B,...        extended data bytes 0..FF (needs --ef); sent in extended
                           blocks of seven bytes when --wts is set too

Sending:
      --cycle MS           send cyclically: wait MS ms, exchange, repeat (0 counts
                           as 1); without --count until Ctrl-C
      --count N            stop after N exchanges (with a 100 ms cycle when --cycle
                           is not given)
  Ctrl-C (SIGINT) or SIGTERM ends the run at once, even in the middle of an
  exchange (which is then not counted), and prints the summary.

Output:
      --rx-type TYPE       show the answer's data bytes as a BOOLEAN, INTEGER,
                           UNSIGNED, REAL32FIX or REAL32 value (default NONE)
      --json               one JSON object per line ("type": "exchange" or "summary")
      --csv                a header line, then one row per exchange; the summary of
                           a cyclic run goes to standard error
  -q, --quiet              nothing per exchange, only the summary
  -h, --help               show this help and exit
  -V, --version            show the version and exit

Each exchange shows its start time (ISO 8601, local time, milliseconds), the
response time, the transmitted address and data packets and the received data
packet as it came off the line (hexadecimal, upper case, no leading zeros), the
answer's fields and extended bytes when an answer was decoded (codes 0, 7, 8),
the typed value, and the error code with its text. A cyclic run (or --quiet)
ends with a summary: requests, answers OK, errors by code, and the response
time of the answers OK (min / median / p99 / max, in ms).

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
}

ParseResult parseCommandLine(int argc, char* argv[], CommandLine& out, std::string& error) {
    CommandLine cl;
    std::string value;
    bool valueGiven = false;
    int type = -1;
    bool dataGiven = false;
    bool cycleGiven = false;
    bool json = false;
    bool csv = false;

    auto fail = [&](const std::string& message) {
        error = message;
        return ParseResult::UsageError;
    };
    auto hexArgument = [&](int id, unsigned max, unsigned char& target) {
        unsigned n = 0;
        if (!parseHexNumber(optarg, max, n)) {
            error = "invalid " + optionName(id) + " " + quoted(optarg) +
                    ": expected a hexadecimal number " + hexRange(max);
            return false;
        }
        target = static_cast<unsigned char>(n);
        return true;
    };
    auto decimalArgument = [&](int id, unsigned min, unsigned max, unsigned& target) {
        unsigned n = 0;
        if (!parseDecimalNumber(optarg, max, n) || n < min) {
            error = "invalid " + optionName(id) + " " + quoted(optarg) +
                    ": expected a decimal number " + std::to_string(min) + ".." +
                    std::to_string(max);
            return false;
        }
        target = n;
        return true;
    };
    auto typeArgument = [&](int id, bool noneAllowed, int& target) {
        const int code = parameterTypeCode(optarg);
        if (code < 0 || (code == 0 && !noneAllowed)) {
            std::string upper = optarg;
            for (char& c : upper) {
                c = char(std::toupper(static_cast<unsigned char>(c)));
            }
            if (noneAllowed && upper == "NONE") {
                target = 0;
                return true;
            }
            error = "invalid " + optionName(id) + " " + quoted(optarg) +
                    ": expected BOOLEAN, INTEGER, UNSIGNED, REAL32FIX or REAL32" +
                    (noneAllowed ? " or NONE" : "");
            return false;
        }
        target = code;
        return true;
    };

    optind = 0; // full re-initialisation, so that the parser can run more than once
    opterr = 0;
    while (true) {
        const int id = getopt_long(argc, argv, shortOptions, longOptions, nullptr);
        if (id == -1) {
            break;
        }
        std::vector<unsigned char> bytes;
        bool ok = true;
        switch (id) {
        case OptHelp:
            return ParseResult::Help;
        case OptVersion:
            return ParseResult::Version;
        case OptPort:
            if (*optarg == '\0') {
                return fail("invalid --port: empty name");
            }
            cl.port = optarg;
            break;
        case OptBaud:
            ok = decimalArgument(id, 1, 4000000, cl.baudRate);
            break;
        case OptAddress:
            if (!parseHexList(optarg, 0x7F, bytes) || bytes.size() > 4) {
                return fail("invalid --address " + quoted(optarg) +
                            ": expected one to four hexadecimal levels 0..7F, comma-separated");
            }
            for (unsigned i = 0; i < 4; ++i) {
                cl.address[i] = i < bytes.size() ? bytes[i] : 0;
            }
            cl.addressGiven = true;
            break;
        case OptAddress1:
        case OptAddress2:
        case OptAddress3:
        case OptAddress4:
            ok = hexArgument(id, 0x7F, cl.address[id - OptAddress1]);
            cl.addressGiven = cl.addressGiven || id == OptAddress1;
            break;
        case OptTime:
            cl.timeBit = true;
            break;
        case OptCode:
            ok = hexArgument(id, 0xFF, cl.code);
            break;
        case OptIndex:
            ok = hexArgument(id, 0xFF, cl.index);
            break;
        case OptAo:
            ok = hexArgument(id, 0x7F, cl.ao);
            break;
        case OptNtxt:
            ok = hexArgument(id, 0x7F, cl.ntxt);
            break;
        case OptStatus:
            ok = hexArgument(id, 0xFF, cl.status);
            break;
        case OptData:
            if (!parseHexList(optarg, 0xFF, bytes) || bytes.size() > 4) {
                return fail("invalid --data " + quoted(optarg) +
                            ": expected one to four hexadecimal bytes 0..FF, comma-separated");
            }
            for (unsigned i = 0; i < 4; ++i) {
                cl.data[i] = i < bytes.size() ? bytes[i] : 0;
            }
            dataGiven = true;
            break;
        case OptValue:
            value = optarg;
            valueGiven = true;
            break;
        case OptType:
            ok = typeArgument(id, false, type);
            break;
        case OptWts:
            cl.wtsBit = true;
            break;
        case OptSubl:
            cl.subLBit = true;
            break;
        case OptEf:
            cl.efBit = true;
            break;
        case OptExt:
            if (!parseHexList(optarg, 0xFF, bytes) || bytes.size() > 0xFFFF) {
                return fail("invalid --ext " + quoted(optarg) +
                            ": expected hexadecimal bytes 0..FF, comma-separated (at most "
                            "65535)");
            }
            cl.extendedData = bytes;
            break;
        case OptTimeout:
            ok = decimalArgument(id, 0, 3600000, cl.byteTimeoutMs);
            break;
        case OptRestarts:
            ok = decimalArgument(id, 0, 1000000, cl.maxRestarts);
            break;
        case OptCycle:
            ok = decimalArgument(id, 0, UINT_MAX, cl.periodMs);
            cycleGiven = true;
            break;
        case OptCount:
            ok = decimalArgument(id, 1, UINT_MAX, cl.count);
            break;
        case OptRxType:
            ok = typeArgument(id, true, cl.rxType);
            break;
        case OptJson:
            json = true;
            break;
        case OptCsv:
            csv = true;
            break;
        case OptQuiet:
            cl.quiet = true;
            break;
        case ':':
            // A missing argument can only be at the end: the option is the last element read.
            return fail("option " + failedOptionName(optopt, argv[optind - 1]) +
                        " requires an argument");
        default: { // '?'
            // A known option with an argument it does not take ("--quiet=1")
            // names itself in optopt, its short letter included.
            const option* named = longOptionIn(argv[optind - 1]);
            if (optopt >= 256 || (optopt != 0 && named != nullptr && named->val == optopt)) {
                return fail("option " + optionName(optopt) + " takes no argument");
            }
            if (optopt != 0 && std::isprint(optopt)) {
                return fail(std::string("unknown option '-") + char(optopt) + "'");
            }
            return fail("unknown or ambiguous option " + quoted(argv[optind - 1]));
        }
        }
        if (!ok) {
            return ParseResult::UsageError;
        }
    }
    if (optind < argc) {
        return fail("unexpected argument " + quoted(argv[optind]));
    }

    if (cl.port.empty()) {
        return fail("missing --port");
    }
    if (!cl.addressGiven) {
        return fail("missing --address");
    }
    if (json && csv) {
        return fail("--json and --csv exclude each other");
    }
    cl.mode = json ? OutputMode::Json : (csv ? OutputMode::Csv : OutputMode::Text);
    if (type >= 0 && !valueGiven) {
        return fail("--type needs --value");
    }
    if (valueGiven) {
        if (dataGiven) {
            return fail("--value and --data exclude each other");
        }
        if (cl.efBit) {
            return fail("--value cannot be used with --ef (data_0 and data_1 carry the length)");
        }
        std::string why;
        if (!splitUserValue(value, type < 0 ? parameterTypeCode("INTEGER") : type, cl.data, why)) {
            return fail("invalid --value " + quoted(value) + ": " + why);
        }
    }
    if (!cl.extendedData.empty() && !cl.efBit) {
        return fail("--ext needs --ef");
    }
    if (cl.efBit) {
        const auto n = unsigned(cl.extendedData.size());
        cl.data[0] = static_cast<unsigned char>(n & 0xFF);
        cl.data[1] = static_cast<unsigned char>((n >> 8) & 0xFF);
    }
    if (cycleGiven || cl.count != 0) {
        cl.cyclic = true;
        if (cl.periodMs == 0) {
            cl.periodMs = 1;
        }
    }
    out = cl;
    return ParseResult::Run;
}
