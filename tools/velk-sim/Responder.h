#ifndef VELK_RESPONDER_H
#define VELK_RESPONDER_H

#include "RequestParser.h"
#include "SimOptions.h"

#include <map>
#include <vector>

// The answer to one request, and how its bytes go on the line.
struct SimAnswer {
    struct TimedByte {
        unsigned delayMs; // pause before this byte (the first: after the request)
        unsigned char byte;
    };
    Velk21DataBlockKernel data;
    std::vector<unsigned char> extended;
    std::vector<unsigned char> wire; // the well-formed answer
    std::vector<TimedByte> plan;     // what is sent, faults included
};

// Builds answers by the scenario. Keeps the register table between requests.
class Responder {
public:
    // ownAddress < 0: every address_1 is ours.
    Responder(const Scenario& scenario, int ownAddress);
    // Several slaves at once; empty: every address_1 is ours.
    Responder(const Scenario& scenario, const std::vector<int>& ownAddresses);

    // False when the request is not for this slave (--address).
    bool addressed(const SimRequest& request) const;

    // False when nothing is to be sent (silent).
    bool answer(const SimRequest& request, SimAnswer& answer);

private:
    void answerEcho(const SimRequest& request, SimAnswer& answer);
    void answerRegisters(const SimRequest& request, SimAnswer& answer);
    void answerExtended(const SimRequest& request, SimAnswer& answer);
    bool frame(SimAnswer& answer);
    void plan(SimAnswer& answer) const;

    Scenario scenario;
    std::vector<bool> ours;                                   // by address_1; empty: all
    std::map<unsigned, std::vector<unsigned char>> registers; // key: code << 8 | index
    Velk21DataBlockPacketPackager dataPackager;
    Velk21ExtendedBlockPacketPackager extendedPackager;
};

// The extended bytes that a request carries: data_0/data_1 of the request give
// the count when it is not 0 and not above what arrived (the rest is the
// padding of the last block); otherwise every byte that arrived.
std::vector<unsigned char> requestExtendedData(const SimRequest& request);

#endif
