// The code page table against the C library's own CP1251 converter, byte by byte.

#include "Windows1251.h"

#include <QtTest>

#include <iconv.h>

class TestWindows1251 : public QObject {
    Q_OBJECT

private slots:
    void everyByteAsIconvConvertsIt() {
        iconv_t cd = iconv_open("UTF-32LE", "CP1251");
        QVERIFY2(cd != iconv_t(-1), "iconv has no CP1251");
        int undefined = 0;
        for (int b = 0; b < 256; ++b) {
            char in = char(b);
            unsigned char out[4] = {0, 0, 0, 0};
            char* inPtr = &in;
            char* outPtr = reinterpret_cast<char*>(out);
            size_t inLeft = 1;
            size_t outLeft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            const bool converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1);
            const char32_t expected =
                converted ? char32_t(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24)
                          : char32_t(0xFFFD);
            undefined += converted ? 0 : 1;
            QVERIFY2(windows1251ToUnicode(static_cast<unsigned char>(b)) == expected,
                     qPrintable(QStringLiteral("byte %1: U+%2 expected, U+%3 given")
                                    .arg(b, 2, 16, QChar('0'))
                                    .arg(uint(expected), 4, 16, QChar('0'))
                                    .arg(uint(windows1251ToUnicode(static_cast<unsigned char>(b))),
                                         4, 16, QChar('0'))));
        }
        iconv_close(cd);
        // Only 0x98 is left undefined by the code page.
        QCOMPARE(undefined, 1);
    }
};

QTEST_APPLESS_MAIN(TestWindows1251)
#include "tst_windows1251.moc"
