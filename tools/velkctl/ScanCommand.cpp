#include "ScanCommand.h"

#include "BusDecoder.h"
#include "ExchangeOutput.h"
#include "StopSignals.h"
#include "SubcommandSupport.h"
#include "Velk21Session.h"
#include "Velkctl.h"

#include <chrono>
#include <cstdio>

namespace {

enum ScanOptionId {
    ScanPort = 'p',
    ScanBaud = 'b',
    ScanQuiet = 'q',
    ScanHelp = 'h',
    ScanFrom = 256,
    ScanTo,
    ScanLevels,
    ScanTimeout,
    ScanRetries,
    ScanCode,
    ScanIndex,
    ScanAo,
    ScanJson,
    ScanCsv,
};

const option scanOptions[] = {
    {"port", required_argument, nullptr, ScanPort},
    {"baud", required_argument, nullptr, ScanBaud},
    {"from", required_argument, nullptr, ScanFrom},
    {"to", required_argument, nullptr, ScanTo},
    {"levels", required_argument, nullptr, ScanLevels},
    {"timeout", required_argument, nullptr, ScanTimeout},
    {"retries", required_argument, nullptr, ScanRetries},
    {"code", required_argument, nullptr, ScanCode},
    {"index", required_argument, nullptr, ScanIndex},
    {"ao", required_argument, nullptr, ScanAo},
    {"json", no_argument, nullptr, ScanJson},
    {"csv", no_argument, nullptr, ScanCsv},
    {"quiet", no_argument, nullptr, ScanQuiet},
    {"help", no_argument, nullptr, ScanHelp},
    {nullptr, 0, nullptr, 0},
};

std::string hexByte(unsigned value) {
    const unsigned char b = static_cast<unsigned char>(value);
    return hexBytes(&b, 1);
}

std::string addressText(const ScanEntry& e) {
    return e.levels[1] == 0 ? hexByte(e.levels[0])
                            : hexByte(e.levels[0]) + "," + hexByte(e.levels[1]);
}

const char* resultName(ScanEntry::Result result) {
    switch (result) {
    case ScanEntry::Result::Answered:
        return "answered";
    case ScanEntry::Result::Faulty:
        return "faulty";
    case ScanEntry::Result::Silent:
        break;
    }
    return "silent";
}

} // namespace

const char* scanUsage() {
    return R"(Usage: velkctl scan --port PORT [OPTION]...
Find the slaves that answer: one request to each address of a range, lowest
first, with a short time-out. Lists every address that answered (with the
answer's fields and the response time) or answered with faults, then a
summary of answered, silent and faulty addresses.

      --from A             first address to try, 1..7F (default 1)
      --to A               last address to try, 1..7F (default 7F)
      --levels A1          walk the second address level under address_1 A1;
                           --from and --to then give address_2
      --timeout MS         time-out for each answer byte, in ms (default 150)
      --retries N          ask a silent or faulty address up to N more times
                           (default 0)
      --code C, --index I, --ao A
                           the request sent (default code 0, index 0, ao 1F)
  -p, --port PORT, -b, --baud RATE, --json, --csv, -q, --quiet
                           as for a single request; --json gives one object
                           per address ("type": "scan") and a summary
                           ("type": "scan_summary"); --csv puts the summary on
                           standard error
On a terminal a progress line shows the address being asked. Ctrl-C or
SIGTERM ends the scan after the address being asked, with the summary.
Exit status: 0 at least one slave answered, 1 none did, 64 usage error,
74 the port cannot be opened or sending failed.
)";
}

ParseResult parseScanCommandLine(int argc, char* argv[], ScanOptions& out, std::string& error) {
    ScanOptions o;
    bool json = false;
    bool csv = false;
    bool fromGiven = false;
    auto number = [&](int id, bool hex, unsigned min, unsigned max, unsigned& target) {
        unsigned n = 0;
        const bool ok = hex ? parseHexNumber(optarg, max, n) : parseDecimalNumber(optarg, max, n);
        if (!ok || n < min) {
            char range[32];
            std::snprintf(range, sizeof range, hex ? "%X..%X" : "%u..%u", min, max);
            error = "invalid " + longOptionName(scanOptions, id) + " '" + optarg +
                    "': expected a " + (hex ? "hexadecimal" : "decimal") + " number " + range;
            return false;
        }
        target = n;
        return true;
    };
    auto byte = [&](int id, unsigned max, unsigned char& target) {
        unsigned n = 0;
        if (!number(id, true, 0, max, n)) {
            return false;
        }
        target = static_cast<unsigned char>(n);
        return true;
    };

    optind = 0;
    opterr = 0;
    for (;;) {
        const int id = getopt_long(argc, argv, ":p:b:qh", scanOptions, nullptr);
        if (id == -1) {
            break;
        }
        unsigned n = 0;
        bool ok = true;
        switch (id) {
        case ScanHelp:
            return ParseResult::Help;
        case ScanPort:
            o.port = optarg;
            break;
        case ScanBaud:
            ok = number(id, false, 1, 4000000, o.baudRate);
            break;
        case ScanFrom:
            ok = number(id, true, 1, 0x7F, o.from);
            fromGiven = true;
            break;
        case ScanTo:
            ok = number(id, true, 1, 0x7F, o.to);
            break;
        case ScanLevels:
            ok = number(id, true, 1, 0x7F, n);
            o.levelOne = int(n);
            break;
        case ScanTimeout:
            ok = number(id, false, 0, 3600000, o.byteTimeoutMs);
            break;
        case ScanRetries:
            ok = number(id, false, 0, 100, o.retries);
            break;
        case ScanCode:
            ok = byte(id, 0xFF, o.code);
            break;
        case ScanIndex:
            ok = byte(id, 0xFF, o.index);
            break;
        case ScanAo:
            ok = byte(id, 0x7F, o.ao);
            break;
        case ScanJson:
            json = true;
            break;
        case ScanCsv:
            csv = true;
            break;
        case ScanQuiet:
            o.quiet = true;
            break;
        default:
            error = getoptFailure(id, scanOptions, argv);
            return ParseResult::UsageError;
        }
        if (!ok) {
            return ParseResult::UsageError;
        }
    }
    if (optind < argc) {
        error = std::string("unexpected argument '") + argv[optind] + "'";
        return ParseResult::UsageError;
    }
    if (o.port.empty()) {
        error = "missing --port";
        return ParseResult::UsageError;
    }
    if (o.from > o.to) {
        error = fromGiven ? "--from is above --to" : "--to is below the first address 1";
        return ParseResult::UsageError;
    }
    if (!outputModeOf(json, csv, o.mode, error)) {
        return ParseResult::UsageError;
    }
    out = o;
    return ParseResult::Run;
}

std::string scanFaultReason(int errorCode, const DataBlock<unsigned char>& rxDataPacket) {
    if (errorCode == 7) {
        return "extended block missing";
    }
    if (errorCode == 8) {
        return "extended block did not decode";
    }
    // The monitor's verdict on what came back, so both tools name a fault alike.
    std::string reason = "cut short";
    BusDecoder decoder([&](const BusItem& item) {
        if (item.kind == BusItem::Kind::Data) {
            reason = busVerdictName(item.verdict);
        }
    });
    decoder.feed(rxDataPacket.data(), rxDataPacket.size(), 0);
    decoder.finish();
    return reason;
}

std::string formatScanText(const ScanEntry& e) {
    std::string text = addressText(e) + ": " + resultName(e.result);
    if (e.result == ScanEntry::Result::Answered) {
        text += " in " + msText(e.responseMs) + " ms: " + dataFieldsText(e.answer);
    } else if (e.result == ScanEntry::Result::Faulty) {
        text += " (" + e.reason + ", code " + std::to_string(e.errorCode) + ")";
        if (e.rxDataPacket.size() != 0) {
            text += ": " + hexBytes(e.rxDataPacket);
        }
    }
    if (e.attempts > 1) {
        text += " [attempts " + std::to_string(e.attempts) + "]";
    }
    return text + "\n";
}

std::string formatScanJson(const ScanEntry& e) {
    std::string json = "{\"type\":\"scan\",\"address\":\"" + addressText(e) + "\",\"result\":\"" +
                       resultName(e.result) + "\",\"attempts\":" + std::to_string(e.attempts) +
                       ",\"error_code\":" + std::to_string(e.errorCode) + ",\"reason\":";
    json += e.reason.empty() ? "null" : "\"" + jsonEscape(e.reason) + "\"";
    json += ",\"response_ms\":" + msText(e.responseMs) + ",\"rx_data\":\"" +
            hexBytes(e.rxDataPacket) + "\",\"answer\":";
    json += e.result == ScanEntry::Result::Answered ? dataFieldsJson(e.answer) : "null";
    return json + "}";
}

std::string scanCsvHeader() {
    return "address,result,reason,attempts,error_code,response_ms,rx_data";
}

std::string formatScanCsv(const ScanEntry& e) {
    return csvField(addressText(e)) + "," + resultName(e.result) + "," + csvField(e.reason) + "," +
           std::to_string(e.attempts) + "," + std::to_string(e.errorCode) + "," +
           msText(e.responseMs) + "," + hexBytes(e.rxDataPacket);
}

int runScan(const ScanOptions& o, std::ostream& out, std::ostream& err, StopSignals& stop,
            bool progress) {
    Velk21Session session(o.port, o.baudRate);
    if (!session.isOpen()) {
        err << "velkctl: " << portProblem(o.port, session.openFailureDetail()) << std::endl;
        return velkctlExitPort;
    }
    progress = progress && o.mode == OutputMode::Text && !o.quiet;
    if (!o.quiet && o.mode == OutputMode::Csv) {
        out << scanCsvHeader() << std::endl;
    }

    unsigned answered = 0;
    unsigned silent = 0;
    unsigned faulty = 0;
    std::string answeredList;
    const auto scanStart = std::chrono::steady_clock::now();
    const unsigned total = o.to - o.from + 1;
    for (unsigned a = o.from; a <= o.to && !stop.pending(); ++a) {
        ScanEntry e;
        e.levels[0] = static_cast<unsigned char>(o.levelOne >= 0 ? unsigned(o.levelOne) : a);
        e.levels[1] = static_cast<unsigned char>(o.levelOne >= 0 ? a : 0);
        if (progress) {
            out << "\rscanning " << addressText(e) << " (" << (a - o.from + 1) << "/" << total
                << ")\x1b[K" << std::flush;
        }
        const Velk21AddressBlockKernel address(Velk21Address(e.levels[0], e.levels[1], 0, 0), 0);
        while (e.attempts <= o.retries && e.result != ScanEntry::Result::Answered) {
            e.answer = Velk21DataBlockKernel(Velk21ParameterId(o.code, o.index), o.ao, 0, 0, 0, 0,
                                             0, 0, 0);
            DataBlock<unsigned char> extended;
            ++e.attempts;
            const auto start = std::chrono::steady_clock::now();
            session.exchange(address, e.answer, extended, 0, o.byteTimeoutMs, &e.errorCode,
                             &e.rxDataPacket);
            const std::chrono::duration<double, std::milli> elapsed =
                std::chrono::steady_clock::now() - start;
            e.responseMs = elapsed.count();
            if (e.errorCode == 4 || (e.errorCode >= 1 && e.errorCode <= 3)) {
                if (progress) {
                    out << "\r\x1b[K" << std::flush;
                }
                err << "velkctl: sending to " << addressText(e)
                    << " failed: " << errorText(e.errorCode) << std::endl;
                return velkctlExitPort;
            }
            e.result = e.errorCode == 0   ? ScanEntry::Result::Answered
                       : e.errorCode == 5 ? ScanEntry::Result::Silent
                                          : ScanEntry::Result::Faulty;
            e.reason = e.result == ScanEntry::Result::Faulty
                           ? scanFaultReason(e.errorCode, e.rxDataPacket)
                           : std::string();
        }
        switch (e.result) {
        case ScanEntry::Result::Answered:
            ++answered;
            answeredList += (answeredList.empty() ? "\"" : ",\"") + addressText(e) + "\"";
            break;
        case ScanEntry::Result::Silent:
            ++silent;
            continue;
        case ScanEntry::Result::Faulty:
            ++faulty;
            break;
        }
        if (o.quiet) {
            continue;
        }
        switch (o.mode) {
        case OutputMode::Text:
            out << (progress ? "\r\x1b[K" : "") << formatScanText(e) << std::flush;
            break;
        case OutputMode::Json:
            out << formatScanJson(e) << std::endl;
            break;
        case OutputMode::Csv:
            out << formatScanCsv(e) << std::endl;
            break;
        }
    }
    if (progress) {
        out << "\r\x1b[K" << std::flush;
    }

    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - scanStart;
    const unsigned asked = answered + silent + faulty;
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.3f", seconds.count());
    if (o.mode == OutputMode::Json) {
        out << "{\"type\":\"scan_summary\",\"port\":\"" << jsonEscape(o.port)
            << "\",\"addresses\":" << asked << ",\"answered\":" << answered
            << ",\"silent\":" << silent << ",\"faulty\":" << faulty << ",\"answered_addresses\":["
            << answeredList << "],\"seconds\":" << elapsed << "}" << std::endl;
    } else {
        (o.mode == OutputMode::Csv ? err : out)
            << "Scan: " << asked << " addresses in " << elapsed << " s, " << answered
            << " answered, " << silent << " silent, " << faulty << " faulty" << std::endl;
    }
    return answered != 0 ? 0 : 1;
}
