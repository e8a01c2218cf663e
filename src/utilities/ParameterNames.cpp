#include "ParameterNames.h"

ParameterNameList::ParameterNameList(std::initializer_list<const char*> utf8Names) {
    names.reserve(static_cast<qsizetype>(utf8Names.size()));
    for (const char* name : utf8Names)
        names.append(QString::fromUtf8(name));
}

int ParameterNameList::indexOf(const QString& name) const {
    if (name.isEmpty())
        return 0;
    const QString wanted = name.toUpper();
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names.at(i).toUpper() == wanted)
            return static_cast<int>(i);
    }
    return 0;
}

QString ParameterNameList::nameOf(int code) const {
    if (code < 0 || code >= names.size())
        return QString();
    return names.at(code);
}

int ParameterNameList::count() const {
    return static_cast<int>(names.size());
}

const ParameterNameList accessModeNames{"RO", "WO", "RW", "CONST"};
const ParameterNameList unitNames{"", "%", "мм", "с", "мс", "уп/мин", "уп", "шт", "ч"};
const ParameterNameList typeNames{"NIL", "BOOLEAN", "INTEGER", "UNSIGNED", "REAL32", "REAL32FIX"};
const ParameterNameList kindNames{"VAR", "ARRAY", "STRUCT", "COMPOSITE"};
const ParameterNameList storageNames{"UNSAVED", "COMMON", "PRIVATE"};
