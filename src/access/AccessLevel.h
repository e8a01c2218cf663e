#pragma once

#include <QObject>
#include <QString>

// One observable user role. A smaller number is a more privileged role.
class AccessLevel : public QObject {
    Q_OBJECT

public:
    enum Types : int { ENGINEER = 0, TECHNOLOGIST = 1, ADJUSTER = 2, OPERATOR = 3 };
    Q_ENUM(Types)

    AccessLevel();

    Types level() const { return m_level; }
    void setLevel(Types t);

    // Translated role name; empty for a value that is no role.
    static QString typeName(Types t);

signals:
    void accessLevelChangedSignal(AccessLevel::Types level);

private:
    Types m_level = OPERATOR;
};
