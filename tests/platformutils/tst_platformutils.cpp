// The platform utilities that need Qt: the timed wait that keeps the event loop
// alive and the file locator. The rest runs without Qt in tests/plain.

#include "PlatformUtilitiesQt.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class TestPlatformUtils : public QObject {
    Q_OBJECT

private slots:
    void waitZeroReturnsAtOnce();
    void waitProcessesEvents_data();
    void waitProcessesEvents();

    void locate_data();
    void locate();
};

void TestPlatformUtils::waitZeroReturnsAtOnce() {
    bool fired = false;
    QTimer::singleShot(0, this, [&fired] { fired = true; });
    QCOMPARE(waitMs(0, false), 0u);
    QVERIFY(!fired); // no events were handled
    QTRY_VERIFY(fired);
}

void TestPlatformUtils::waitProcessesEvents_data() {
    QTest::addColumn<bool>("excludeUserInput");
    QTest::newRow("all events") << false;
    QTest::newRow("user input excluded") << true;
}

void TestPlatformUtils::waitProcessesEvents() {
    QFETCH(bool, excludeUserInput);
    bool fired = false;
    QTimer::singleShot(0, this, [&fired] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    const unsigned waited = waitMs(25, excludeUserInput);
    QVERIFY2(waited >= 25, qPrintable(QString::number(waited)));
    QVERIFY(clock.elapsed() >= 25);
    QVERIFY(fired);
}

void TestPlatformUtils::locate_data() {
    QTest::addColumn<QStringList>("baseFiles");
    QTest::addColumn<QStringList>("appFiles");
    QTest::addColumn<QString>("expected");

    // Names ending in "/" are created as directories.
    QTest::newRow("direct in base")
        << QStringList{"data.bin", "Xdata.bin"} << QStringList{"data.bin"} << "base:data.bin";
    QTest::newRow("one match in base") << QStringList{"Xdata.bin", "1data.bin", "data.bin.bak"}
                                       << QStringList{"data.bin"} << "base:Xdata.bin";
    QTest::newRow("two matches in base, direct in app")
        << QStringList{"Adata.bin", "bbdata.bin"} << QStringList{"data.bin"} << "app:data.bin";
    QTest::newRow("two matches in base, one in app")
        << QStringList{"Adata.bin", "Bdata.bin"} << QStringList{"Cdata.bin"} << "app:Cdata.bin";
    QTest::newRow("none in base, direct in app")
        << QStringList{"other.bin"} << QStringList{"data.bin", "Ydata.bin"} << "app:data.bin";
    QTest::newRow("none in base, one in app")
        << QStringList{} << QStringList{"vdata.bin", "9data.bin"} << "app:vdata.bin";
    QTest::newRow("two matches in both")
        << QStringList{"Adata.bin", "Bdata.bin"} << QStringList{"Adata.bin", "Bdata.bin"} << "";
    QTest::newRow("nothing anywhere") << QStringList{} << QStringList{} << "";
    QTest::newRow("directories are not files")
        << QStringList{"data.bin/", "Xdata.bin/"} << QStringList{"Zdata.bin/"} << "";
    QTest::newRow("directory match does not count")
        << QStringList{"Xdata.bin", "Ydata.bin/"} << QStringList{} << "base:Xdata.bin";
}

void TestPlatformUtils::locate() {
    QFETCH(QStringList, baseFiles);
    QFETCH(QStringList, appFiles);
    QFETCH(QString, expected);

    // The same sub-folder name under a temporary base and next to the test program.
    QTemporaryDir appTemp(QCoreApplication::applicationDirPath() + "/locate-XXXXXX");
    QTemporaryDir baseTemp;
    QVERIFY(appTemp.isValid() && baseTemp.isValid());
    const QString subDir = QFileInfo(appTemp.path()).fileName() + "/";
    const QString baseDir = baseTemp.path() + "/";
    QVERIFY(QDir().mkpath(baseDir + subDir));
    const QString appSubDir = QCoreApplication::applicationDirPath() + "/" + subDir;

    auto create = [](const QString& dir, const QStringList& names) {
        for (const QString& name : names) {
            if (name.endsWith('/')) {
                if (!QDir().mkpath(dir + name))
                    return false;
            } else {
                QFile file(dir + name);
                if (!file.open(QIODevice::WriteOnly))
                    return false;
            }
        }
        return true;
    };
    QVERIFY(create(baseDir + subDir, baseFiles));
    QVERIFY(create(appSubDir, appFiles));

    QString expectedPath;
    if (expected.startsWith("base:"))
        expectedPath = baseDir + subDir + expected.mid(5);
    else if (expected.startsWith("app:"))
        expectedPath = appSubDir + expected.mid(4);
    QCOMPARE(locateFile(baseDir, subDir, "data.bin"), expectedPath);
}

QTEST_GUILESS_MAIN(TestPlatformUtils)
#include "tst_platformutils.moc"
