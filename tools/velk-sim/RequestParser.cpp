#include "RequestParser.h"

namespace {

const unsigned addressBlockSize = 6;
const unsigned dataBlockSize = 12;
const unsigned extendedBlockSize = 10;
// Noise is reported in pieces of at most this many bytes.
const std::size_t noiseReportLimit = 256;
// A request carries at most 65535 extended bytes (the most an answer can
// announce); longer trains are refused rather than held in memory.
const std::size_t maxExtendedBytes = 65535 + 6;

bool isHeader(unsigned char b) {
    return (b & 0x80) != 0;
}
bool isAddressHeader(unsigned char b) {
    return (b & 0xC0) == 0x80;
}
bool isDataHeader(unsigned char b) {
    return (b & 0xC8) == 0xC0;
}
bool isExtendedHeader(unsigned char b) {
    return (b & 0xD8) == 0xD8;
}

DataBlock<unsigned char> toBlock(const std::vector<unsigned char>& bytes) {
    DataBlock<unsigned char> block;
    block.reserve(static_cast<unsigned>(bytes.size()));
    for (unsigned char b : bytes) {
        block.append(b);
    }
    return block;
}

} // namespace

RequestParser::RequestParser(unsigned idleMs) : idleUs(std::uint64_t(idleMs) * 1000) {}

void RequestParser::feed(const unsigned char* bytes, std::size_t count, std::uint64_t nowUs,
                         std::vector<ParseEvent>& events) {
    for (std::size_t i = 0; i < count; ++i) {
        feedByte(bytes[i], events);
    }
    if (count != 0) {
        lastByteUs = nowUs;
    }
}

bool RequestParser::deadline(std::uint64_t& deadlineUs) const {
    if ((state == State::ExtendedHeader && announcedBlocks == 0) || !noise.empty()) {
        deadlineUs = lastByteUs + idleUs;
        return true;
    }
    return false;
}

void RequestParser::expire(std::uint64_t nowUs, std::vector<ParseEvent>& events) {
    std::uint64_t due = 0;
    if (!deadline(due) || nowUs < due) {
        return;
    }
    flushNoise(events);
    if (state == State::ExtendedHeader && announcedBlocks == 0) {
        emitRequest(events);
    }
}

void RequestParser::feedByte(unsigned char b, std::vector<ParseEvent>& events) {
    if (state == State::Hunt) {
        if (isHeader(b)) {
            startBlock(b, events);
        } else {
            noise.push_back(b);
            if (noise.size() >= noiseReportLimit) {
                flushNoise(events);
            }
        }
        return;
    }

    if (state == State::DataHeader || state == State::ExtendedHeader) {
        // Between blocks: only the next block's header belongs here.
        startBlock(b, events);
        return;
    }

    if (isHeader(b)) {
        const char* what = state == State::Address ? "address block cut short by a header"
                           : state == State::Data  ? "data block cut short by a header"
                                                   : "extended block cut short by a header";
        std::vector<unsigned char> broken = request.wire;
        broken.insert(broken.end(), block.begin(), block.end());
        skip(what, broken, events);
        request = SimRequest();
        block.clear();
        state = State::Hunt;
        startBlock(b, events);
        return;
    }

    block.push_back(b);
    if (state == State::Address && block.size() == addressBlockSize) {
        finishAddress(events);
    } else if (state == State::Data && block.size() == dataBlockSize) {
        finishData(events);
    } else if (state == State::Extended && block.size() == extendedBlockSize) {
        finishExtended(events);
    }
}

// b comes where a block may begin; decides what it starts.
void RequestParser::startBlock(unsigned char b, std::vector<ParseEvent>& events) {
    flushNoise(events);
    if (state == State::ExtendedHeader) {
        if (isExtendedHeader(b)) {
            block.assign(1, b);
            state = State::Extended;
            return;
        }
        // Anything else ends the request that was waiting for more blocks: too
        // early when it announced how many.
        if (announcedBlocks != 0) {
            dropRequest("request cut short before its announced extended blocks", events);
        } else {
            emitRequest(events);
        }
    } else if (state == State::DataHeader) {
        if (isDataHeader(b)) {
            block.assign(1, b);
            state = State::Data;
            return;
        }
        dropRequest("address block not followed by a data block", events);
    }

    if (isAddressHeader(b)) {
        ParseEvent start{ParseEvent::Kind::RequestStart, std::string(), {}, SimRequest()};
        events.push_back(start);
        request = SimRequest();
        block.assign(1, b);
        state = State::Address;
    } else if (isHeader(b)) {
        skip("block header outside a request", {b}, events);
        state = State::Hunt;
    } else {
        noise.push_back(b);
        state = State::Hunt;
    }
}

void RequestParser::finishAddress(std::vector<ParseEvent>& events) {
    DataBlock<unsigned char> bytes = toBlock(block);
    unsigned position = 0;
    if (!addressPackager.unpack(bytes, position, request.address)) {
        skip("address block with a bad CRC", block, events);
        request = SimRequest();
        state = State::Hunt;
        return;
    }
    request.wire = block;
    block.clear();
    state = State::DataHeader;
}

void RequestParser::finishData(std::vector<ParseEvent>& events) {
    DataBlock<unsigned char> bytes = toBlock(block);
    unsigned position = 0;
    request.wire.insert(request.wire.end(), block.begin(), block.end());
    if (!dataPackager.unpack(bytes, position, request.data)) {
        dropRequest("data block with a bad CRC", events);
        return;
    }
    block.clear();
    if (request.data.efBit && request.data.wtsBit) {
        // data_0/data_1 announce the extended bytes, seven a block; without a
        // count, silence ends the request.
        const unsigned count = request.data.data[0] + 256u * request.data.data[1];
        announcedBlocks = (count + 6) / 7;
        state = State::ExtendedHeader;
    } else {
        emitRequest(events);
    }
}

void RequestParser::finishExtended(std::vector<ParseEvent>& events) {
    DataBlock<unsigned char> bytes = toBlock(block);
    unsigned position = 0;
    Velk21ExtendedBlockKernel kernel;
    request.wire.insert(request.wire.end(), block.begin(), block.end());
    if (!extendedPackager.unpack(bytes, position, kernel)) {
        dropRequest("extended block with a bad CRC", events);
        return;
    }
    if (request.extended.size() + 7 > maxExtendedBytes) {
        dropRequest("too many extended blocks", events);
        return;
    }
    request.extended.insert(request.extended.end(), kernel.data, kernel.data + 7);
    block.clear();
    state = State::ExtendedHeader;
    if (announcedBlocks != 0 && request.extended.size() / 7 == announcedBlocks) {
        emitRequest(events);
    }
}

void RequestParser::emitRequest(std::vector<ParseEvent>& events) {
    ParseEvent event{ParseEvent::Kind::Request, std::string(), request.wire, request};
    events.push_back(event);
    request = SimRequest();
    block.clear();
    state = State::Hunt;
}

void RequestParser::dropRequest(const std::string& reason, std::vector<ParseEvent>& events) {
    skip(reason, request.wire, events);
    request = SimRequest();
    block.clear();
    state = State::Hunt;
}

void RequestParser::skip(const std::string& reason, std::vector<unsigned char> bytes,
                         std::vector<ParseEvent>& events) {
    ParseEvent event{ParseEvent::Kind::Skipped, reason, std::move(bytes), SimRequest()};
    events.push_back(event);
}

void RequestParser::flushNoise(std::vector<ParseEvent>& events) {
    if (!noise.empty()) {
        skip("noise", noise, events);
        noise.clear();
    }
}
