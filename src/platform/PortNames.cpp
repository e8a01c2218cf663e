#include "PortNames.h"

#include <cctype>

std::string comPortName(unsigned n) {
    return "COM" + std::to_string(n);
}

unsigned portNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 6) {
        return 0;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) {
            return 0;
        }
    }
    if (name[3] == '0') {
        return 0;
    }
    unsigned n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return 0;
        }
        n = n * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return n <= lastComPort ? n : 0;
}
