#ifndef VELK_HEXBYTES_H
#define VELK_HEXBYTES_H

#include "DataBlock.h"

#include <cstddef>
#include <string>
#include <vector>

// Bytes as the whole system shows them: upper-case hexadecimal without prefix
// and without leading zeros (0, 7, 7F), one separator between two bytes. By
// hand rather than through a stream or printf: the monitor formats millions.
void appendHexByte(std::string& text, unsigned char byte);
void appendHexBytes(std::string& text, const unsigned char* bytes, std::size_t count,
                    char separator = ' ');

std::string hexByte(unsigned char byte);
std::string hexBytes(const unsigned char* bytes, std::size_t count, char separator = ' ');

inline std::string hexBytes(const DataBlock<unsigned char>& block, char separator = ' ') {
    return hexBytes(block.data(), block.size(), separator);
}

inline std::string hexBytes(const std::vector<unsigned char>& bytes, char separator = ' ') {
    return hexBytes(bytes.data(), bytes.size(), separator);
}

#endif
