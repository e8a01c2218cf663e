#include "MonitorCommand.h"

#include "Capture.h"
#include "ExchangeOutput.h"
#include "PortNames.h"
#include "StopSignals.h"
#include "SystemSerialDevice.h"
#include "Velkctl.h"

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

// Microseconds on the monotonic clock.
std::uint64_t monotonicUs() {
    return std::uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count());
}

// The fields of a block that decoded, as text or a JSON object (else
// nothing, or null).
void appendFields(std::string& out, const BusItem& item, bool json) {
    const Velk21Address& a = item.address.address;
    const Velk21ExtendedBlockKernel& x = item.extended;
    if (item.verdict != BusItem::Verdict::Ok || item.kind == BusItem::Kind::Noise) {
        out += json ? "null" : "";
    } else if (item.kind == BusItem::Kind::Data) {
        (json ? appendDataFieldsJson : appendDataFieldsText)(out, item.data);
    } else if (item.kind == BusItem::Kind::Address && json) {
        out += "{\"address_1\":\"" + hexByte(a.address_1) + "\",\"address_2\":\"" +
               hexByte(a.address_2) + "\",\"address_3\":\"" + hexByte(a.address_3) +
               "\",\"address_4\":\"" + hexByte(a.address_4) +
               "\",\"timeBit\":" + std::to_string(item.address.timeBit) + "}";
    } else if (item.kind == BusItem::Kind::Address) {
        const unsigned char levels[] = {a.address_1, a.address_2, a.address_3, a.address_4};
        out += "address " + hexBytes(levels, 4, ',') + ", timeBit " +
               std::to_string(item.address.timeBit);
    } else if (json) {
        out += "{\"block\":" + std::to_string(item.extendedIndex) +
               ",\"blocks\":" + std::to_string(item.extendedCount) +
               ",\"wtsBit\":" + std::to_string(x.wtsBit) + ",\"csBit\":" + std::to_string(x.csBit) +
               ",\"subLBit\":" + std::to_string(x.subLBit) + ",\"data\":\"" + hexBytes(x.data, 7) +
               "\"}";
    } else {
        out += "block " + std::to_string(item.extendedIndex) +
               (item.extendedCount != 0 ? "/" + std::to_string(item.extendedCount) : "") +
               ", wtsBit " + std::to_string(x.wtsBit) + ", csBit " + std::to_string(x.csBit) +
               ", subLBit " + std::to_string(x.subLBit) + ", data " + hexBytes(x.data, 7);
    }
}

// Both append into one string: the monitor formats millions of blocks.
void appendBusItemText(std::string& text, const BusItem& item) {
    char head[96];
    const int n = std::snprintf(head, sizeof head, "%12llu us %+10lld us  %-8s %-9s %-10s",
                                (unsigned long long)item.timeUs, (long long)item.gapUs,
                                busDirectionName(item.direction), busKindName(item.kind),
                                busVerdictName(item.verdict));
    text.append(head, std::size_t(n > 0 ? n : 0));
    appendHexBytes(text, item.bytes.data(), unsigned(item.bytes.size()));
    if (item.verdict == BusItem::Verdict::Ok) {
        text += " | ";
        appendFields(text, item, false);
    }
}

void appendBusItemJson(std::string& json, const BusItem& item) {
    json += "{\"type\":\"block\",\"time_us\":";
    json += std::to_string(item.timeUs);
    json += ",\"gap_us\":";
    json += std::to_string(item.gapUs);
    json += ",\"direction\":";
    if (item.direction == BusItem::Direction::Unknown) {
        json += "null";
    } else {
        json += '"';
        json += busDirectionName(item.direction);
        json += '"';
    }
    json += ",\"kind\":\"";
    json += busKindName(item.kind);
    json += "\",\"verdict\":\"";
    json += busVerdictName(item.verdict);
    json += "\",\"bytes\":\"";
    appendHexBytes(json, item.bytes.data(), unsigned(item.bytes.size()));
    json += "\",\"fields\":";
    appendFields(json, item, true);
    json += '}';
}

void appendBusItemCsv(std::string& csv, const BusItem& item) {
    std::string fields;
    appendFields(fields, item, false);
    csv += std::to_string(item.timeUs) + "," + std::to_string(item.gapUs) + "," +
           (item.direction == BusItem::Direction::Unknown ? "" : busDirectionName(item.direction)) +
           "," + busKindName(item.kind) + "," + busVerdictName(item.verdict) + "," +
           hexBytes(item.bytes) + "," + csvField(fields);
}

// Counts for the summary at the end.
class MonitorStatistics {
public:
    void add(const BusItem& item) {
        if (item.kind == BusItem::Kind::Noise) {
            ++noisePieces;
            noiseBytes += item.bytes.size();
            return;
        }
        ++blocks;
        ok += item.verdict == BusItem::Verdict::Ok ? 1 : 0;
        badCrc += item.verdict == BusItem::Verdict::BadCrc ? 1 : 0;
        cutShort += item.verdict == BusItem::Verdict::Short ? 1 : 0;
        requests += item.kind == BusItem::Kind::Address ? 1 : 0;
        answers += item.kind == BusItem::Kind::Data && item.direction == BusItem::Direction::Answer
                       ? 1
                       : 0;
    }

    std::string text() const {
        return "Monitor: " + std::to_string(blocks) + " blocks (" + std::to_string(ok) + " ok, " +
               std::to_string(badCrc) + " bad CRC, " + std::to_string(cutShort) + " cut short), " +
               std::to_string(requests) + " requests, " + std::to_string(answers) + " answers, " +
               std::to_string(noiseBytes) + " noise bytes in " + std::to_string(noisePieces) +
               " pieces\n";
    }

    std::string json() const {
        return "{\"type\":\"monitor_summary\",\"blocks\":" + std::to_string(blocks) +
               ",\"ok\":" + std::to_string(ok) + ",\"bad_crc\":" + std::to_string(badCrc) +
               ",\"cut_short\":" + std::to_string(cutShort) +
               ",\"requests\":" + std::to_string(requests) +
               ",\"answers\":" + std::to_string(answers) +
               ",\"noise_pieces\":" + std::to_string(noisePieces) +
               ",\"noise_bytes\":" + std::to_string(noiseBytes) + "}";
    }

private:
    unsigned blocks = 0;
    unsigned ok = 0;
    unsigned badCrc = 0;
    unsigned cutShort = 0;
    unsigned requests = 0; // address blocks
    unsigned answers = 0;  // answer data blocks
    unsigned noisePieces = 0;
    unsigned long long noiseBytes = 0;
};

// Prints each item as the decoder hands it over, and counts it.
class MonitorReport {
public:
    MonitorReport(const Output& output, std::ostream& out, bool live)
        : output(output), out(out), live(live) {
        startRecords(output, out, "time_us,gap_us,direction,kind,verdict,bytes,fields");
    }

    void item(const BusItem& item) {
        statistics.add(item);
        if (output.quiet) {
            return;
        }
        // Lines gather in one buffer, written out in large pieces (at once when live).
        (output.mode == OutputMode::Text   ? appendBusItemText
         : output.mode == OutputMode::Json ? appendBusItemJson
                                           : appendBusItemCsv)(buffer, item);
        buffer += '\n';
        if (live || buffer.size() >= flushSize) {
            flush();
        }
    }

    void summary(std::ostream& err) {
        flush();
        endRecords(output, out, err, statistics.text(), statistics.json());
    }

private:
    void flush() {
        out.write(buffer.data(), std::streamsize(buffer.size()));
        if (live) {
            out.flush();
        }
        buffer.clear();
    }

    static constexpr std::size_t flushSize = 1 << 16;
    const Output& output;
    std::ostream& out;
    bool live;
    std::string buffer;
    MonitorStatistics statistics;
};

} // namespace

std::string formatBusItemText(const BusItem& item) {
    std::string text;
    appendBusItemText(text, item);
    return text;
}

std::string formatBusItemJson(const BusItem& item) {
    std::string json;
    appendBusItemJson(json, item);
    return json;
}

int replayCapture(const MonitorOptions& o, std::ostream& out, std::ostream& err,
                  StopSignals& stop) {
    CaptureReader reader;
    std::string error;
    if (!reader.open(o.replayFile, error)) {
        err << "velkctl: " << error << std::endl;
        return velkctlExitPort;
    }
    MonitorReport report(o.output, out, false);
    BusDecoder decoder([&](const BusItem& item) { report.item(item); },
                       std::uint64_t(o.idleMs) * 1000);
    std::uint64_t timeUs = 0;
    std::vector<unsigned char> bytes;
    while (!stop.pending() && reader.next(timeUs, bytes, error)) {
        decoder.feed(bytes.data(), bytes.size(), timeUs);
    }
    decoder.finish();
    report.summary(err);
    if (!error.empty()) {
        err << "velkctl: " << o.replayFile << ": " << error << std::endl;
        return velkctlExitBadCapture;
    }
    return stop.signal() != 0 ? 128 + stop.signal() : 0;
}

int runMonitor(const MonitorOptions& o, std::ostream& out, std::ostream& err, StopSignals& stop) {
    const std::unique_ptr<ISerialDevice> serialDevice = makeSystemSerialDevice();
    ISerialDevice& device = *serialDevice;
    const std::string path = resolvePortName(o.port);
    // Opening drops RTS and DTR; nothing below writes or raises them.
    if (path.empty() || !device.open(path) || !device.configure(o.baudRate, 0)) {
        err << "velkctl: " << portProblem(o.port, device.openFailureDetail()) << std::endl;
        return velkctlExitPort;
    }
    const std::uint64_t startUs = monotonicUs();
    CaptureWriter capture;
    if (!o.rawFile.empty()) {
        const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        if (!capture.open(o.rawFile, std::uint64_t(wall.count()))) {
            err << "velkctl: cannot write " << o.rawFile << std::endl;
            return velkctlExitPort;
        }
    }
    if (!o.output.quiet) {
        err << "velkctl: monitoring " << o.port << " (" << path << ")" << std::endl;
    }

    MonitorReport report(o.output, out, true);
    BusDecoder decoder([&](const BusItem& item) { report.item(item); },
                       std::uint64_t(o.idleMs) * 1000);
    int status = 0;
    unsigned char buffer[4096];
    const std::uint64_t endUs = o.durationMs != 0 ? startUs + o.durationMs * 1000ull : 0;
    while (!stop.pending()) {
        const std::uint64_t before = monotonicUs();
        if (endUs != 0 && before >= endUs) {
            break;
        }
        // At most 50 ms, which bounds how late a stop is noticed.
        const unsigned wait =
            endUs != 0 && endUs - before < 50000 ? unsigned((endUs - before + 999) / 1000) : 50;
        unsigned got = 0;
        if (!device.read(buffer, sizeof buffer, wait, got)) {
            err << "velkctl: lost port " << o.port << std::endl;
            status = velkctlExitPort;
            break;
        }
        const std::uint64_t nowUs = monotonicUs() - startUs;
        if (got == 0) {
            decoder.idle(nowUs);
            continue;
        }
        if (!o.rawFile.empty() && !capture.write(nowUs, buffer, got)) {
            err << "velkctl: cannot write " << o.rawFile << std::endl;
            status = velkctlExitPort;
            break;
        }
        decoder.feed(buffer, got, nowUs);
    }
    decoder.finish();
    report.summary(err);
    if (!capture.close() && status == 0) {
        err << "velkctl: cannot write " << o.rawFile << std::endl;
        status = velkctlExitPort;
    }
    return stop.signal() != 0 ? 128 + stop.signal() : status;
}
