#include "RtsTimeline.h"

#include <algorithm>
#include <cstdio>

RtsVerdict judgeRts(const std::vector<LineSample>& samples, unsigned baudRate,
                    unsigned bitsPerCharacter, double limitMs, double worstMs, double blindMs) {
    RtsVerdict verdict;
    verdict.limitMs = limitMs;
    verdict.worstMs = worstMs;
    std::vector<double> tails;
    const double characterMs = 1000.0 * bitsPerCharacter / baudRate;
    std::size_t rise = 0; // the first sample of the stretch of RTS high; 0: none
    // The stills of the stretch, as (from, to) in ns.
    std::vector<std::pair<std::int64_t, std::int64_t>> stills;
    std::int64_t lastSentNs = 0;
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
                stills.emplace_back(before.ns, now.ns);
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
        if (now.tx != before.tx) {
            lastSentNs = now.ns;
        }
        if (now.rts && !before.rts) {
            rise = k;
            stills.clear();
            answerWhileHigh = 0;
        } else if (!now.rts && before.rts && rise != 0) {
            const std::uint32_t sent = now.tx - samples[rise - 1].tx;
            // Before the first byte, RTS up for nothing is the kernel's
            // doing: opening a tty raises it, the master drops it at once.
            if (sent == 0 && samples[rise - 1].tx == samples.front().tx) {
                rise = 0;
                continue;
            }
            ++verdict.transmissions;
            if (sent == 0) {
                ++verdict.emptyStretches;
            }
            // Its bytes were on the wire for their time from the rise, or
            // till one character after the last was handed over (a master
            // slower to hand them over than the line is to send them). RTS
            // was high at least till the last sample that saw it high, less
            // the time the guest stood still after that end.
            const std::int64_t wireEndNs = std::max<std::int64_t>(
                samples[rise].ns + std::int64_t(sent * characterMs * 1e6),
                sent != 0 ? lastSentNs + std::int64_t(characterMs * 1e6) : 0);
            double stalledMs = 0;
            for (const auto& still : stills) {
                stalledMs +=
                    std::max<std::int64_t>(0, still.second - std::max(still.first, wireEndNs)) /
                    1e6;
            }
            const double tailMs = (before.ns - wireEndNs) / 1e6 - stalledMs;
            tails.push_back(tailMs);
            if (tailMs > worstMs) {
                ++verdict.late;
            }
            // A stall may have held RTS up while the slave, outside the
            // guest, kept its time: its answer then is not the master's fault.
            if (!stills.empty()) {
                ++verdict.stalledTransmissions;
            } else if (answerWhileHigh != 0) {
                verdict.bytesInWhileHigh += answerWhileHigh;
                ++verdict.answeredWhileHigh;
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

std::string RtsVerdict::text() const {
    char line[480];
    std::snprintf(line, sizeof line,
                  "%d transmissions; RTS high after the bytes' end median %.2f ms (limit %.1f), "
                  "max %.2f ms (limit %.1f); bytes sent without RTS %d, RTS high without bytes %d, "
                  "answer bytes while RTS high %d in %d transmissions; sampled every <= %.2f ms, "
                  "guest stalled in %d transmissions, %d maybe unseen",
                  transmissions, medianTailMs, limitMs, worstTailMs, worstMs, bytesOutsideRts,
                  emptyStretches, bytesInWhileHigh, answeredWhileHigh, worstGapMs,
                  stalledTransmissions, hiddenTransmissions);
    return line;
}
