#include "SimEngine.h"

#include "SimLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

std::uint64_t simNowUs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

SimEngine::SimEngine(const SimOptions& options)
    : options(options), parser(options.idleMs), responder(options.scenario, options.addresses) {}

bool simCommandLine(int argc, char** argv, SimOptions& options, int& status) {
    std::string error;
    if (!parseSimOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "velk-sim: %s\n", error.c_str());
        status = simExitUsage;
        return false;
    }
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        status = 0;
        return false;
    }
    return true;
}

void printReady(const std::string& name, const std::string& device) {
    std::printf("READY %s %s\n", name.c_str(), device.c_str());
    std::fflush(stdout);
}

int SimEngine::waitMs(std::uint64_t nowUs, int longestMs) const {
    const std::uint64_t wake = nextDueUs();
    if (wake == UINT64_MAX) {
        return longestMs;
    }
    const std::uint64_t left = wake <= nowUs ? 0 : (wake - nowUs + 999) / 1000;
    return longestMs >= 0 && left > std::uint64_t(longestMs) ? longestMs : int(left);
}

bool SimEngine::sendDue(
    std::uint64_t nowUs,
    const std::function<Written(const unsigned char*, std::size_t, std::size_t&)>& write) {
    unsigned char buffer[4096];
    for (;;) {
        const std::size_t n = due(nowUs, buffer, sizeof buffer);
        if (n == 0) {
            return true;
        }
        std::size_t taken = 0;
        switch (write(buffer, n, taken)) {
        case Written::Some:
            sent(taken);
            break;
        case Written::Stalled:
            dropAnswer("answer dropped: nobody reads the line");
            return true;
        case Written::NobodyThere:
            dropAnswer();
            return true;
        case Written::Failed:
            return false;
        }
    }
}

void SimEngine::log(const std::string& text) const {
    if (!options.quiet) {
        std::fputs(text.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}

void SimEngine::feed(const unsigned char* bytes, std::size_t count, std::uint64_t nowUs) {
    parser.feed(bytes, count, nowUs, events);
    handle();
}

void SimEngine::expire(std::uint64_t nowUs) {
    parser.expire(nowUs, events);
    handle();
}

std::uint64_t SimEngine::nextDueUs() const {
    std::uint64_t wake = UINT64_MAX;
    std::uint64_t parserDue = 0;
    if (parser.deadline(parserDue)) {
        wake = std::min(wake, parserDue);
    }
    if (!output.empty()) {
        wake = std::min(wake, output.front().dueUs);
    }
    return wake;
}

std::size_t SimEngine::due(std::uint64_t nowUs, unsigned char* buffer, std::size_t max) const {
    std::size_t n = 0;
    while (n < max && n < output.size() && output[n].dueUs <= nowUs) {
        buffer[n] = output[n].byte;
        ++n;
    }
    return n;
}

void SimEngine::sent(std::size_t n) {
    output.erase(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(n));
}

void SimEngine::dropAnswer(const std::string& reason) {
    if (!reason.empty() && !options.quiet) {
        log(formatSkipped(reason, std::vector<unsigned char>(), options.json));
    }
    output.clear();
}

// A quiet simulator does not even format the lines it would print.
void SimEngine::handle() {
    const bool logging = !options.quiet;
    for (ParseEvent& event : events) {
        switch (event.kind) {
        case ParseEvent::Kind::RequestStart:
            // A new request makes any answer still waiting stale.
            output.clear();
            break;
        case ParseEvent::Kind::Skipped:
            if (logging) {
                log(formatSkipped(event.reason, event.bytes, options.json));
            }
            break;
        case ParseEvent::Kind::Request: {
            const bool forUs = responder.addressed(event.request);
            if (logging) {
                log(formatRequest(event.request, forUs, options.json));
            }
            SimAnswer answer;
            if (forUs && responder.answer(event.request, answer)) {
                if (logging) {
                    log(formatAnswer(answer, options.json));
                }
                std::uint64_t due = simNowUs();
                for (const SimAnswer::TimedByte& b : answer.plan) {
                    due += std::uint64_t(b.delayMs) * 1000u;
                    output.push_back({due, b.byte});
                }
            }
            break;
        }
        }
    }
    events.clear();
}
