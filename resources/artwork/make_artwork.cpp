// Draws every image of the program's resources and writes them as PNG files.
// Usage: make-artwork <resources folder>
#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QSvgGenerator>
#include <QTextStream>
#include <functional>
#include <vector>

namespace {

using Painter = std::function<void(QPainter&, int)>;

QImage drawImage(int size, const Painter& draw) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    draw(p, size);
    return image;
}

bool writeImage(const QString& path, int size, const Painter& draw) {
    return drawImage(size, draw).save(path, "PNG");
}

// A Windows icon file holding the drawing at each size as a PNG entry (the
// form Windows reads since Vista); Qt's own writer stores a single image.
bool writeIco(const QString& path, const std::vector<int>& sizes, const Painter& draw) {
    std::vector<QByteArray> pngs;
    for (const int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !drawImage(size, draw).save(&buffer, "PNG")) {
            return false;
        }
        pngs.push_back(png);
    }
    QByteArray ico;
    QDataStream out(&ico, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(sizes.size()); // reserved, icon, count
    quint32 offset = quint32(6 + 16 * sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const quint8 side = sizes[i] >= 256 ? 0 : quint8(sizes[i]); // 0 stands for 256
        out << side << side << quint8(0) << quint8(0) // width, height, no palette, reserved
            << quint16(1) << quint16(32)              // planes, bits per pixel
            << quint32(pngs[i].size()) << offset;
        offset += quint32(pngs[i].size());
    }
    for (const QByteArray& png : pngs) {
        out.writeRawData(png.constData(), int(png.size()));
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(ico) == ico.size();
}

// A return arrow: down from the top right, then left to an arrow head.
void drawEnter(QPainter& p, int s) {
    const qreal u = s / 48.0;
    QPen pen(QColor(20, 20, 20), 5 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPainterPath stem;
    stem.moveTo(38 * u, 8 * u);
    stem.lineTo(38 * u, 30 * u);
    stem.lineTo(16 * u, 30 * u);
    p.drawPath(stem);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 20));
    QPolygonF head;
    head << QPointF(5 * u, 30 * u) << QPointF(19 * u, 20 * u) << QPointF(19 * u, 40 * u);
    p.drawPolygon(head);
}

// A bold black arrow pointing left (mirrored for the right arrow).
void drawArrow(QPainter& p, int s, bool right) {
    const qreal u = s / 32.0;
    if (right) {
        p.translate(s, 0);
        p.scale(-1, 1);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    QPolygonF arrow;
    arrow << QPointF(3 * u, 16 * u) << QPointF(16 * u, 4 * u) << QPointF(16 * u, 11 * u)
          << QPointF(29 * u, 11 * u) << QPointF(29 * u, 21 * u) << QPointF(16 * u, 21 * u)
          << QPointF(16 * u, 28 * u);
    p.drawPolygon(arrow);
}

// Window icon: a blue disc with a white pulse trace, the bus at work.
void drawIcon(QPainter& p, int s) {
    const qreal u = s / 48.0;
    QRadialGradient g(QPointF(18 * u, 16 * u), 30 * u);
    g.setColorAt(0, QColor(90, 150, 230));
    g.setColorAt(1, QColor(20, 60, 140));
    p.setPen(QPen(QColor(10, 35, 90), 1.5 * u));
    p.setBrush(g);
    p.drawEllipse(QRectF(2 * u, 2 * u, 44 * u, 44 * u));
    QPen trace(Qt::white, 3.5 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(trace);
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(8 * u, 30 * u);
    path.lineTo(14 * u, 30 * u);
    path.lineTo(14 * u, 17 * u);
    path.lineTo(22 * u, 17 * u);
    path.lineTo(22 * u, 30 * u);
    path.lineTo(28 * u, 30 * u);
    path.lineTo(28 * u, 17 * u);
    path.lineTo(34 * u, 17 * u);
    path.lineTo(34 * u, 30 * u);
    path.lineTo(40 * u, 30 * u);
    p.drawPath(path);
}

// An indicator lamp: a shaded disc with a soft highlight.
void drawLamp(QPainter& p, int s, const QColor& light, const QColor& dark) {
    const qreal u = s / 200.0;
    p.setPen(QPen(dark.darker(150), 6 * u));
    QRadialGradient g(QPointF(80 * u, 70 * u), 120 * u);
    g.setColorAt(0, light);
    g.setColorAt(1, dark);
    p.setBrush(g);
    p.drawEllipse(QRectF(6 * u, 6 * u, 188 * u, 188 * u));
    QRadialGradient shine(QPointF(75 * u, 60 * u), 50 * u);
    shine.setColorAt(0, QColor(255, 255, 255, 190));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawEllipse(QRectF(25 * u, 15 * u, 100 * u, 90 * u));
}

// "Clear list": three list lines and a red cross badge.
void drawClear(QPainter& p, int s) {
    const qreal u = s / 128.0;
    p.setPen(QPen(QColor(90, 90, 90), 4 * u));
    p.setBrush(QColor(250, 250, 250));
    p.drawRoundedRect(QRectF(8 * u, 8 * u, 84 * u, 104 * u), 8 * u, 8 * u);
    p.setPen(QPen(QColor(70, 110, 170), 9 * u, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 4; ++i) {
        const qreal y = (30 + 22 * i) * u;
        p.drawLine(QPointF(24 * u, y), QPointF(76 * u, y));
    }
    p.setPen(QPen(QColor(120, 0, 0), 3 * u));
    p.setBrush(QColor(215, 30, 30));
    p.drawEllipse(QRectF(62 * u, 62 * u, 62 * u, 62 * u));
    p.setPen(QPen(Qt::white, 10 * u, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(80 * u, 80 * u), QPointF(106 * u, 106 * u));
    p.drawLine(QPointF(106 * u, 80 * u), QPointF(80 * u, 106 * u));
}

// Close: a red rounded square with a white cross.
void drawClose(QPainter& p, int s) {
    const qreal u = s / 32.0;
    p.setPen(QPen(QColor(120, 0, 0), 1.5 * u));
    p.setBrush(QColor(210, 35, 35));
    p.drawRoundedRect(QRectF(2 * u, 2 * u, 28 * u, 28 * u), 5 * u, 5 * u);
    p.setPen(QPen(Qt::white, 4 * u, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10 * u, 10 * u), QPointF(22 * u, 22 * u));
    p.drawLine(QPointF(22 * u, 10 * u), QPointF(10 * u, 22 * u));
}

// The same drawing as a scalable image, for the desktop's icon theme.
bool writeSvg(const QString& path, int size, const Painter& draw) {
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(size, size));
    svg.setViewBox(QRect(0, 0, size, size));
    svg.setTitle(QStringLiteral("VelkTest"));
    QPainter p;
    if (!p.begin(&svg)) {
        return false;
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    draw(p, size);
    return p.end();
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: make-artwork <resources folder>\n";
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    struct Item {
        const char* path;
        int size;
        Painter draw;
    };
    const Item items[] = {
        {"misc/enter_button.png", 48, drawEnter},
        {"misc/orbek.png", 48, drawIcon},
        {"arrows/black_left.png", 32, [](QPainter& p, int s) { drawArrow(p, s, false); }},
        {"arrows/black_right.png", 32, [](QPainter& p, int s) { drawArrow(p, s, true); }},
        {"circle/red_circle_2.png", 200,
         [](QPainter& p, int s) { drawLamp(p, s, QColor(255, 110, 100), QColor(170, 10, 10)); }},
        {"circle/green_circle_2.png", 200,
         [](QPainter& p, int s) { drawLamp(p, s, QColor(130, 240, 120), QColor(20, 130, 20)); }},
        {"clear/clear_1.png", 128, drawClear},
        {"close/close_3.png", 32, drawClose},
        // The program's icon in the desktop menu: the window icon, larger.
        {"icons/velktest-48.png", 48, drawIcon},
        {"icons/velktest-128.png", 128, drawIcon},
    };
    for (const Item& item : items) {
        const QString path = root.filePath(QString::fromLatin1(item.path));
        if (!QDir().mkpath(QFileInfo(path).absolutePath()) ||
            !writeImage(path, item.size, item.draw)) {
            err << "make-artwork: cannot write " << path << "\n";
            return 1;
        }
    }
    // The program file's icon on Windows (a resource of VelkTest.exe).
    const QString ico = root.filePath(QStringLiteral("icons/velktest.ico"));
    if (!writeIco(ico, {16, 24, 32, 48, 64, 256}, drawIcon)) {
        err << "make-artwork: cannot write " << ico << "\n";
        return 1;
    }
    const QString svg = root.filePath(QStringLiteral("icons/velktest.svg"));
    if (!writeSvg(svg, 48, drawIcon)) {
        err << "make-artwork: cannot write " << svg << "\n";
        return 1;
    }
    return 0;
}
