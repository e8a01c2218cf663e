#ifndef VELK_NAMEDMUTEX_H
#define VELK_NAMEDMUTEX_H

#include <memory>
#include <string>

// Re-entrant mutex: the thread that holds it may take it again without
// blocking, and gives it back once per take. The name only identifies the
// object; it is registered nowhere. Usable with std::lock_guard.
// POSIX: std::recursive_mutex. Windows: an unnamed mutex object.
class NamedMutex {
public:
    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    void lock();
    void unlock();
    bool try_lock();
    const std::string& name() const { return label; }

private:
    struct Native;
    std::string label;
    std::unique_ptr<Native> native;
};

#endif
