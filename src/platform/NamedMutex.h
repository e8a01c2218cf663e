#ifndef VELK_NAMEDMUTEX_H
#define VELK_NAMEDMUTEX_H

#include <mutex>
#include <string>

// Re-entrant mutex: the thread that holds it may take it again without
// blocking, and gives it back once per take. The name only identifies the
// object; it is registered nowhere. Usable with std::lock_guard.
class NamedMutex {
public:
    explicit NamedMutex(const std::string& name);
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    void lock();
    void unlock();
    bool try_lock();
    const std::string& name() const { return label; }

private:
    std::string label;
    std::recursive_mutex mutex;
};

#endif
