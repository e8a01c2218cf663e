#include "ExchangeResult.h"

#include "Velk21AddressBlockPacketPackager.h"
#include "Velk21DataBlockPacketPackager.h"
#include "Velk21SessionErrors.h"

ExchangeError exchangeErrorOf(int code) {
    return code >= 0 && code < velk21SessionErrorCount ? static_cast<ExchangeError>(code)
                                                       : ExchangeError::TransmissionFailed;
}

const char* exchangeErrorText(ExchangeError error) {
    return velk21SessionErrorText(exchangeErrorCode(error));
}

bool ExchangeResult::answerDecoded() const {
    return error == ExchangeError::None || error == ExchangeError::ExtendedNotReceived ||
           error == ExchangeError::ExtendedNotDecoded;
}

namespace {

template <class Packager, class Kernel>
void frame(Packager& packager, const Kernel& kernel, DataBlock<unsigned char>& packet) {
    packet.clear();
    packet.resize(packager.size(kernel), 0);
    unsigned position = 0;
    packager.pack(packet, position, kernel);
}

} // namespace

void frameRequest(const Velk21AddressBlockKernel& address, const Velk21DataBlockKernel& data,
                  DataBlock<unsigned char>& addressPacket, DataBlock<unsigned char>& dataPacket) {
    Velk21AddressBlockPacketPackager addressPackager;
    Velk21DataBlockPacketPackager dataPackager;
    frame(addressPackager, address, addressPacket);
    frame(dataPackager, data, dataPacket);
}
