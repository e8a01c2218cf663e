#ifndef VELK_SIMOPTIONS_H
#define VELK_SIMOPTIONS_H

#include <string>
#include <vector>

// What the simulator answers and how it misbehaves. The content of an answer
// comes from one mode; the faults change how its bytes go on the line and
// combine freely (see usageText()).
struct Scenario {
    enum class Mode { Echo, Registers, Extended };

    Mode mode = Mode::Echo;
    unsigned extendedCount = 0; // Extended: bytes announced when the request carries none
    bool silent = false;        // never answer
    bool badCrc = false;        // corrupt the CRC byte of the answer's data block
    unsigned garbage = 0;       // noise bytes (bit 7 clear) before the answer
    bool headerMid = false;     // half an answer, then the whole answer
    unsigned gapMs = 0;         // pause between two answer bytes
    unsigned extraBytes = 0;    // bytes (bit 7 clear) after the answer
    unsigned delayMs = 0;       // pause before the answer
};

struct SimOptions {
    int com = 0;                // --com N: serve a pseudo-terminal linked as COMN (1..254)
    std::string device;         // --device PATH: serve this tty instead
    unsigned baud = 115200;     // --baud B (real device only)
    std::vector<int> addresses; // --address LIST: answer only these address_1 values; empty: all
    unsigned idleMs = 10;       // --idle MS: silence that ends extended blocks sent without a count
    bool json = false;
    bool quiet = false;
    bool help = false;
    Scenario scenario;
};

// Parses the command line. On a usage error returns false with a one-line
// message in error (without the program name).
bool parseSimOptions(int argc, char** argv, SimOptions& options, std::string& error);

// Adds one scenario item ("echo", "delay=20", ...) or a comma-separated list of them.
bool parseScenario(const std::string& text, Scenario& scenario, std::string& error);

// "3", "3,5,9", "1-1F" or a mix such as "3,A-C": address_1 values 0..7F in
// hexadecimal, as every address of velkctl and the dialog, in the order
// given, without repeats. On failure error says what was expected.
bool parseAddressList(const std::string& text, std::vector<int>& addresses, std::string& error);

std::string usageText();

#endif
