#ifndef VELK_VELK21ADDRESS_H
#define VELK_VELK21ADDRESS_H

// The four address levels of a slave. A level of 0 is not used; 1 to 31 are
// VELK bus addresses, 32 to 127 CAN addresses. Levels with bit 7 set do not pack.
struct Velk21Address {
    unsigned char address_1;
    unsigned char address_2;
    unsigned char address_3;
    unsigned char address_4;

    Velk21Address() : address_1(0), address_2(0), address_3(0), address_4(0) {}
    Velk21Address(unsigned char address_1, unsigned char address_2, unsigned char address_3,
                  unsigned char address_4)
        : address_1(address_1), address_2(address_2), address_3(address_3), address_4(address_4) {}
};

inline bool operator==(const Velk21Address& a, const Velk21Address& b) {
    return a.address_1 == b.address_1 && a.address_2 == b.address_2 && a.address_3 == b.address_3 &&
           a.address_4 == b.address_4;
}

inline bool operator!=(const Velk21Address& a, const Velk21Address& b) {
    return !(a == b);
}

#endif
