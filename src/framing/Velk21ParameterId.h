#ifndef VELK_VELK21PARAMETERID_H
#define VELK_VELK21PARAMETERID_H

struct Velk21ParameterId {
    unsigned char code;  // command code
    unsigned char index; // parameter index

    Velk21ParameterId() : code(0), index(0) {}
    Velk21ParameterId(unsigned char code, unsigned char index) : code(code), index(index) {}
};

inline bool operator==(const Velk21ParameterId& a, const Velk21ParameterId& b) {
    return a.code == b.code && a.index == b.index;
}

inline bool operator!=(const Velk21ParameterId& a, const Velk21ParameterId& b) {
    return !(a == b);
}

#endif
