#ifndef VELK_EXCHANGERESULT_H
#define VELK_EXCHANGERESULT_H

#include "DataBlock.h"
#include "Velk21AddressBlockKernel.h"
#include "Velk21DataBlockKernel.h"

#include <chrono>
#include <string>

// How an exchange of Velk21Session ended: the codes of its int out-parameter,
// which the tools also use as their exit statuses.
enum class ExchangeError {
    None = 0,
    AddressNotPacked = 1,
    DataNotPacked = 2,
    ExtendedNotPacked = 3,
    TransmissionFailed = 4,
    AnswerNotReceived = 5,
    AnswerNotDecoded = 6,
    ExtendedNotReceived = 7,
    ExtendedNotDecoded = 8,
};

constexpr int exchangeErrorCode(ExchangeError error) {
    return static_cast<int>(error);
}

// The error of a session code; codes outside 0 to 8 do not occur.
ExchangeError exchangeErrorOf(int code);

// The text of the code (UTF-8), as the dialog shows it.
const char* exchangeErrorText(ExchangeError error);

// One request as the runner sends it.
struct ExchangeRequest {
    Velk21AddressBlockKernel address;
    Velk21DataBlockKernel data;
    DataBlock<unsigned char> extendedData;
    unsigned maxRestarts = 0;
    unsigned byteTimeoutMs = 150;
};

// Everything known of one exchange, for every tool that shows one.
struct ExchangeResult {
    ExchangeError error = ExchangeError::None;
    // The request as framed (the session frames its own copy the same way).
    DataBlock<unsigned char> txAddressPacket;
    DataBlock<unsigned char> txDataPacket;
    // Every byte that came off the line for the answer's data block, stray
    // bytes before its header included (see Velk21Session::exchange).
    DataBlock<unsigned char> rxDataPacket;
    // Valid when answerDecoded(); all zero and empty otherwise.
    Velk21DataBlockKernel answer;
    DataBlock<unsigned char> extendedData;
    std::chrono::system_clock::time_point started;
    double responseMs = 0;
    bool portReopened = false; // the port was opened again for this exchange
    bool portLost = false;     // the device was lost during it
    bool portGone = false;     // lost for good: a pseudo-terminal's path does not come back
    double portDownMs = 0;     // portReopened: how long it was gone
    bool aborted = false;      // ended by the runner's abort: the code says nothing of the line

    int code() const { return exchangeErrorCode(error); }
    // Codes 0, 7 and 8 leave a decoded answer.
    bool answerDecoded() const;
};

// A request's two packets framed for a log, as the session frames them (a
// refused record shows as the exchange's code, not here).
void frameRequest(const Velk21AddressBlockKernel& address, const Velk21DataBlockKernel& data,
                  DataBlock<unsigned char>& addressPacket, DataBlock<unsigned char>& dataPacket);

#endif
