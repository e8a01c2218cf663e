#include "ProcessorShare.h"

#include <sched.h>

void ProcessorShare::join() {
    int chosen = processor.load();
    if (chosen < 0) {
        const int current = sched_getcpu();
        if (current < 0) {
            return;
        }
        // Two threads may join at once: the first to store decides.
        chosen = processor.compare_exchange_strong(chosen, current) ? current : chosen;
    }
    if (chosen >= CPU_SETSIZE) {
        return;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(chosen, &set);
    sched_setaffinity(0, sizeof set, &set);
}
