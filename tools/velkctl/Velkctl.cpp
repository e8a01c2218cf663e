#include "Velkctl.h"

#include "ExchangeOutput.h"
#include "ExchangeStatistics.h"
#include "PortNames.h"
#include "StopSignals.h"
#include "Velk21Session.h"

std::string portProblem(const std::string& port, const OpenFailureDetail& why) {
    const std::string device = resolvePortName(port);
    const std::string shown = printableText(port);
    if (device.empty()) {
        return "cannot open port " + shown + ": no such port";
    }
    return "cannot open port " + shown +
           (device == port ? "" : " (" + printableText(device) + ")") + ": " + openFailureText(why);
}

bool openSession(Velk21Session& session, const std::string& port, std::ostream& err) {
    if (!session.isOpen()) {
        err << "velkctl: " << portProblem(port, session.openFailureDetail()) << std::endl;
    }
    return session.isOpen();
}

void reportPort(const ExchangeResult& r, const Velk21Session& session, const std::string& port,
                std::ostream& err) {
    if (r.portReopened) {
        err << "velkctl: port " << printableText(port) << " open again after "
            << msText(r.portDownMs) << " ms" << std::endl;
    }
    if (r.portLost) {
        err << "velkctl: port " << printableText(port) << " lost (hang-up or I/O error); "
            << (session.mayReopen() ? "opening it again"
                                    : "a terminal named by its path does not come back")
            << std::endl;
    }
}

void startRecords(const Output& output, std::ostream& out, const std::string& csvHeader) {
    if (!output.quiet && output.mode == OutputMode::Csv) {
        out << csvHeader << std::endl;
    }
}

void endRecords(const Output& output, std::ostream& out, std::ostream& err, const std::string& text,
                const std::string& json) {
    if (output.mode == OutputMode::Json) {
        out << json << std::endl;
    } else {
        (output.mode == OutputMode::Csv ? err : out) << text << std::flush;
    }
}

StopRun::StopRun(StopSignals& signals, ExchangeRunner& runner) : signals(signals) {
    signals.setStopAction([&runner] { runner.abort(); });
}

StopRun::~StopRun() {
    signals.setStopAction(nullptr);
}

int StopRun::status(int fallback) const {
    const int signal = signals.signal();
    return signal != 0 ? 128 + signal : fallback; // as a shell reports a program ended by it
}

int runVelkctl(const CommandLine& cl, std::ostream& out, std::ostream& err, StopSignals& stop) {
    Velk21Session session(cl.port, cl.baudRate);
    if (!openSession(session, cl.port, err)) {
        return velkctlExitPort;
    }
    ExchangeRunner runner(session);
    const StopRun stopRun(stop, runner);
    const OutputMode mode = cl.output.mode;
    startRecords(cl.output, out, csvHeader());

    ExchangeStatistics statistics;
    ExchangeLabel label{0, cl.port, cl.rxType};
    int lastCode = 0;
    bool gone = false;
    runner.cyclic(exchangeRequest(cl.request, cl.byteTimeoutMs, cl.maxRestarts),
                  cl.cyclic ? cl.periodMs : 0, cl.cyclic ? cl.count : 1,
                  [&](const ExchangeResult& r) {
                      reportPort(r, session, cl.port, err);
                      statistics.add(r.code(), r.responseMs);
                      statistics.addPortChange(r.portReopened, r.portLost);
                      lastCode = r.code();
                      ++label.sequence;
                      if (!cl.output.quiet) {
                          out << (mode == OutputMode::Text   ? formatText(r, label)
                                  : mode == OutputMode::Json ? formatJson(r, label) + "\n"
                                                             : formatCsv(r, label) + "\n")
                              << std::flush;
                      }
                      gone = r.portGone;
                      return !gone;
                  });

    const int status = stopRun.status(gone ? velkctlExitPort : lastCode);
    if (cl.cyclic || cl.output.quiet || status > 128) {
        endRecords(cl.output, out, err, formatSummaryText(statistics),
                   formatSummaryJson(statistics, cl.port));
    }
    return status;
}
