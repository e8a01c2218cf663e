#ifndef VELK_RTSTIMELINE_H
#define VELK_RTSTIMELINE_H

#include <cstdint>
#include <string>
#include <vector>

// What a probe beside the master sees of a line by sampling it: RTS as the
// driver holds it (TIOCMGET) and the driver's byte counters (TIOCGICOUNT).
struct LineSample {
    std::int64_t ns = 0; // monotonic time of the sample
    bool rts = false;
    std::uint32_t tx = 0; // bytes handed to the transmitter so far
    std::uint32_t rx = 0; // bytes received so far
};

// The verdict on a sampled run of exchanges. A transmission is one stretch
// of RTS high; sampling places each edge within one sampling gap, and every
// figure below gives the master the benefit of that doubt. A gap longer than
// blindMs means the guest stood still (an emulator on a loaded machine): the
// master could not act then, while the slave outside kept its time.
struct RtsVerdict {
    int transmissions = 0;
    // Bytes sent while RTS was certainly low, and stretches of RTS high that
    // sent nothing (but the one of the master's open, before any byte).
    int bytesOutsideRts = 0;
    int emptyStretches = 0;
    // Transmissions whose RTS stayed high longer than worstMs after their
    // end on the wire (their bytes' time from the rise, or a character's
    // time after the last was handed over), the time the guest stood still
    // not counted.
    int late = 0;
    // Bytes received while RTS was certainly high, and in how many
    // transmissions, of those during which the guest never stood still.
    int bytesInWhileHigh = 0;
    int answeredWhileHigh = 0;
    // Time RTS stayed high beyond the wire time, in ms: median and largest.
    double medianTailMs = 0;
    double worstTailMs = 0;
    // The largest gap between two samples, in ms; the transmissions during
    // which the guest stood still; the stills of RTS low in which bytes went
    // out (a whole transmission may hide in one).
    double worstGapMs = 0;
    int stalledTransmissions = 0;
    int hiddenTransmissions = 0;

    double limitMs = 0;
    double worstMs = 0;

    // Enough was seen (ten transmissions, at most one in five more hidden),
    // and nothing was wrong: RTS down within limitMs after the bytes' end in
    // the median, within worstMs always, an answer while RTS is high in at
    // most one transmission of ten (an emulator's hiccup; a master that
    // holds RTS too long meets every answer).
    bool passed() const {
        return transmissions >= 10 && hiddenTransmissions * 5 <= transmissions &&
               bytesOutsideRts == 0 && emptyStretches == 0 && late == 0 &&
               answeredWhileHigh * 10 <= transmissions && medianTailMs <= limitMs;
    }
    std::string text() const;
};

// bitsPerCharacter at baudRate give each byte's wire time. worstMs bounds
// every transmission where limitMs bounds the median: an emulator slower
// than the machine it runs on stretches single ones.
RtsVerdict judgeRts(const std::vector<LineSample>& samples, unsigned baudRate,
                    unsigned bitsPerCharacter, double limitMs, double worstMs,
                    double blindMs = 1.0);

#endif
