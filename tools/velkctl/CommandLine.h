#ifndef VELK_VELKCTL_COMMANDLINE_H
#define VELK_VELKCTL_COMMANDLINE_H

#include "ExchangeResult.h"
#include "ToolText.h"

#include <string>
#include <vector>

// Exit statuses of the tool besides the session's error codes 0 to 8.
constexpr int velkctlExitUsage = 64;
constexpr int velkctlExitBadCapture = 65;
constexpr int velkctlExitPort = 74;

enum class OutputMode { Text, Json, Csv };

struct Output {
    OutputMode mode = OutputMode::Text;
    bool quiet = false;
};

// The request that the request options describe: the command line's, a plan
// step's, each option converted by the same definition (see
// applyRequestOption). Hexadecimal values are written 1F or 0x1F.
struct RequestOptions {
    unsigned char address[4] = {0, 0, 0, 0};
    bool addressGiven = false;
    bool timeBit = false;
    unsigned char code = 0;
    unsigned char index = 0;
    unsigned char ao = 0x1F;
    unsigned char ntxt = 0;
    unsigned char status = 0;
    // From data, or the user value split by its type (finishRequest).
    unsigned char data[4] = {0, 0, 0, 0};
    bool wtsBit = false;
    bool subLBit = false;
    bool efBit = false;
    std::vector<unsigned char> extendedData;
    std::string value; // the user value as written
    bool valueGiven = false;
    int type = -1; // of the user value; -1: not given
    bool dataGiven = false;
};

// Applies the request option name (without the dashes, as a plan names it)
// with its argument as written ("" for a flag). On failure, error reads
// "invalid --name 'value': why".
bool applyRequestOption(RequestOptions& request, const std::string& name, const std::string& value,
                        std::string& error);
// Whether name is a request option, and whether it is a flag.
bool isRequestOption(const std::string& name, bool* flag = nullptr);
// The checks between the options once all are applied; splits the user value
// into the data bytes and puts the extended byte count into data_0/data_1.
bool finishRequest(RequestOptions& request, std::string& error);
ExchangeRequest exchangeRequest(const RequestOptions& request, unsigned byteTimeoutMs,
                                unsigned maxRestarts);

// A single request, once or cyclically.
struct CommandLine {
    std::string port;
    unsigned baudRate = 115200;
    RequestOptions request;
    unsigned byteTimeoutMs = 150;
    unsigned maxRestarts = 0;
    bool cyclic = false;
    unsigned periodMs = 100;
    unsigned count = 0; // exchanges of a cyclic run; 0 = until stopped
    int rxType = 0;     // type of the answer's typed value; 0 (NIL) = none
    Output output;
};

// velkctl scan: which slaves answer.
struct ScanOptions {
    std::string port;
    unsigned baudRate = 115200;
    unsigned from = 1;
    unsigned to = 0x7F;
    int levelOne = -1; // --levels: walk address_2 under this address_1
    unsigned byteTimeoutMs = 150;
    unsigned maxRestarts = 0;
    unsigned retries = 0;
    RequestOptions request; // code, index and ao
    Output output;
};

// velkctl monitor: decode what is on the line, live or from a capture.
struct MonitorOptions {
    std::string port;
    unsigned baudRate = 115200;
    std::string rawFile;    // --raw: also save the bytes
    std::string replayFile; // --replay: decode this capture instead of a port
    unsigned idleMs = 150;
    unsigned durationMs = 0; // 0: until stopped
    Output output;
};

// velkctl run PLAN: test plans for device CI.
struct RunOptions {
    std::string planFile;
    std::string port; // overrides the plan's
    unsigned baudRate = 0;
    std::string junitFile;
    Output output;
};

enum class Command { Single, Scan, Monitor, Run };

struct Invocation {
    Command command = Command::Single;
    CommandLine single;
    ScanOptions scan;
    MonitorOptions monitor;
    RunOptions run;
};

enum class ParseResult { Run, Help, Version, UsageError };

// Parses the whole command line; the first argument may name a command. On
// UsageError, error holds a one-line message (without the program name) and
// out.command the command it concerns. Never prints anything.
ParseResult parseVelkctl(int argc, char* argv[], Invocation& out, std::string& error);
// The same for a command line without a command.
ParseResult parseCommandLine(int argc, char* argv[], CommandLine& out, std::string& error);

// The help of a command, made from the same definitions.
std::string velkctlHelp(Command command);

#endif
