#include "SerialLineSetup.h"

bool baudRateHolds(unsigned asked, unsigned set) {
    const unsigned long long difference = asked > set ? asked - set : set - asked;
    return difference * 100 <= static_cast<unsigned long long>(asked) * 3;
}
