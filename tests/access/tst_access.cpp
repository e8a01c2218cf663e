#include "AccessLevel.h"
#include "Accessable.h"

#include <QMetaEnum>
#include <QSignalSpy>
#include <QTest>

namespace {

// Records every call of the hook.
class Recorder : public Accessable {
public:
    QList<QPair<int, int>> calls;

protected:
    void accessLevelChanged(const AccessLevel::Types& oldLevel,
                            const AccessLevel::Types& newLevel) override {
        calls.append({oldLevel, newLevel});
    }
};

} // namespace

class TestAccess : public QObject {
    Q_OBJECT

private slots:
    void levelOrder();
    void accessible_data();
    void accessible();
    void currentLevelAlwaysNotifies();
    void requiredLevelDoesNotNotify();
    void setLevelEmitsOnChange();
    void typeName_data();
    void typeName();
};

void TestAccess::levelOrder() {
    // Registered in role order, most privileged first.
    const QMetaEnum e = QMetaEnum::fromType<AccessLevel::Types>();
    QCOMPARE(e.name(), "Types");
    QCOMPARE(e.enclosingMetaObject(), &AccessLevel::staticMetaObject);
    const char* names[] = {"ENGINEER", "TECHNOLOGIST", "ADJUSTER", "OPERATOR"};
    QCOMPARE(e.keyCount(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(e.key(i), names[i]);
        QCOMPARE(e.value(i), i);
    }
}

void TestAccess::accessible_data() {
    QTest::addColumn<int>("required");
    QTest::addColumn<int>("current");
    QTest::addColumn<bool>("expected");
    QTest::newRow("defaults") << -1 << -1 << true;
    QTest::newRow("operator field, engineer user") << 3 << 0 << true;
    QTest::newRow("adjuster field, operator user") << 2 << 3 << false;
    QTest::newRow("adjuster field, adjuster user") << 2 << 2 << true;
    QTest::newRow("adjuster field, technologist user") << 2 << 1 << true;
    QTest::newRow("engineer field, engineer user") << 0 << 0 << true;
    QTest::newRow("engineer field, technologist user") << 0 << 1 << false;
    QTest::newRow("engineer field, operator user") << 0 << 3 << false;
}

void TestAccess::accessible() {
    QFETCH(int, required);
    QFETCH(int, current);
    QFETCH(bool, expected);
    Recorder r;
    if (required >= 0) {
        r.setAccessLevel(required);
        r.setCurrentLevel(AccessLevel::Types(current));
    }
    QCOMPARE(r.isAccessible(), expected);
}

void TestAccess::currentLevelAlwaysNotifies() {
    Recorder r;
    r.setCurrentLevel(AccessLevel::OPERATOR);
    r.setCurrentLevel(AccessLevel::ADJUSTER);
    r.setCurrentLevel(AccessLevel::ADJUSTER);
    const QList<QPair<int, int>> expected = {{3, 3}, {3, 2}, {2, 2}};
    QCOMPARE(r.calls, expected);
    QCOMPARE(r.currentAccessLevel(), AccessLevel::ADJUSTER);
}

void TestAccess::requiredLevelDoesNotNotify() {
    Recorder r;
    r.setAccessLevel(AccessLevel::ENGINEER);
    QCOMPARE(r.accessLevel(), AccessLevel::ENGINEER);
    QVERIFY(r.calls.isEmpty());
    QVERIFY(!r.isAccessible());
}

void TestAccess::setLevelEmitsOnChange() {
    AccessLevel level;
    QCOMPARE(level.level(), AccessLevel::OPERATOR);
    QVERIFY(!level.parent());
    QSignalSpy spy(&level, &AccessLevel::accessLevelChangedSignal);
    level.setLevel(AccessLevel::OPERATOR);
    QCOMPARE(spy.count(), 0);
    level.setLevel(AccessLevel::TECHNOLOGIST);
    level.setLevel(AccessLevel::TECHNOLOGIST);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<AccessLevel::Types>(), AccessLevel::TECHNOLOGIST);
    QCOMPARE(level.level(), AccessLevel::TECHNOLOGIST);
}

void TestAccess::typeName_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    QTest::newRow("engineer") << 0 << QStringLiteral("инженер");
    QTest::newRow("technologist") << 1 << QStringLiteral("технолог");
    QTest::newRow("adjuster") << 2 << QStringLiteral("наладчик");
    QTest::newRow("operator") << 3 << QStringLiteral("оператор");
    QTest::newRow("past the last") << 4 << QString();
    QTest::newRow("negative") << -1 << QString();
}

void TestAccess::typeName() {
    QFETCH(int, type);
    QFETCH(QString, name);
    QCOMPARE(AccessLevel::typeName(AccessLevel::Types(type)), name);
}

QTEST_GUILESS_MAIN(TestAccess)
#include "tst_access.moc"
