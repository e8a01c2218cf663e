#include <QImage>
#include <QTest>

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void images_data();
    void images();
};

// Taken from the static archive only when referenced, as in the program.
void TestResources::initTestCase() {
    Q_INIT_RESOURCE(arrows);
    Q_INIT_RESOURCE(circle);
    Q_INIT_RESOURCE(clear);
    Q_INIT_RESOURCE(close);
    Q_INIT_RESOURCE(misc);
}

void TestResources::images_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("enter") << ":/misc/enter_button.png" << QSize(48, 48);
    QTest::newRow("window icon") << ":/misc/orbek.png" << QSize(48, 48);
    QTest::newRow("left") << ":/arrows/black_left.png" << QSize(32, 32);
    QTest::newRow("right") << ":/arrows/black_right.png" << QSize(32, 32);
    QTest::newRow("red") << ":/circle/red_circle_2.png" << QSize(200, 200);
    QTest::newRow("green") << ":/circle/green_circle_2.png" << QSize(200, 200);
    QTest::newRow("clear") << ":/clear/clear_1.png" << QSize(128, 128);
    QTest::newRow("close") << ":/close/close_3.png" << QSize(32, 32);
}

void TestResources::images() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
    QVERIFY(image.hasAlphaChannel());
    // Drawn, not blank: some pixels are opaque and some are transparent.
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            opaque += qAlpha(image.pixel(x, y)) == 255;
        }
    }
    QVERIFY(opaque > 0);
    QVERIFY(opaque < image.width() * image.height());
}

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
