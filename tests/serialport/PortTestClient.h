#ifndef VELK_PORTTESTCLIENT_H
#define VELK_PORTTESTCLIENT_H

#include "ISession.h"
#include "ManualResetEvent.h"

#include <atomic>
#include <functional>

// Port client that counts the callbacks and keeps receiving while
// keepReceiving(bytes so far) says so.
class PortTestClient : public ISession {
public:
    std::atomic<int> txCompletes{0};
    std::atomic<int> rxCompletes{0};
    std::atomic<int> rxProcesses{0};
    std::atomic<unsigned> lastBytesRead{0};
    ManualResetEvent txDone{"txDone", false};
    ManualResetEvent rxDone{"rxDone", false};
    std::function<bool(int)> keepReceiving = [](int) { return false; };
    // Called inside txComplete, e.g. to look at the line at that moment.
    std::function<void()> onTxComplete;

    void txComplete() override {
        if (onTxComplete) {
            onTxComplete();
        }
        ++txCompletes;
        txDone.set();
    }
    void rxComplete() override {
        ++rxCompletes;
        rxDone.set();
    }
    bool rxProcess(unsigned bytesRead) override {
        lastBytesRead = bytesRead;
        return keepReceiving(++rxProcesses);
    }
};

#endif
