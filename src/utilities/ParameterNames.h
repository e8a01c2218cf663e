#pragma once

#include <QString>
#include <QStringList>

#include "ParameterTypes.h"

// A fixed list of attribute names; the position of a name is its numeric code.
class ParameterNameList {
public:
    explicit ParameterNameList(const NameTexts& utf8Names);

    // Code of the first entry equal to name ignoring letter case; 0 for an empty or
    // unknown name (the same code as the first entry).
    int indexOf(const QString& name) const;
    // Entry at code, or an empty string when code is out of range.
    QString nameOf(int code) const;
    int count() const;

private:
    QStringList names;
};

extern const ParameterNameList accessModeNames;
extern const ParameterNameList unitNames;
extern const ParameterNameList typeNames;
extern const ParameterNameList kindNames;
extern const ParameterNameList storageNames;
