#ifndef VELK_PROCESSORSHARE_H
#define VELK_PROCESSORSHARE_H

#include <atomic>

// Keeps threads that never run at the same time on one processor: the
// first thread that joins stays on the processor it runs on, the others
// follow it there. A hand-over between them is then a switch on that
// processor, not a wake-up sent to another one, which costs far more.
// Where the system refuses, threads run where they did; nothing else changes.
class ProcessorShare {
public:
    // Binds the calling thread; once per thread.
    void join();
    // Forgets the processor, for a new set of threads.
    void clear() { processor = -1; }

private:
    std::atomic<int> processor{-1};
};

#endif
