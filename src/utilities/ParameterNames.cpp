#include "ParameterNames.h"

ParameterNameList::ParameterNameList(const NameTexts& utf8Names) {
    names.reserve(utf8Names.count);
    for (int i = 0; i < utf8Names.count; ++i)
        names.append(QString::fromUtf8(utf8Names.names[i]));
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

const ParameterNameList accessModeNames{accessModeNameTexts};
const ParameterNameList unitNames{unitNameTexts};
const ParameterNameList typeNames{typeNameTexts};
const ParameterNameList kindNames{kindNameTexts};
const ParameterNameList storageNames{storageNameTexts};
