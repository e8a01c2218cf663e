// The rig's verdict on RTS from a sampled line: a checker that passes a
// master holding RTS through the answer would hide the very fault it is for.

#include "RtsTimeline.h"

#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

// A line sampled every 100 us: each step says when RTS changes and when
// bytes go out or come in, in ms from the start.
struct Script {
    struct Event {
        double ms;
        int rts; // -1: unchanged
        unsigned tx;
        unsigned rx;
    };
    std::vector<Event> events;

    Script& rts(double ms, bool high) {
        events.push_back({ms, high ? 1 : 0, 0, 0});
        return *this;
    }
    // count bytes, one each characterMs from ms.
    Script& send(double ms, unsigned count, double characterMs) {
        for (unsigned i = 0; i < count; ++i) {
            events.push_back({ms + i * characterMs, -1, 1, 0});
        }
        return *this;
    }
    Script& receive(double ms, unsigned count, double characterMs) {
        for (unsigned i = 0; i < count; ++i) {
            events.push_back({ms + i * characterMs, -1, 0, 1});
        }
        return *this;
    }
    std::vector<LineSample> sample(double untilMs) const {
        const int steps = static_cast<int>(untilMs * 10);
        std::vector<LineSample> samples(static_cast<std::size_t>(steps) + 1);
        std::vector<std::vector<Event>> byStep(samples.size());
        for (const Event& e : events) {
            // An event between two samples shows at the later one.
            const int step = static_cast<int>(std::ceil(e.ms * 10 - 1e-9));
            if (step >= 0 && step <= steps) {
                byStep[static_cast<std::size_t>(step)].push_back(e);
            }
        }
        LineSample line;
        for (int k = 0; k <= steps; ++k) {
            for (const Event& e : byStep[static_cast<std::size_t>(k)]) {
                if (e.rts >= 0) {
                    line.rts = e.rts != 0;
                }
                line.tx += e.tx;
                line.rx += e.rx;
            }
            line.ns = std::int64_t(k) * 100000;
            samples[static_cast<std::size_t>(k)] = line;
        }
        return samples;
    }
};

constexpr double byteMs = 10.0 * 1000 / 115200; // 8N1 at 115200

// One exchange at 115200 baud: an 18-byte request, RTS dropped tailMs after
// its last byte, a 12-byte answer from answerMs, starting at startMs.
Script& exchange(Script& s, double startMs, double tailMs, double answerMs) {
    const double wire = 18 * byteMs;
    return s.rts(startMs, true)
        .send(startMs + 0.05, 18, byteMs)
        .rts(startMs + wire + tailMs, false)
        .receive(startMs + answerMs, 12, byteMs);
}

} // namespace

class TestRtsTimeline : public QObject {
    Q_OBJECT

private slots:
    void verdict_data() {
        QTest::addColumn<double>("tailMs");
        QTest::addColumn<double>("answerMs");
        QTest::addColumn<bool>("passed");
        QTest::addColumn<int>("late");
        QTest::addColumn<int>("answerWhileHigh");
        // The port's own figure: RTS drops 2 ms after the last bit.
        QTest::newRow("2 ms tail, answer after 10 ms") << 2.0 << 10.0 << true << 0 << 0;
        QTest::newRow("4.5 ms tail") << 4.5 << 10.0 << true << 0 << 0;
        // The drain that waits for a transmitter that never reports empty.
        QTest::newRow("155 ms tail, answer after 10 ms") << 155.0 << 10.0 << false << 1 << 12;
        QTest::newRow("6 ms tail") << 6.0 << 20.0 << false << 1 << 0;
        // Late only by the answer: a slave that answers at once collides.
        QTest::newRow("answer inside the tail") << 3.0 << 3.0 << false << 0 << 12;
    }

    void verdict() {
        QFETCH(double, tailMs);
        QFETCH(double, answerMs);
        Script script;
        for (int i = 0; i < 10; ++i) {
            exchange(script, 10 + i * 200.0, tailMs, answerMs);
        }
        const RtsVerdict v = judgeRts(script.sample(2100), 115200, 10, 5.0, 5.0);
        QCOMPARE(v.transmissions, 10);
        QFETCH(bool, passed);
        QFETCH(int, late);
        QFETCH(int, answerWhileHigh);
        QCOMPARE(v.passed(), passed);
        QCOMPARE(v.late, 10 * late);
        QVERIFY2(qAbs(v.bytesInWhileHigh - 10 * answerWhileHigh) <= 10,
                 qPrintable(QString::number(v.bytesInWhileHigh)));
        // Measured within the sampling gap, never beyond the truth.
        QVERIFY2(v.medianTailMs <= tailMs && v.medianTailMs > tailMs - 0.3,
                 qPrintable(v.text().c_str()));
        QVERIFY(v.worstGapMs < 0.15);
    }

    // A master slower to hand its bytes over than the line is to send them
    // (an emulator): the wire is busy until a character after the last.
    void slowHandOverCountsFromTheLastByte() {
        Script script;
        for (int i = 0; i < 10; ++i) {
            const double start = 10 + i * 50.0;
            script.rts(start, true)
                .send(start + 0.05, 18, 0.3) // a byte each 0.3 ms: 5.4 ms
                .rts(start + 0.05 + 17 * 0.3 + byteMs + 4, false)
                .receive(start + 20, 12, byteMs);
        }
        const RtsVerdict v = judgeRts(script.sample(520), 115200, 10, 5.0, 5.0);
        QVERIFY2(v.passed(), v.text().c_str());
        QVERIFY2(v.worstTailMs <= 4 && v.worstTailMs > 3.6, v.text().c_str());
    }

    void bytesWithoutRtsAndRtsWithoutBytes() {
        Script script;
        script.rts(2, true).rts(3, false); // the master's open
        for (int i = 0; i < 10; ++i) {
            exchange(script, 10 + i * 50.0, 2, 10);
        }
        QVERIFY(judgeRts(script.sample(600), 115200, 10, 5.0, 5.0).passed());
        script.send(520, 3, byteMs);           // written with RTS low
        script.rts(550, true).rts(553, false); // raised for nothing
        const RtsVerdict v = judgeRts(script.sample(600), 115200, 10, 5.0, 5.0);
        QCOMPARE(v.transmissions, 11);
        QCOMPARE(v.bytesOutsideRts, 3);
        QCOMPARE(v.emptyStretches, 1);
        QVERIFY(!v.passed());
    }

    // A sampler that did not run for a while may have missed a whole
    // transmission: what moved then is not judged, but it must stay rare.
    void longGapsAreNotJudged() {
        Script script;
        for (int i = 0; i < 12; ++i) {
            exchange(script, 10 + i * 50.0, 2, 10);
        }
        std::vector<LineSample> samples = script.sample(620);
        const auto blind = [&samples](double fromMs, double toMs) {
            samples.erase(std::remove_if(samples.begin(), samples.end(),
                                         [&](const LineSample& s) {
                                             return s.ns > fromMs * 1e6 && s.ns < toMs * 1e6;
                                         }),
                          samples.end());
        };
        blind(59, 75); // the 2nd transmission and its answer unseen
        RtsVerdict v = judgeRts(samples, 115200, 10, 5.0, 5.0);
        QCOMPARE(v.transmissions, 11);
        QCOMPARE(v.hiddenTransmissions, 1);
        QCOMPARE(v.bytesOutsideRts, 0);
        QVERIFY2(v.passed(), v.text().c_str());
        blind(109, 125);
        blind(159, 175);
        v = judgeRts(samples, 115200, 10, 5.0, 5.0);
        QCOMPARE(v.hiddenTransmissions, 3);
        QVERIFY(!v.passed());
    }

    // The guest stood still while RTS was high: the master could not drop
    // it, and an answer that came meanwhile is not its fault. The same
    // lateness without a still is.
    void stillsExcuseTheMaster() {
        for (const bool still : {true, false}) {
            Script script;
            for (int i = 0; i < 10; ++i) {
                // The 4th RTS drops 15 ms late, after the answer came.
                const double tail = i == 3 ? 17 : 2;
                exchange(script, 10 + i * 50.0, tail, i == 3 ? 17 : 10);
            }
            std::vector<LineSample> samples = script.sample(520);
            if (still) {
                samples.erase(std::remove_if(
                                  samples.begin(), samples.end(),
                                  [](const LineSample& s) { return s.ns > 162e6 && s.ns < 177e6; }),
                              samples.end());
            }
            const RtsVerdict v = judgeRts(samples, 115200, 10, 5.0, 5.0);
            QCOMPARE(v.transmissions, 10);
            QCOMPARE(v.stalledTransmissions, still ? 1 : 0);
            QCOMPARE(v.late, still ? 0 : 1);
            QCOMPARE(v.bytesInWhileHigh, still ? 0 : 12);
            QVERIFY2(v.passed() == still, v.text().c_str());
        }
    }

    // Every transmission within the worst bound, the median within the
    // limit: single slow ones pass, a slow master does not.
    void medianAndWorst() {
        const auto judge = [](double oddTail, double usualTail) {
            Script script;
            for (int i = 0; i < 10; ++i) {
                exchange(script, 10 + i * 100.0, i == 4 ? oddTail : usualTail, 80);
            }
            return judgeRts(script.sample(1100), 115200, 10, 5.0, 50.0);
        };
        QVERIFY(judge(20, 2).passed());
        const RtsVerdict tooLate = judge(60, 2);
        QCOMPARE(tooLate.late, 1);
        QVERIFY(!tooLate.passed());
        const RtsVerdict slow = judge(6, 6);
        QCOMPARE(slow.late, 0);
        QVERIFY(!slow.passed());
    }

    // One answer in ten that meets RTS still high is the emulator's; two are
    // the master's.
    void answersWhileHigh() {
        const auto judge = [](int odd) {
            Script script;
            for (int i = 0; i < 10; ++i) {
                exchange(script, 10 + i * 100.0, i < odd ? 30 : 2, 20);
            }
            return judgeRts(script.sample(1100), 115200, 10, 5.0, 50.0);
        };
        const RtsVerdict one = judge(1);
        QCOMPARE(one.answeredWhileHigh, 1);
        QVERIFY2(one.passed(), one.text().c_str());
        const RtsVerdict two = judge(2);
        QCOMPARE(two.answeredWhileHigh, 2);
        QVERIFY(!two.passed());
    }

    void nothingSampledFails() {
        QVERIFY(!judgeRts({}, 115200, 10, 5.0, 5.0).passed());
        Script idle;
        QVERIFY(!judgeRts(idle.sample(100), 115200, 10, 5.0, 5.0).passed());
    }
};

QTEST_APPLESS_MAIN(TestRtsTimeline)
#include "tst_rts_timeline.moc"
