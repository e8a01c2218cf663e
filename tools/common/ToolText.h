#ifndef VELK_TOOLTEXT_H
#define VELK_TOOLTEXT_H

#include <string>
#include <vector>

// Text for a terminal line: control characters (a line break in a port name,
// say) are written as C escapes (\n, \t, \x1b); UTF-8 passes through.
std::string printableText(const std::string& text);
// Contents of a JSON string (without the quotes); UTF-8 passes through.
std::string jsonEscape(const std::string& text);
// A JSON string, quotes included.
std::string jsonString(const std::string& text);

// "1F", "0x1F" or "0X1f": a hexadecimal number up to max. No sign, no blanks.
bool parseHexNumber(const std::string& text, unsigned max, unsigned& out);
// Decimal digits only, up to max.
bool parseDecimalNumber(const std::string& text, unsigned max, unsigned& out);
// Hexadecimal bytes up to max each, separated by commas and/or blanks.
bool parseHexList(const std::string& text, unsigned max, std::vector<unsigned char>& out);

#endif
