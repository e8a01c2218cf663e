// The tools' exchange runner over the scriptable device: what it reports of
// each exchange, and how stop and abort end a run.

#include "BlockBytes.h"
#include "ExchangeRunner.h"
#include "SessionRig.h"
#include "Velk21DataBlockPacketPackager.h"

#include <QElapsedTimer>
#include <QtTest>

#include <thread>

namespace {

ExchangeRequest requestTo(unsigned char address, unsigned byteTimeoutMs) {
    ExchangeRequest r;
    r.address = Velk21AddressBlockKernel(Velk21Address(address, 0, 0, 0), 0);
    r.data = Velk21DataBlockKernel(Velk21ParameterId(0x10, 1), 0x1F, 0, 0, 0, 0, 0, 0, 0);
    r.byteTimeoutMs = byteTimeoutMs;
    return r;
}

Bytes answerBlock() {
    return framed<Velk21DataBlockPacketPackager>(
        Velk21DataBlockKernel(Velk21ParameterId(0x10, 1), 5, 0, 0, 0, 1, 0, 0, 0));
}

} // namespace

class TestExchangeRunner : public QObject {
    Q_OBJECT

private slots:
    void reportsEachExchange();
    void noiseBeforeTheAnswerIsKept();
    void abortEndsTheExchangeInFlight();
    void stopEndsTheWaitBetweenExchanges();
};

void TestExchangeRunner::reportsEachExchange() {
    SessionRig rig;
    ExchangeRunner runner(*rig.session);
    std::vector<ExchangeResult> results;
    rig.fake->queueReply(answerBlock());
    runner.cyclic(requestTo(5, 30), 1, 2, [&](const ExchangeResult& r) {
        results.push_back(r);
        return true;
    });
    QCOMPARE(results.size(), std::size_t(2)); // the second has no answer
    QCOMPARE(results[0].error, ExchangeError::None);
    QVERIFY(results[0].answerDecoded());
    QCOMPARE(int(results[0].answer.ao), 5);
    QCOMPARE(bytesOf(results[0].rxDataPacket), answerBlock());
    QCOMPARE(results[0].txAddressPacket.size(), 6u);
    QCOMPARE(results[0].txDataPacket.size(), 12u);
    QCOMPARE(results[1].error, ExchangeError::AnswerNotReceived);
    QCOMPARE(results[1].code(), 5);
    QVERIFY(!results[1].answerDecoded());
    QCOMPARE(int(results[1].answer.ao), 0); // not the request left behind
    QVERIFY(!results[1].aborted);
    QCOMPARE(QString(exchangeErrorText(results[1].error)),
             QString::fromUtf8("Ошибка приёма блока данных (тайм-аут)."));
}

// What came off the line before the header, as it came.
void TestExchangeRunner::noiseBeforeTheAnswerIsKept() {
    const Bytes noise{0x5A, 0x33};
    Bytes reply = noise;
    const Bytes block = answerBlock();
    reply.insert(reply.end(), block.begin(), block.end());
    for (unsigned restarts : {0u, 1u}) {
        SessionRig rig;
        ExchangeRunner runner(*rig.session);
        rig.fake->queueReply(reply);
        ExchangeRequest request = requestTo(5, 30);
        request.maxRestarts = restarts;
        const ExchangeResult r = runner.exchange(request);
        QCOMPARE(r.code(), restarts == 0 ? 6 : 0);
        const Bytes seen = bytesOf(r.rxDataPacket);
        QCOMPARE(Bytes(seen.begin(), seen.begin() + 3), (Bytes{0x5A, 0x33, block[0]}));
        QCOMPARE(seen.size(), restarts == 0 ? std::size_t(3) : reply.size());
    }
}

void TestExchangeRunner::abortEndsTheExchangeInFlight() {
    SessionRig rig;
    ExchangeRunner runner(*rig.session);
    int reported = 0;
    QElapsedTimer clock;
    std::thread signal([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        clock.start();
        runner.abort();
    });
    // No answer, and a byte time-out of a minute.
    runner.cyclic(requestTo(5, 60000), 0, 0, [&](const ExchangeResult&) {
        ++reported;
        return true;
    });
    const qint64 ms = clock.elapsed();
    signal.join();
    qInfo("the exchange ended %lld ms after abort()", ms);
    QVERIFY(ms < 5000);    // a guard against a hang, not a measurement
    QCOMPARE(reported, 0); // the cut exchange is not reported
    QVERIFY(runner.stopped());
    // The port is closed for good: nothing more goes out.
    QCOMPARE(runner.exchange(requestTo(5, 10)).error, ExchangeError::TransmissionFailed);
}

void TestExchangeRunner::stopEndsTheWaitBetweenExchanges() {
    SessionRig rig;
    ExchangeRunner runner(*rig.session);
    int reported = 0;
    std::thread signal([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        runner.stop();
    });
    QElapsedTimer clock;
    clock.start();
    runner.cyclic(requestTo(5, 10), 60000, 0, [&](const ExchangeResult&) {
        ++reported;
        return true;
    });
    signal.join();
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(reported, 0);
    QVERIFY(rig.fake->written().empty()); // the first waits its period: nothing sent
    QVERIFY(!runner.pause(10));
}

QTEST_GUILESS_MAIN(TestExchangeRunner)
#include "tst_exchange_runner.moc"
