#include "Responder.h"

namespace {

const unsigned char codeValue = 0x10; // four bytes in data_0..data_3
const unsigned char codeBytes = 0x11; // a byte string in extended blocks
const unsigned char ntxtUnknownCode = 1;
const unsigned char extraByte = 0x5A;
const unsigned headerMidBytes = 6;

void setCount(Velk21DataBlockKernel& data, std::size_t count) {
    data.data[0] = static_cast<unsigned char>(count & 0xFF);
    data.data[1] = static_cast<unsigned char>((count >> 8) & 0xFF);
}

} // namespace

std::vector<unsigned char> requestExtendedData(const SimRequest& request) {
    const std::size_t announced = request.data.data[0] + 256u * request.data.data[1];
    std::vector<unsigned char> bytes = request.extended;
    if (announced != 0 && announced < bytes.size()) {
        bytes.resize(announced);
    }
    return bytes;
}

Responder::Responder(const Scenario& scenario, int ownAddress)
    : Responder(scenario, ownAddress < 0 ? std::vector<int>() : std::vector<int>{ownAddress}) {}

Responder::Responder(const Scenario& scenario, const std::vector<int>& ownAddresses)
    : scenario(scenario) {
    for (int a : ownAddresses) {
        if (a >= 0 && a < 128) {
            ours.resize(128, false);
            ours[std::size_t(a)] = true;
        }
    }
}

bool Responder::addressed(const SimRequest& request) const {
    return ours.empty() || (request.address.address.address_1 < ours.size() &&
                            ours[request.address.address.address_1]);
}

bool Responder::answer(const SimRequest& request, SimAnswer& answer) {
    answer = SimAnswer();
    // The answer starts from the request: a slave names itself in ao and marks
    // the block as an answer with CS.
    answer.data = request.data;
    answer.data.ao = static_cast<unsigned char>(request.address.address.address_1 & 0x7F);
    answer.data.ntxt = 0;
    answer.data.csBit = 1;
    answer.data.errBit = 0;
    answer.data.efBit = 0;

    switch (scenario.mode) {
    case Scenario::Mode::Echo:
        answerEcho(request, answer);
        break;
    case Scenario::Mode::Registers:
        answerRegisters(request, answer);
        break;
    case Scenario::Mode::Extended:
        answerExtended(request, answer);
        break;
    }
    if (!frame(answer)) {
        return false;
    }
    if (scenario.silent) {
        return false;
    }
    plan(answer);
    return true;
}

void Responder::answerEcho(const SimRequest& request, SimAnswer& answer) {
    if (!request.extended.empty()) {
        answer.extended = requestExtendedData(request);
        answer.data.efBit = 1;
        setCount(answer.data, answer.extended.size());
    }
}

void Responder::answerExtended(const SimRequest& request, SimAnswer& answer) {
    if (!request.extended.empty()) {
        answer.extended = requestExtendedData(request);
    } else {
        answer.extended.resize(scenario.extendedCount);
        for (std::size_t i = 0; i < answer.extended.size(); ++i) {
            answer.extended[i] = static_cast<unsigned char>((0x80 + i) & 0xFF);
        }
    }
    answer.data.efBit = 1;
    setCount(answer.data, answer.extended.size());
}

void Responder::answerRegisters(const SimRequest& request, SimAnswer& answer) {
    // WTS set: the request writes the parameter; clear: it reads it.
    const bool write = request.data.wtsBit != 0;
    const unsigned key = unsigned(request.data.id.code) << 8 | request.data.id.index;
    switch (request.data.id.code) {
    case codeValue: {
        std::vector<unsigned char>& stored = registers[key];
        if (write) {
            stored.assign(request.data.data, request.data.data + 4);
        }
        stored.resize(4, 0);
        std::copy(stored.begin(), stored.end(), answer.data.data);
        break;
    }
    case codeBytes: {
        std::vector<unsigned char>& stored = registers[key];
        if (write) {
            stored = requestExtendedData(request);
        } else {
            answer.extended = stored;
            answer.data.efBit = 1;
        }
        setCount(answer.data, stored.size());
        answer.data.data[2] = answer.data.data[3] = 0;
        break;
    }
    default:
        answer.data.errBit = 1;
        answer.data.ntxt = ntxtUnknownCode;
        break;
    }
}

bool Responder::frame(SimAnswer& answer) {
    if (answer.extended.size() > 65535) {
        answer.extended.resize(65535);
    }
    const Velk21ExtendedBlockKernel flags(answer.data.wtsBit, answer.data.csBit,
                                          answer.data.subLBit);
    const unsigned groups = static_cast<unsigned>((answer.extended.size() + 6) / 7);
    DataBlock<unsigned char> block;
    block.resize(dataPackager.size(answer.data) + groups * extendedPackager.size(flags), 0);
    unsigned position = 0;
    if (!dataPackager.pack(block, position, answer.data)) {
        return false;
    }
    for (unsigned g = 0; g < groups; ++g) {
        Velk21ExtendedBlockKernel kernel = flags;
        for (unsigned i = 0; i < 7 && g * 7 + i < answer.extended.size(); ++i) {
            kernel.data[i] = answer.extended[g * 7 + i];
        }
        if (!extendedPackager.pack(block, position, kernel)) {
            return false;
        }
    }
    answer.wire.assign(block.data(), block.data() + block.size());
    return true;
}

void Responder::plan(SimAnswer& answer) const {
    std::vector<unsigned char> bytes;
    for (unsigned i = 0; i < scenario.garbage; ++i) {
        bytes.push_back(static_cast<unsigned char>((0x11 * (i + 1)) & 0x7F));
    }
    std::vector<unsigned char> wire = answer.wire;
    if (scenario.badCrc) {
        wire[11] ^= 0x01; // still a 7-bit byte, so it cannot pass for a header
    }
    if (scenario.headerMid) {
        bytes.insert(bytes.end(), wire.begin(), wire.begin() + headerMidBytes);
    }
    bytes.insert(bytes.end(), wire.begin(), wire.end());
    bytes.insert(bytes.end(), scenario.extraBytes, extraByte);

    answer.plan.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        answer.plan.push_back({i == 0 ? scenario.delayMs : scenario.gapMs, bytes[i]});
    }
}
