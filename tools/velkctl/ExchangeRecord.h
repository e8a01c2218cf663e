#ifndef VELK_VELKCTL_EXCHANGERECORD_H
#define VELK_VELKCTL_EXCHANGERECORD_H

#include "DataBlock.h"
#include "Velk21DataBlockKernel.h"

#include <string>

// What the tool reports about one exchange.
struct ExchangeRecord {
    unsigned sequence = 0; // from 1
    std::string timestamp; // start of the exchange, ISO 8601
    std::string port;
    double responseMs = 0;
    int errorCode = 0;
    DataBlock<unsigned char> txAddressPacket;
    DataBlock<unsigned char> txDataPacket;
    DataBlock<unsigned char> rxDataPacket; // as received, before decoding; empty without one
    bool answerDecoded = false;            // codes 0, 7 and 8
    Velk21DataBlockKernel answer;
    DataBlock<unsigned char> extendedData; // the answer's
    int rxType = 0;                        // 0: no typed value
    std::string value;                     // typed value of the answer's data bytes
    bool portReopened = false;             // the port was opened again for this exchange
    bool portLost = false;                 // the device was lost during it
};

#endif
