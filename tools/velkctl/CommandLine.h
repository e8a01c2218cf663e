#ifndef VELK_VELKCTL_COMMANDLINE_H
#define VELK_VELKCTL_COMMANDLINE_H

#include <string>
#include <vector>

// Exit statuses of the tool besides the session's error codes 0 to 8.
constexpr int velkctlExitUsage = 64;
constexpr int velkctlExitPort = 74;

enum class OutputMode { Text, Json, Csv };

// Everything the command line says, already checked and converted.
struct CommandLine {
    std::string port;
    unsigned baudRate = 115200;

    unsigned char address[4] = {0, 0, 0, 0};
    bool addressGiven = false;
    bool timeBit = false;

    unsigned char code = 0;
    unsigned char index = 0;
    unsigned char ao = 0x1F;
    unsigned char ntxt = 0;
    unsigned char status = 0;
    // From --data, or the user value split by its type.
    unsigned char data[4] = {0, 0, 0, 0};
    bool wtsBit = false;
    bool subLBit = false;
    bool efBit = false;
    std::vector<unsigned char> extendedData;

    unsigned byteTimeoutMs = 150;
    unsigned maxRestarts = 0;

    bool cyclic = false;
    unsigned periodMs = 100;
    unsigned count = 0; // exchanges of a cyclic run; 0 = until stopped

    int rxType = 0; // type of the answer's typed value; 0 (NIL) = none
    OutputMode mode = OutputMode::Text;
    bool quiet = false;
};

enum class ParseResult { Run, Help, Version, UsageError };

// Parses argv with getopt_long. On UsageError, error holds a one-line message
// (without the program name). Never prints anything.
ParseResult parseCommandLine(int argc, char* argv[], CommandLine& out, std::string& error);

// "1F", "0x1F" or "0X1f": a hexadecimal number up to max. No sign, no blanks.
bool parseHexNumber(const std::string& text, unsigned max, unsigned& out);
// Decimal digits only, up to max.
bool parseDecimalNumber(const std::string& text, unsigned max, unsigned& out);
// Hexadecimal bytes up to max each, separated by commas and/or blanks.
bool parseHexList(const std::string& text, unsigned max, std::vector<unsigned char>& out);

const char* velkctlUsage();

#endif
