#ifndef VELK_REQUESTPARSER_H
#define VELK_REQUESTPARSER_H

#include "Velk21AddressBlockKernel.h"
#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockKernel.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21ExtendedBlockPacketPackager.h"

#include <cstdint>
#include <string>
#include <vector>

// One request as the slave saw it.
struct SimRequest {
    Velk21AddressBlockKernel address;
    Velk21DataBlockKernel data;
    std::vector<unsigned char> extended; // 7 bytes per extended block
    std::vector<unsigned char> wire;     // every byte of the request as received
};

struct ParseEvent {
    enum class Kind {
        RequestStart, // an address header arrived: a new request may follow
        Request,      // a whole request was decoded
        Skipped,      // bytes that formed no request (reason says why)
    };
    Kind kind;
    std::string reason;
    std::vector<unsigned char> bytes;
    SimRequest request;
};

// Splits the byte stream of the master into requests: an address block (6
// bytes), a data block (12) and, when the data block has EF and WTS set,
// extended blocks (10 each, 7 bytes in each): as many as data_0/data_1
// announce, or until the line stays idle when they announce 0. Only header bytes have
// bit 7 set, so any header resynchronises: a header in the middle of a block
// ends that block as broken and starts the next one.
class RequestParser {
public:
    explicit RequestParser(unsigned idleMs);

    // Times are microseconds on a monotonic clock.
    void feed(const unsigned char* bytes, std::size_t count, std::uint64_t nowUs,
              std::vector<ParseEvent>& events);

    // When the parser needs a call of expire(): a request with extended blocks
    // and no announced count ends, or noise is reported, once the line has
    // been idle for idleMs.
    bool deadline(std::uint64_t& deadlineUs) const;
    void expire(std::uint64_t nowUs, std::vector<ParseEvent>& events);

private:
    enum class State { Hunt, Address, DataHeader, Data, ExtendedHeader, Extended };

    void feedByte(unsigned char b, std::vector<ParseEvent>& events);
    void startBlock(unsigned char header, std::vector<ParseEvent>& events);
    void finishAddress(std::vector<ParseEvent>& events);
    void finishData(std::vector<ParseEvent>& events);
    void finishExtended(std::vector<ParseEvent>& events);
    void emitRequest(std::vector<ParseEvent>& events);
    void skip(const std::string& reason, std::vector<unsigned char> bytes,
              std::vector<ParseEvent>& events);
    void flushNoise(std::vector<ParseEvent>& events);
    void dropRequest(const std::string& reason, std::vector<ParseEvent>& events);

    std::uint64_t idleUs;
    std::uint64_t lastByteUs = 0;
    State state = State::Hunt;
    std::size_t announcedBlocks = 0;  // extended blocks the request announced; 0: until silence
    std::vector<unsigned char> block; // the block being collected
    std::vector<unsigned char> noise;
    SimRequest request;
    Velk21AddressBlockPacketPackager addressPackager;
    Velk21DataBlockPacketPackager dataPackager;
    Velk21ExtendedBlockPacketPackager extendedPackager;
};

#endif
