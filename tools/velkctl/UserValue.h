#ifndef VELK_VELKCTL_USERVALUE_H
#define VELK_VELKCTL_USERVALUE_H

#include "ParameterValue.h"

#include <string>

// Parameter type code of a name such as "REAL32FIX" (any case), from the
// type-name list; -1 when the name is not on it.
int parameterTypeCode(const std::string& name);
std::string parameterTypeName(int type);

// Splits a user value into the four data bytes the way the dialog does.
// Unlike the dialog, which sends 0 for text that is not a number and keeps
// only the low bits of a value that does not fit, this fails with a message.
bool splitUserValue(const std::string& text, int type, unsigned char bytes[4], std::string& error);

// The typed view of four answer data bytes as the dialog shows it: decoded by
// type, 3 requested decimals for REAL32 and REAL32FIX, fixed notation.
std::string typedValueText(const unsigned char bytes[4], int type);

#endif
