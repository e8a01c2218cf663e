#include "HexBytes.h"

void appendHexByte(std::string& text, unsigned char byte) {
    static const char digits[] = "0123456789ABCDEF";
    if (byte >= 0x10) {
        text += digits[byte >> 4];
    }
    text += digits[byte & 0x0F];
}

void appendHexBytes(std::string& text, const unsigned char* bytes, std::size_t count,
                    char separator) {
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) {
            text += separator;
        }
        appendHexByte(text, bytes[i]);
    }
}

std::string hexByte(unsigned char byte) {
    std::string text;
    appendHexByte(text, byte);
    return text;
}

std::string hexBytes(const unsigned char* bytes, std::size_t count, char separator) {
    std::string text;
    text.reserve(count * 3);
    appendHexBytes(text, bytes, count, separator);
    return text;
}
