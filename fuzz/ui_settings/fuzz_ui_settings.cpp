// The dialog's settings load with arbitrary stored values for every key,
// "exBlockStr" and the port included. Whatever is stored, the dialog must come
// up, show only what it can use, and its own saved settings must be a fixed
// point: loading what it saved and saving again gives the same settings.
//
// Input: for each key in turn a kind byte (absent, bool, int, text, text of
// hexadecimal-looking characters, list, double, raw bytes) and its payload.
//
// The dialog scans a fake port tree whose only port, COM7, is a
// pseudo-terminal of this process, so no real device is ever listed or opened.

#include "FuzzInput.h"
#include "PortNames.h"
#include "VelkTestUi.h"

#include <QApplication>
#include <QByteArray>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QVariant>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char* const keys[] = {
    "subLBit",
    "timeBit",
    "subLAddressFrame",
    "address_1",
    "address_2",
    "address_3",
    "address_4",
    "dataBlockSubLBit",
    "efBit",
    "wtsBit",
    "ao",
    "ntxt",
    "code",
    "index",
    "status",
    "data_0_isEnabled",
    "data_0",
    "data_1_isEnabled",
    "data_1",
    "data_2",
    "data_3",
    "userDataFrame",
    "dataType",
    "userData",
    "dataRxType",
    "exDataRxTypeBitSize",
    "exDataRxType",
    "exDataRxOffset",
    "exBlockGroupBox",
    "exBlockStr",
    "cyclicSendTimeout",
    "portName",
    "baudRate",
};

struct World {
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<QApplication> app;
    PortRoots roots;
    int ptyMaster = -1;
};

World* world = nullptr;

QString text(FuzzInput& in, const char* alphabet) {
    const unsigned length = in.byte();
    const std::vector<std::uint8_t> raw = in.bytes(length);
    if (alphabet == nullptr) {
        return QString::fromUtf8(reinterpret_cast<const char*>(raw.data()),
                                 static_cast<int>(raw.size()));
    }
    const std::size_t n = std::strlen(alphabet);
    QString out;
    for (std::uint8_t b : raw) {
        out += QLatin1Char(alphabet[b % n]);
    }
    return out;
}

// Writes one stored value for key, or none.
void store(QSettings& settings, const char* key, FuzzInput& in) {
    switch (in.byte() % 8) {
    case 0:
        break; // absent: the default applies
    case 1:
        settings.setValue(key, in.flag());
        break;
    case 2:
        settings.setValue(key, static_cast<int>(in.dword()));
        break;
    case 3:
        settings.setValue(key, text(in, nullptr));
        break;
    case 4:
        settings.setValue(key, text(in, "0123456789abcdefABCDEF;;.-+x COM"));
        break;
    case 5: {
        QStringList list;
        for (unsigned n = in.byte() % 4; n > 0; --n) {
            list << text(in, nullptr);
        }
        settings.setValue(key, list);
        break;
    }
    case 6: {
        const std::uint32_t high = in.dword();
        const std::uint64_t bits = (std::uint64_t(high) << 32) | in.dword();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        settings.setValue(key, d);
        break;
    }
    default: {
        const std::vector<std::uint8_t> raw = in.bytes(in.byte());
        settings.setValue(key, QByteArray(reinterpret_cast<const char*>(raw.data()),
                                          static_cast<int>(raw.size())));
        break;
    }
    }
}

std::map<QString, QString> savedSettings() {
    QSettings settings("ORBEK", "VelkTest");
    std::map<QString, QString> values;
    for (const QString& key : settings.allKeys()) {
        values[key] = settings.value(key).toString();
    }
    return values;
}

void checkDialog(VelkTestUi& dialog) {
    // Every extended byte kept is a hexadecimal number; the rest were dropped.
    auto* list = dialog.findChild<QTableWidget*>("exBlockList");
    FUZZ_CHECK(list != nullptr);
    for (int row = 0; row < list->rowCount(); ++row) {
        const QTableWidgetItem* item = list->item(row, 0);
        FUZZ_CHECK(item != nullptr);
        bool ok = false;
        item->text().toUInt(&ok, 16);
        FUZZ_CHECK(ok);
    }
    for (const QComboBox* combo : dialog.findChildren<QComboBox*>()) {
        FUZZ_CHECK(combo->currentIndex() >= -1 && combo->currentIndex() < combo->count());
    }
    // Only the fake tree's port can be listed.
    auto* ports = dialog.findChild<QComboBox*>("portName");
    FUZZ_CHECK(ports != nullptr && ports->count() == 1 && ports->currentText() == "COM7");
}

// Loads the stored settings into a dialog, checks it, closes it (which saves).
void loadAndClose() {
    VelkTestUi dialog(nullptr, nullptr, world->roots);
    checkDialog(dialog);
    dialog.close();
}

void removeWorld() {
    if (world != nullptr) {
        ::close(world->ptyMaster);
        world->app.reset();
        world->home.reset();
        delete world;
        world = nullptr;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    world = new World;
    // Saving settings syncs them to disk, three times per input: on a RAM
    // disk that costs nothing.
    const QString base = QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath();
    world->home = std::make_unique<QTemporaryDir>(base + "/velk-fuzz-ui-XXXXXX");
    const QString home = world->home->path();
    // Before the first QSettings: the settings and the ports folder live here.
    setenv("XDG_CONFIG_HOME", home.toLocal8Bit().constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");

    QDir().mkpath(home + "/dev");
    QDir().mkpath(home + "/sys");
    QDir().mkpath(home + "/ORBEK/ports");
    world->roots.devRoot = (home + "/dev").toStdString();
    world->roots.sysRoot = (home + "/sys").toStdString();
    world->roots.portsFolder = (home + "/ORBEK/ports").toStdString();

    int slave = -1;
    char name[256] = {};
    if (openpty(&world->ptyMaster, &slave, name, nullptr, nullptr) != 0) {
        std::abort();
    }
    ::close(slave);
    QFile::link(QString::fromLocal8Bit(name), home + "/ORBEK/ports/COM7");

    world->app = std::make_unique<QApplication>(*argc, *argv);
    std::atexit(removeWorld);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    {
        QSettings settings("ORBEK", "VelkTest");
        settings.clear();
        for (const char* key : keys) {
            store(settings, key, in);
        }
        settings.sync();
    }
    loadAndClose();
    const std::map<QString, QString> first = savedSettings();
    FUZZ_CHECK(first.size() == sizeof keys / sizeof keys[0]);
    loadAndClose();
    FUZZ_CHECK(savedSettings() == first);
    return 0;
}
