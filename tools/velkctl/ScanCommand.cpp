#include "ScanCommand.h"

#include "BusDecoder.h"
#include "ExchangeOutput.h"
#include "StopSignals.h"
#include "Velk21Session.h"
#include "Velkctl.h"

#include <chrono>
#include <cstdio>

namespace {

// How one address ended.
struct ScanEntry {
    enum class Result { Answered, Silent, Faulty };
    Result result = Result::Silent;
    unsigned char levels[2] = {0, 0};
    unsigned attempts = 0;
    std::string reason;  // Faulty: "bad CRC", "cut short", "noise before the answer", ...
    ExchangeResult last; // of the last attempt
};

std::string addressText(const ScanEntry& e) {
    return hexBytes(e.levels, e.levels[1] == 0 ? 1 : 2, ',');
}

const char* resultName(ScanEntry::Result result) {
    const char* const names[] = {"answered", "silent", "faulty"};
    return names[int(result)];
}

// Why an exchange that got bytes back failed: for code 6 what came off the
// line (noise before the answer, or the data block's verdict), the extended
// block's trouble for 7 and 8.
std::string scanFaultReason(int errorCode, const DataBlock<unsigned char>& rxDataPacket) {
    if (errorCode == 7 || errorCode == 8) {
        return errorCode == 7 ? "extended block missing" : "extended block did not decode";
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
    json += e.reason.empty() ? "null" : jsonString(e.reason);
    json += ",\"response_ms\":" + msText(e.last.responseMs) + ",\"rx_data\":\"" +
            hexBytes(e.last.rxDataPacket) + "\",\"answer\":";
    json += e.result == ScanEntry::Result::Answered ? dataFieldsJson(e.last.answer) : "null";
    return json + "}";
}

std::string formatScanCsv(const ScanEntry& e) {
    return csvField(addressText(e)) + "," + resultName(e.result) + "," + csvField(e.reason) + "," +
           std::to_string(e.attempts) + "," + std::to_string(e.last.code()) + "," +
           msText(e.last.responseMs) + "," + hexBytes(e.last.rxDataPacket);
}

} // namespace

int runScan(const ScanOptions& o, std::ostream& out, std::ostream& err, StopSignals& stop,
            bool progress) {
    Velk21Session session(o.port, o.baudRate);
    if (!openSession(session, o.port, err)) {
        return velkctlExitPort;
    }
    ExchangeRunner runner(session);
    const StopRun stopRun(stop, runner);
    progress = progress && o.output.mode == OutputMode::Text && !o.output.quiet;
    startRecords(o.output, out, "address,result,reason,attempts,error_code,response_ms,rx_data");

    unsigned counts[3] = {0, 0, 0}; // by result
    std::string answeredList;
    const auto scanStart = std::chrono::steady_clock::now();
    const unsigned total = o.to - o.from + 1;
    ExchangeRequest request = exchangeRequest(o.request, o.byteTimeoutMs, o.maxRestarts);
    ScanEntry e;
    unsigned next = o.from;
    bool failed = false;
    auto report = [&] {
        ++counts[int(e.result)];
        if (e.result == ScanEntry::Result::Answered) {
            answeredList += (answeredList.empty() ? "\"" : ",\"") + addressText(e) + "\"";
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

    const std::string seconds =
        msText(std::chrono::duration<double>(std::chrono::steady_clock::now() - scanStart).count());
    const std::string asked = std::to_string(counts[0] + counts[1] + counts[2]);
    const std::string answered = std::to_string(counts[0]);
    const std::string silent = std::to_string(counts[1]);
    const std::string faulty = std::to_string(counts[2]);
    endRecords(o.output, out, err,
               "Scan: " + asked + " addresses in " + seconds + " s, " + answered + " answered, " +
                   silent + " silent, " + faulty + " faulty\n",
               "{\"type\":\"scan_summary\",\"port\":" + jsonString(o.port) +
                   ",\"addresses\":" + asked + ",\"answered\":" + answered +
                   ",\"silent\":" + silent + ",\"faulty\":" + faulty + ",\"answered_addresses\":[" +
                   answeredList + "],\"seconds\":" + seconds + "}");
    return stopRun.status(counts[0] != 0 ? 0 : 1);
}
