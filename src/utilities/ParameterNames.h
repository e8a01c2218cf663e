#pragma once

#include <QString>
#include <QStringList>

#include <initializer_list>

// Data type codes: the positions of the names in typeNames.
enum ParameterType { NIL = 0, BOOLEAN = 1, INTEGER = 2, UNSIGNED = 3, REAL32 = 4, REAL32FIX = 5 };

// A fixed list of attribute names; the position of a name is its numeric code.
class ParameterNameList {
public:
    ParameterNameList(std::initializer_list<const char*> utf8Names);

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
