#include "ScanCommand.h"

#include "BusDecoder.h"
#include "ExchangeOutput.h"
#include "StopSignals.h"
#include "Velk21Session.h"
#include "Velkctl.h"

#include <chrono>
#include <cstdio>

namespace {

std::string addressText(const ScanEntry& e) {
    return hexBytes(e.levels, e.levels[1] == 0 ? 1 : 2, ',');
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

std::string scanFaultReason(int errorCode, const DataBlock<unsigned char>& rxDataPacket) {
    if (errorCode == 7) {
        return "extended block missing";
    }
    if (errorCode == 8) {
        return "extended block did not decode";
    }
    // The monitor's verdict on what came back, so both tools name a fault alike.
    std::string reason = "cut short";
    bool noise = false;
    BusDecoder decoder([&](const BusItem& item) {
        noise = noise || item.kind == BusItem::Kind::Noise;
        if (item.kind == BusItem::Kind::Data) {
            reason = noise ? "noise before the answer" : busVerdictName(item.verdict);
        }
    });
    decoder.feed(rxDataPacket.data(), rxDataPacket.size(), 0);
    decoder.finish();
    return reason;
}

std::string formatScanText(const ScanEntry& e) {
    std::string text = addressText(e) + ": " + resultName(e.result);
    if (e.result == ScanEntry::Result::Answered) {
        text += " in " + msText(e.last.responseMs) + " ms: " + dataFieldsText(e.last.answer);
    } else if (e.result == ScanEntry::Result::Faulty) {
        text += " (" + e.reason + ", code " + std::to_string(e.last.code()) + ")";
        if (e.last.rxDataPacket.size() != 0) {
            text += ": " + hexBytes(e.last.rxDataPacket);
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
                       ",\"error_code\":" + std::to_string(e.last.code()) + ",\"reason\":";
    json += e.reason.empty() ? "null" : "\"" + jsonEscape(e.reason) + "\"";
    json += ",\"response_ms\":" + msText(e.last.responseMs) + ",\"rx_data\":\"" +
            hexBytes(e.last.rxDataPacket) + "\",\"answer\":";
    json += e.result == ScanEntry::Result::Answered ? dataFieldsJson(e.last.answer) : "null";
    return json + "}";
}

std::string scanCsvHeader() {
    return "address,result,reason,attempts,error_code,response_ms,rx_data";
}

std::string formatScanCsv(const ScanEntry& e) {
    return csvField(addressText(e)) + "," + resultName(e.result) + "," + csvField(e.reason) + "," +
           std::to_string(e.attempts) + "," + std::to_string(e.last.code()) + "," +
           msText(e.last.responseMs) + "," + hexBytes(e.last.rxDataPacket);
}

int runScan(const ScanOptions& o, std::ostream& out, std::ostream& err, StopSignals& stop,
            bool progress) {
    Velk21Session session(o.port, o.baudRate);
    if (!openSession(session, o.port, err)) {
        return velkctlExitPort;
    }
    ExchangeRunner runner(session);
    const StopRun stopRun(stop, runner);
    progress = progress && o.output.mode == OutputMode::Text && !o.output.quiet;
    if (!o.output.quiet && o.output.mode == OutputMode::Csv) {
        out << scanCsvHeader() << std::endl;
    }

    unsigned answered = 0;
    unsigned silent = 0;
    unsigned faulty = 0;
    std::string answeredList;
    const auto scanStart = std::chrono::steady_clock::now();
    const unsigned total = o.to - o.from + 1;
    ExchangeRequest request = exchangeRequest(o.request, o.byteTimeoutMs, o.maxRestarts);
    ScanEntry e;
    unsigned next = o.from;
    bool failed = false;
    auto report = [&] {
        if (e.result == ScanEntry::Result::Answered) {
            ++answered;
            answeredList += (answeredList.empty() ? "\"" : ",\"") + addressText(e) + "\"";
        } else {
            ++(e.result == ScanEntry::Result::Silent ? silent : faulty);
        }
        if (o.output.quiet || e.result == ScanEntry::Result::Silent) {
            return;
        }
        out << (o.output.mode == OutputMode::Text ? (progress ? "\r\x1b[K" : "") + formatScanText(e)
                : o.output.mode == OutputMode::Json ? formatScanJson(e) + "\n"
                                                    : formatScanCsv(e) + "\n")
            << std::flush;
    };
    runner.run(
        [&](ExchangeRequest& r) {
            // The same address again while it may still answer, else the next one.
            if (e.attempts == 0 || e.result == ScanEntry::Result::Answered ||
                e.attempts > o.retries) {
                if (e.attempts != 0) {
                    report();
                }
                e = ScanEntry();
                if (next > o.to) {
                    return false;
                }
                e.levels[0] =
                    static_cast<unsigned char>(o.levelOne >= 0 ? unsigned(o.levelOne) : next);
                e.levels[1] = static_cast<unsigned char>(o.levelOne >= 0 ? next : 0);
                request.address =
                    Velk21AddressBlockKernel(Velk21Address(e.levels[0], e.levels[1], 0, 0), 0);
                if (progress) {
                    out << "\rscanning " << addressText(e) << " (" << (next - o.from + 1) << "/"
                        << total << ")\x1b[K" << std::flush;
                }
                ++next;
            }
            r = request;
            return true;
        },
        [&](const ExchangeResult& result) {
            ++e.attempts;
            e.last = result;
            const int code = result.code();
            if (code >= 1 && code <= 4) {
                if (progress) {
                    out << "\r\x1b[K" << std::flush;
                }
                err << "velkctl: sending to " << addressText(e) << " failed: " << errorText(code)
                    << std::endl;
                failed = true;
                return false;
            }
            e.result = code == 0   ? ScanEntry::Result::Answered
                       : code == 5 ? ScanEntry::Result::Silent
                                   : ScanEntry::Result::Faulty;
            e.reason = e.result == ScanEntry::Result::Faulty
                           ? scanFaultReason(code, result.rxDataPacket)
                           : std::string();
            return true;
        });
    if (failed) {
        return stopRun.status(velkctlExitPort);
    }
    if (e.attempts != 0) {
        report(); // the address asked when a stop came
    }
    if (progress) {
        out << "\r\x1b[K" << std::flush;
    }

    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - scanStart;
    const unsigned asked = answered + silent + faulty;
    if (o.output.mode == OutputMode::Json) {
        out << "{\"type\":\"scan_summary\",\"port\":\"" << jsonEscape(o.port)
            << "\",\"addresses\":" << asked << ",\"answered\":" << answered
            << ",\"silent\":" << silent << ",\"faulty\":" << faulty << ",\"answered_addresses\":["
            << answeredList << "],\"seconds\":" << msText(seconds.count()) << "}" << std::endl;
    } else {
        (o.output.mode == OutputMode::Csv ? err : out)
            << "Scan: " << asked << " addresses in " << msText(seconds.count()) << " s, "
            << answered << " answered, " << silent << " silent, " << faulty << " faulty"
            << std::endl;
    }
    return stopRun.status(answered != 0 ? 0 : 1);
}
