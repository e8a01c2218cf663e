#include "Velkctl.h"

#include "ExchangeOutput.h"
#include "ExchangeStatistics.h"
#include "PortNames.h"
#include "StopSignals.h"
#include "UserValue.h"
#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21Session.h"

#include <chrono>

VelkctlRequest buildRequest(const CommandLine& cl) {
    VelkctlRequest r;
    r.address.address = Velk21Address(cl.address[0], cl.address[1], cl.address[2], cl.address[3]);
    r.address.timeBit = cl.timeBit ? 1 : 0;
    r.data = Velk21DataBlockKernel(Velk21ParameterId(cl.code, cl.index), cl.ao, cl.ntxt, cl.status,
                                   cl.wtsBit ? 1 : 0, 0, cl.subLBit ? 1 : 0, cl.efBit ? 1 : 0, 0);
    for (int i = 0; i < 4; ++i) {
        r.data.data[i] = cl.data[i];
    }
    for (unsigned char b : cl.extendedData) {
        r.extendedData.append(b);
    }
    return r;
}

namespace {

template <class Packager, class Kernel>
DataBlock<unsigned char> packed(Packager& packager, const Kernel& kernel) {
    DataBlock<unsigned char> block;
    block.resize(packager.size(kernel), 0);
    unsigned position = 0;
    packager.pack(block, position, kernel); // a refusal shows as the exchange's code
    return block;
}

} // namespace

std::string portProblem(const std::string& port, const OpenFailureDetail& why) {
    const std::string device = resolvePortName(port);
    const std::string shown = printableText(port);
    if (device.empty()) {
        return "cannot open port " + shown + ": no such port";
    }
    const std::string reason = std::string(": ") + openFailureText(why);
    if (device == port) {
        return "cannot open port " + shown + reason;
    }
    return "cannot open port " + shown + " (" + printableText(device) + ")" + reason;
}

PortWatch::PortWatch(const Velk21Session& session, const std::string& port, std::ostream& err)
    : session(session), shown(printableText(port)), err(err), openings(session.openings()),
      losses(session.losses()) {}

void PortWatch::afterExchange() {
    // An exchange first opens a lost port again, then may lose it.
    reopened_ = session.openings() != openings;
    lost_ = session.losses() != losses;
    openings = session.openings();
    losses = session.losses();
    const auto now = std::chrono::steady_clock::now();
    if (reopened_) {
        const std::chrono::duration<double> down = now - lostAt;
        err << "velkctl: port " << shown << " open again after " << msText(down.count() * 1000.0)
            << " ms" << std::endl;
    }
    if (lost_) {
        lostAt = now;
        err << "velkctl: port " << shown << " lost (hang-up or I/O error); "
            << (session.mayReopen() ? "opening it again"
                                    : "a terminal named by its path does not come back")
            << std::endl;
    }
}

bool PortWatch::gone() const {
    return lost_ && !session.mayReopen();
}

int runVelkctl(const CommandLine& cl, std::ostream& out, std::ostream& err, StopSignals& stop) {
    Velk21Session session(cl.port, cl.baudRate);
    if (!session.isOpen()) {
        err << "velkctl: " << portProblem(cl.port, session.openFailureDetail()) << std::endl;
        return velkctlExitPort;
    }

    // A stop signal ends the exchange that runs, however long its answer.
    const StopAction closeOnStop(stop, [&session] { session.close(); });

    const VelkctlRequest request = buildRequest(cl);
    Velk21AddressBlockPacketPackager addressPackager;
    Velk21DataBlockPacketPackager dataPackager;
    const DataBlock<unsigned char> txAddressPacket = packed(addressPackager, request.address);
    const DataBlock<unsigned char> txDataPacket = packed(dataPackager, request.data);

    const bool perExchange = !cl.quiet;
    if (perExchange && cl.mode == OutputMode::Csv) {
        out << csvHeader() << std::endl;
    }

    ExchangeStatistics statistics;
    PortWatch portWatch(session, cl.port, err);
    int lastCode = 0;
    for (unsigned sequence = 1;; ++sequence) {
        // The dialog's cycle: wait the period, then exchange.
        if ((cl.cyclic && stop.wait(cl.periodMs)) || stop.pending()) {
            break;
        }
        ExchangeRecord record;
        record.sequence = sequence;
        record.port = cl.port;
        record.txAddressPacket = txAddressPacket;
        record.txDataPacket = txDataPacket;
        record.rxType = cl.rxType;
        record.answer = request.data;
        record.extendedData = request.extendedData;

        record.timestamp = isoTimestamp(std::chrono::system_clock::now());
        const auto start = std::chrono::steady_clock::now();
        session.exchange(request.address, record.answer, record.extendedData, cl.maxRestarts,
                         cl.byteTimeoutMs, &record.errorCode, &record.rxDataPacket);
        const std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - start;
        record.responseMs = elapsed.count();
        if (record.errorCode != 0 && stop.pending()) {
            break; // cut short by the user: its code says nothing about the line
        }
        portWatch.afterExchange();
        record.portReopened = portWatch.reopened();
        record.portLost = portWatch.lost();

        // Codes 7 and 8 leave the decoded answer; 1 to 6 leave the request.
        record.answerDecoded =
            record.errorCode == 0 || record.errorCode == 7 || record.errorCode == 8;
        if (!record.answerDecoded) {
            record.answer = Velk21DataBlockKernel();
            record.extendedData.clear();
        } else if (cl.rxType != 0) {
            record.value = typedValueText(record.answer.data, cl.rxType);
        }

        statistics.add(record.errorCode, record.responseMs);
        statistics.addPortChange(record.portReopened, record.portLost);
        lastCode = record.errorCode;
        if (perExchange) {
            switch (cl.mode) {
            case OutputMode::Text:
                out << formatText(record) << std::flush;
                break;
            case OutputMode::Json:
                out << formatJson(record) << std::endl;
                break;
            case OutputMode::Csv:
                out << formatCsv(record) << std::endl;
                break;
            }
        }
        if (!cl.cyclic || (cl.count != 0 && sequence >= cl.count) || stop.pending() ||
            portWatch.gone()) {
            break;
        }
    }

    const int stopSignal = stop.signal();
    if (cl.cyclic || cl.quiet || stopSignal != 0) {
        switch (cl.mode) {
        case OutputMode::Text:
            out << formatSummaryText(statistics) << std::flush;
            break;
        case OutputMode::Json:
            out << formatSummaryJson(statistics, cl.port) << std::endl;
            break;
        case OutputMode::Csv:
            err << formatSummaryText(statistics) << std::flush;
            break;
        }
    }
    // As a shell reports a program ended by the signal.
    if (stopSignal != 0) {
        return 128 + stopSignal;
    }
    return portWatch.gone() ? velkctlExitPort : lastCode;
}
