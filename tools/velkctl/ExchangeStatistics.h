#ifndef VELK_VELKCTL_EXCHANGESTATISTICS_H
#define VELK_VELKCTL_EXCHANGESTATISTICS_H

#include <map>

// Counts of a run and the response times of its answers OK. Times are kept
// as a histogram at microsecond resolution, so a run of days stays small
// while min, median, p99 and max remain exact to the microsecond.
class ExchangeStatistics {
public:
    void add(int errorCode, double responseMs);
    // What became of the port around an exchange.
    void addPortChange(bool reopened, bool lost);

    unsigned portLosses() const { return lossCount; }
    unsigned portReopenings() const { return reopenCount; }

    unsigned requests() const { return requestCount; }
    unsigned answersOk() const { return okCount; }
    unsigned errors() const { return requestCount - okCount; }
    // Error code -> number of exchanges that ended with it (code 0 not included).
    const std::map<int, unsigned>& errorsByCode() const { return errorCounts; }

    // False until an answer OK was counted; the times below are 0 until then.
    bool hasTimes() const { return okCount != 0; }
    double minMs() const { return double(atRank(1)) / 1000.0; }
    double maxMs() const { return double(atRank(okCount)) / 1000.0; }
    // Mean of the two middle times for an even count.
    double medianMs() const;
    // Nearest rank: the smallest time that at least 99 % of the times do not exceed.
    double p99Ms() const;

private:
    // Time at 1-based rank r in ascending order (0 while there is none).
    long long atRank(unsigned long long rank) const;

    unsigned requestCount = 0;
    unsigned okCount = 0;
    unsigned lossCount = 0;
    unsigned reopenCount = 0;
    std::map<int, unsigned> errorCounts;
    std::map<long long, unsigned> timesUs;
};

#endif
