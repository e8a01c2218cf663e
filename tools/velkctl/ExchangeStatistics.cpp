#include "ExchangeStatistics.h"

#include <cmath>

void ExchangeStatistics::add(int errorCode, double responseMs) {
    ++requestCount;
    if (errorCode != 0) {
        ++errorCounts[errorCode];
        return;
    }
    ++okCount;
    ++timesUs[std::llround(responseMs * 1000.0)];
}

void ExchangeStatistics::addPortChange(bool reopened, bool lost) {
    reopenCount += reopened ? 1 : 0;
    lossCount += lost ? 1 : 0;
}

long long ExchangeStatistics::atRank(unsigned long long rank) const {
    unsigned long long seen = 0;
    for (const auto& [us, n] : timesUs) {
        seen += n;
        if (seen >= rank) {
            return us;
        }
    }
    return timesUs.empty() ? 0 : timesUs.rbegin()->first;
}

double ExchangeStatistics::medianMs() const {
    const unsigned long long n = okCount;
    return n % 2 == 1 ? double(atRank(n / 2 + 1)) / 1000.0
                      : double(atRank(n / 2) + atRank(n / 2 + 1)) / 2000.0;
}

double ExchangeStatistics::p99Ms() const {
    // ceil(0.99 n) in integers, free of floating-point rounding at exact multiples.
    return double(atRank((99ull * okCount + 99) / 100)) / 1000.0;
}
