#include "ProcessorShare.h"

#include <windows.h>

void ProcessorShare::join() {
    int chosen = processor.load();
    if (chosen < 0) {
        const int current = static_cast<int>(GetCurrentProcessorNumber());
        // Two threads may join at once: the first to store decides.
        chosen = processor.compare_exchange_strong(chosen, current) ? current : chosen;
    }
    if (chosen >= static_cast<int>(sizeof(DWORD_PTR) * 8)) {
        return;
    }
    SetThreadAffinityMask(GetCurrentThread(), DWORD_PTR(1) << chosen);
}
