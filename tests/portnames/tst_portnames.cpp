#include "PortNames.h"

#include <QtTest>

#include <sys/file.h>
#include <unistd.h>

namespace {
// A fake /dev, /sys and ports folder in a temporary folder.
class Tree {
public:
    Tree() {
        QDir root(dir.path());
        root.mkpath("dev");
        root.mkpath("sys/class/tty");
        root.mkpath("ports");
        roots.devRoot = (dir.path() + "/dev").toStdString();
        roots.sysRoot = (dir.path() + "/sys").toStdString();
        roots.portsFolder = (dir.path() + "/ports").toStdString();
    }
    QString path(const QString& relative) const { return dir.path() + "/" + relative; }
    std::string device(const QString& name) const { return path("dev/" + name).toStdString(); }
    bool touch(const QString& relative) {
        QFile file(path(relative));
        return file.open(QIODevice::WriteOnly);
    }
    bool uart(unsigned index, int type) {
        const QString folder = QString("sys/class/tty/ttyS%1").arg(index);
        QDir(dir.path()).mkpath(folder);
        QFile file(path(folder + "/type"));
        return file.open(QIODevice::WriteOnly) && file.write(QByteArray::number(type) + "\n") > 0;
    }
    bool link(const QString& name, const QString& target) {
        return QFile::link(target, path("ports/" + name));
    }

    QTemporaryDir dir;
    PortRoots roots;
};

QString show(const std::vector<PortInfo>& ports, const Tree& tree) {
    QStringList items;
    for (const PortInfo& port : ports) {
        items << QString::fromStdString(port.name) + "=" +
                     QString::fromStdString(port.device).remove(tree.dir.path() + "/");
    }
    return items.join(' ');
}
} // namespace

class TestPortNames : public QObject {
    Q_OBJECT

private slots:
    void portNumbers_data();
    void portNumbers();
    void resolveByTable_data();
    void resolveByTable();
    void portsFolderWins();
    void absolutePathsStay();
    void scanListsExistingPortsInOrder();
    void defaultFolderFollowsEnvironment_data();
    void defaultFolderFollowsEnvironment();
};

void TestPortNames::portNumbers_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<unsigned>("number");
    QTest::newRow("COM1") << "COM1" << 1u;
    QTest::newRow("COM254") << "COM254" << 254u;
    QTest::newRow("lower case") << "com12" << 12u;
    QTest::newRow("COM0") << "COM0" << 0u;
    QTest::newRow("COM255") << "COM255" << 0u;
    QTest::newRow("leading zero") << "COM07" << 0u;
    QTest::newRow("no number") << "COM" << 0u;
    QTest::newRow("sign") << "COM+5" << 0u;
    QTest::newRow("trailing text") << "COM5x" << 0u;
    QTest::newRow("overlong") << "COM9999999999" << 0u;
    QTest::newRow("device name") << "ttyS0" << 0u;
    QTest::newRow("empty") << "" << 0u;
}

void TestPortNames::portNumbers() {
    QFETCH(QString, name);
    QFETCH(unsigned, number);
    QCOMPARE(portNumber(name.toStdString()), number);
}

void TestPortNames::resolveByTable_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("device"); // empty: stands for nothing
    QTest::newRow("COM1, UART present") << "COM1"
                                        << "ttyS0";
    QTest::newRow("COM2, no UART (type 0)") << "COM2"
                                            << "";
    QTest::newRow("COM3, no sysfs entry") << "COM3"
                                          << "";
    QTest::newRow("COM32") << "COM32"
                           << "ttyS31";
    QTest::newRow("COM33") << "COM33"
                           << "ttyUSB0";
    QTest::newRow("COM96") << "COM96"
                           << "ttyUSB63";
    QTest::newRow("COM97") << "COM97"
                           << "ttyACM0";
    QTest::newRow("COM160") << "COM160"
                            << "ttyACM63";
    QTest::newRow("COM161") << "COM161"
                            << "ttyAMA0";
    QTest::newRow("COM192") << "COM192"
                            << "ttyAMA31";
    QTest::newRow("COM193") << "COM193"
                            << "ttymxc0";
    QTest::newRow("COM224") << "COM224"
                            << "ttymxc31";
    QTest::newRow("COM225, links only") << "COM225"
                                        << "";
    QTest::newRow("COM254, links only") << "COM254"
                                        << "";
    QTest::newRow("not a COM name") << "ttyUSB0"
                                    << "";
}

void TestPortNames::resolveByTable() {
    QFETCH(QString, name);
    QFETCH(QString, device);
    Tree tree;
    QVERIFY(tree.uart(0, 4));
    QVERIFY(tree.uart(1, 0));
    QVERIFY(tree.uart(31, 1));
    const std::string expected = device.isEmpty() ? std::string() : tree.device(device);
    QCOMPARE(resolvePortName(name.toStdString(), tree.roots), expected);
}

void TestPortNames::portsFolderWins() {
    Tree tree;
    QVERIFY(tree.touch("dev/ttyUSB1"));
    QVERIFY(tree.touch("dev/pts7"));
    QVERIFY(tree.link("COM34", tree.path("dev/pts7")));
    QVERIFY(tree.link("COM240", "../dev/pts7"));
    QVERIFY(tree.link("COM35", tree.path("dev/unplugged")));
    QVERIFY(tree.touch("ports/COM36"));

    const std::string pts = tree.device("pts7");
    QCOMPARE(resolvePortName("COM34", tree.roots), pts);
    QCOMPARE(resolvePortName("COM240", tree.roots), pts);
    // A dangling link still names the port: its absent device, not the table's.
    QCOMPARE(resolvePortName("COM35", tree.roots), tree.device("unplugged"));
    // A plain file there is not a link or device: the table holds.
    QCOMPARE(resolvePortName("COM36", tree.roots), tree.device("ttyUSB3"));
}

void TestPortNames::absolutePathsStay() {
    Tree tree;
    QCOMPARE(resolvePortName("/dev/pts/3", tree.roots), std::string("/dev/pts/3"));
    QCOMPARE(resolvePortName("/nowhere", tree.roots), std::string("/nowhere"));
}

void TestPortNames::scanListsExistingPortsInOrder() {
    Tree tree;
    QVERIFY(tree.uart(0, 4));
    QVERIFY(tree.uart(1, 0)); // node without a UART
    QVERIFY(tree.uart(4, 4)); // UART without a node
    QVERIFY(tree.touch("dev/ttyS0"));
    QVERIFY(tree.touch("dev/ttyS1"));
    QVERIFY(tree.touch("dev/ttyUSB0"));
    QVERIFY(tree.touch("dev/ttyUSB1"));
    QVERIFY(tree.touch("dev/ttyUSB2"));
    QVERIFY(tree.touch("dev/ttyACM3"));
    QVERIFY(tree.touch("dev/ttymxc31"));
    QVERIFY(tree.touch("dev/other"));
    QVERIFY(tree.touch("dev/ttyUSB64")); // beyond the table
    // COM34 is a link that wins over ttyUSB1; COM60 dangles, hiding nothing
    // else; COM250 exists only as a link; COM100 is a stray file.
    QVERIFY(tree.link("COM34", tree.path("dev/other")));
    QVERIFY(tree.link("COM60", tree.path("dev/gone")));
    QVERIFY(tree.link("COM250", "../dev/ttyACM3"));
    QVERIFY(tree.link("COM255", tree.path("dev/other")));
    QVERIFY(tree.touch("ports/COM100"));
    QVERIFY(tree.touch("ports/notes"));

    // Held by another program, and not readable: both are listed.
    QFile busy(tree.path("dev/ttyUSB0"));
    QVERIFY(busy.open(QIODevice::ReadWrite));
    QCOMPARE(flock(busy.handle(), LOCK_EX | LOCK_NB), 0);
    QVERIFY(QFile::setPermissions(tree.path("dev/ttyUSB2"), QFileDevice::Permissions()));

    QCOMPARE(show(scanPorts(tree.roots), tree),
             QString("COM1=dev/ttyS0 COM33=dev/ttyUSB0 COM34=dev/other COM35=dev/ttyUSB2 "
                     "COM100=dev/ttyACM3 COM224=dev/ttymxc31 COM250=dev/ttyACM3"));
}

void TestPortNames::defaultFolderFollowsEnvironment_data() {
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QString>("expected");
    QTest::newRow("XDG_CONFIG_HOME")
        << QByteArray("/x/conf") << QByteArray("/h") << "/x/conf/ORBEK/ports";
    QTest::newRow("unset") << QByteArray() << QByteArray("/h") << "/h/.config/ORBEK/ports";
    QTest::newRow("relative is ignored")
        << QByteArray("conf") << QByteArray("/h") << "/h/.config/ORBEK/ports";
}

void TestPortNames::defaultFolderFollowsEnvironment() {
    QFETCH(QByteArray, xdg);
    QFETCH(QByteArray, home);
    QFETCH(QString, expected);
    const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    if (xdg.isNull()) {
        qunsetenv("XDG_CONFIG_HOME");
    } else {
        qputenv("XDG_CONFIG_HOME", xdg);
    }
    qputenv("HOME", home);
    const std::string folder = defaultPortsFolder();
    const std::string systemFolder = PortRoots::system().portsFolder;
    qputenv("XDG_CONFIG_HOME", savedXdg);
    qputenv("HOME", savedHome);
    QCOMPARE(QString::fromStdString(folder), expected);
    QCOMPARE(QString::fromStdString(systemFolder), expected);
}

QTEST_APPLESS_MAIN(TestPortNames)
#include "tst_portnames.moc"
