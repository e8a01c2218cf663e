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
    // sent nothing.
    int bytesOutsideRts = 0;
    int emptyStretches = 0;
    // RTS still high later than the transmission's time on the wire plus
    // limitMs after it rose, the time the guest stood still not counted.
    int late = 0;
    // Bytes received while RTS was certainly high, in transmissions during
    // which the guest never stood still.
    int bytesInWhileHigh = 0;
    // Time RTS stayed high beyond the wire time, in ms: median and largest.
    double medianTailMs = 0;
    double worstTailMs = 0;
    // The largest gap between two samples, in ms; the transmissions during
    // which the guest stood still; the stills of RTS low in which bytes went
    // out (a whole transmission may hide in one).
    double worstGapMs = 0;
    int stalledTransmissions = 0;
    int hiddenTransmissions = 0;

    // Enough was seen (five transmissions judged in full, at most one in
    // five hidden), and nothing was wrong.
    bool passed() const {
        return transmissions - stalledTransmissions >= 5 &&
               hiddenTransmissions * 5 <= transmissions && bytesOutsideRts == 0 &&
               emptyStretches == 0 && late == 0 && bytesInWhileHigh == 0;
    }
    std::string text(double limitMs) const;
};

// bitsPerCharacter at baudRate give each byte's wire time.
RtsVerdict judgeRts(const std::vector<LineSample>& samples, unsigned baudRate,
                    unsigned bitsPerCharacter, double limitMs, double blindMs = 1.0);

#endif
