#include "Sleep.h"

#include <windows.h>

void sleepMs(unsigned ms) {
    Sleep(ms);
}
