#ifndef VELK_SIMENGINE_H
#define VELK_SIMENGINE_H

#include "RequestParser.h"
#include "Responder.h"
#include "SimOptions.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// The simulator without its line: bytes in, requests logged and answered,
// answer bytes out when they are due. The platform's main loop moves the
// bytes and sleeps until nextDueUs().
class SimEngine {
public:
    explicit SimEngine(const SimOptions& options);

    void feed(const unsigned char* bytes, std::size_t count, std::uint64_t nowUs);
    // Ends a request whose silence has lasted long enough.
    void expire(std::uint64_t nowUs);
    // When the next thing is due (a request's silence, an answer byte);
    // UINT64_MAX when nothing is.
    std::uint64_t nextDueUs() const;

    // Copies the answer bytes due by nowUs, at most max, in order; sent() then
    // takes the first n of them off the queue.
    std::size_t due(std::uint64_t nowUs, unsigned char* buffer, std::size_t max) const;
    void sent(std::size_t n);
    // Drops the answer in the queue; with a reason, that is logged.
    void dropAnswer(const std::string& reason = std::string());

    // How long the platform's loop may wait for input: until the next thing
    // is due, at most longestMs; -1 (without a longest) when nothing is.
    int waitMs(std::uint64_t nowUs, int longestMs = -1) const;

    // What the platform's write of due bytes did.
    enum class Written { Some, Stalled, NobodyThere, Failed };
    // Writes every byte that is due, in one write where possible; write
    // returns the bytes taken (set when Some). A stalled line drops the
    // answer with a log line, a line without a reader drops it quietly.
    // False when the write failed.
    bool
    sendDue(std::uint64_t nowUs,
            const std::function<Written(const unsigned char*, std::size_t, std::size_t&)>& write);

    void log(const std::string& text) const;

private:
    void handle();

    struct Pending {
        std::uint64_t dueUs;
        unsigned char byte;
    };

    const SimOptions& options;
    RequestParser parser;
    Responder responder;
    std::deque<Pending> output;
    std::vector<ParseEvent> events;
};

// Microseconds on a monotonic clock.
std::uint64_t simNowUs();

// The exit statuses of velk-sim.
constexpr int simExitUsage = 64;
constexpr int simExitUnavailable = 69;
constexpr int simExitIoError = 74;

// The command line: prints the help or the usage error itself. False when
// the program ends here, with its status.
bool simCommandLine(int argc, char** argv, SimOptions& options, int& status);
// The line that tells that the simulator serves.
void printReady(const std::string& name, const std::string& device);

#endif
