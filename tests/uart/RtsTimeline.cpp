#include "RtsTimeline.h"

#include <algorithm>
#include <cstdio>

RtsVerdict judgeRts(const std::vector<LineSample>& samples, unsigned baudRate,
                    unsigned bitsPerCharacter, double limitMs, double blindMs) {
    RtsVerdict verdict;
    std::vector<double> tails;
    const double characterMs = 1000.0 * bitsPerCharacter / baudRate;
    std::size_t rise = 0; // the first sample of the stretch of RTS high; 0: none
    double stalledMs = 0; // of the stretch
    int answerWhileHigh = 0;
    for (std::size_t k = 1; k < samples.size(); ++k) {
        const LineSample& before = samples[k - 1];
        const LineSample& now = samples[k];
        const double gapMs = (now.ns - before.ns) / 1e6;
        verdict.worstGapMs = std::max(verdict.worstGapMs, gapMs);
        if (gapMs > blindMs) {
            // The probe runs above everything in the guest but the kernel:
            // the whole guest stood still, the master too.
            if (before.rts && now.rts) {
                stalledMs += gapMs;
            }
            if (now.tx != before.tx && !before.rts && !now.rts) {
                ++verdict.hiddenTransmissions;
            }
        } else {
            // Only what happened with RTS at the same level at both samples
            // is certain: an edge between them may have come first or last.
            if (now.tx != before.tx && !before.rts && !now.rts) {
                verdict.bytesOutsideRts += static_cast<int>(now.tx - before.tx);
            }
            if (now.rx != before.rx && before.rts && now.rts) {
                answerWhileHigh += static_cast<int>(now.rx - before.rx);
            }
        }
        if (now.rts && !before.rts) {
            rise = k;
            stalledMs = 0;
            answerWhileHigh = 0;
        } else if (!now.rts && before.rts && rise != 0) {
            ++verdict.transmissions;
            const std::uint32_t sent = now.tx - samples[rise - 1].tx;
            if (sent == 0) {
                ++verdict.emptyStretches;
            }
            // RTS was high at least from the first sample that saw it high
            // to the last one, less the time the guest stood still.
            const double shortestMs = (before.ns - samples[rise].ns) / 1e6;
            const double tailMs = shortestMs - stalledMs - sent * characterMs;
            tails.push_back(tailMs);
            if (tailMs > limitMs) {
                ++verdict.late;
            }
            // A stall may have held RTS up while the slave, outside the
            // guest, kept its time: its answer then is not the master's fault.
            if (stalledMs > 0) {
                ++verdict.stalledTransmissions;
            } else {
                verdict.bytesInWhileHigh += answerWhileHigh;
            }
            rise = 0;
        }
    }
    if (!tails.empty()) {
        std::sort(tails.begin(), tails.end());
        verdict.medianTailMs = tails[tails.size() / 2];
        verdict.worstTailMs = tails.back();
    }
    return verdict;
}

std::string RtsVerdict::text(double limitMs) const {
    char line[480];
    std::snprintf(line, sizeof line,
                  "%d transmissions; RTS high beyond the wire time median %.2f ms, max %.2f ms "
                  "(limit %.0f ms); late %d, bytes sent without RTS %d, RTS high without bytes "
                  "%d, answer bytes while RTS high %d; sampled every <= %.2f ms, guest stalled "
                  "in %d transmissions, %d maybe unseen",
                  transmissions, medianTailMs, worstTailMs, limitMs, late, bytesOutsideRts,
                  emptyStretches, bytesInWhileHigh, worstGapMs, stalledTransmissions,
                  hiddenTransmissions);
    return line;
}
