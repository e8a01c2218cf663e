#include "AccessLevel.h"

AccessLevel::AccessLevel() : QObject(nullptr) {}

void AccessLevel::setLevel(Types t) {
    if (t == m_level) {
        return;
    }
    m_level = t;
    emit accessLevelChangedSignal(t);
}

QString AccessLevel::typeName(Types t) {
    switch (t) {
    case ENGINEER:
        return tr("инженер");
    case TECHNOLOGIST:
        return tr("технолог");
    case ADJUSTER:
        return tr("наладчик");
    case OPERATOR:
        return tr("оператор");
    }
    return QString();
}
