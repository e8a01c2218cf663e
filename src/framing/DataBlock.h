#ifndef VELK_DATABLOCK_H
#define VELK_DATABLOCK_H

#include <algorithm>

// Byte container of every packet. Owns its storage alone, grows exactly to
// the size asked for, and never fails on index access: an index outside the
// block reads as 0 and a write to it is dropped (the packagers rely on this).
template <typename T> class DataBlock {
public:
    DataBlock() : scratch(), buffer(nullptr), capacity(0), length(0) {}

    // Deep copy of exactly the bytes in use: no storage at all for an empty source.
    DataBlock(const DataBlock& other) : scratch(), buffer(nullptr), capacity(0), length(0) {
        if (other.length != 0) {
            buffer = new T[other.length];
            copyElements(buffer, other.buffer, other.length);
            capacity = other.length;
            length = other.length;
        }
    }

    DataBlock& operator=(const DataBlock& other) {
        if (this == &other) {
            return *this;
        }
        // The copy is made before the old storage goes, so a failed allocation
        // leaves this block as it was.
        T* copy = nullptr;
        if (other.length != 0) {
            copy = new T[other.length];
            copyElements(copy, other.buffer, other.length);
        }
        release();
        buffer = copy;
        capacity = other.length;
        length = other.length;
        scratch = T();
        return *this;
    }

    ~DataBlock() { release(); }

    unsigned size() const { return length; }

    // Bytes allocated; the block can grow to this size without reallocating.
    unsigned allocated() const { return capacity; }

    // The bytes in use, or nullptr while there is no storage.
    T* data() { return buffer; }
    const T* data() const { return buffer; }

    T& operator[](unsigned i) {
        if (i >= length) {
            scratch = T();
            return scratch;
        }
        return buffer[i];
    }

    // A const block hands out a shared zero instead of its scratch element, so
    // that concurrent readers of one block never write to it.
    const T& operator[](unsigned i) const {
        static const T zero = T();
        if (i >= length) {
            return zero;
        }
        return buffer[i];
    }

    // Grows to exactly n elements (no doubling); never shrinks.
    void reserve(unsigned n) {
        if (n <= capacity) {
            return;
        }
        T* grown = new T[n];
        copyElements(grown, buffer, length);
        delete[] buffer;
        buffer = grown;
        capacity = n;
    }

    // Shrinking only lowers the length; capacity and the bytes beyond stay.
    void resize(unsigned n, const T& fill) {
        const T value = fill; // fill may refer into the storage that reserve frees
        reserve(n);
        for (unsigned i = length; i < n; ++i) {
            buffer[i] = value;
        }
        length = n;
    }

    void append(const T& b) { resize(length + 1, b); }

    // Keeps the storage, so that a block can be refilled without reallocating.
    void clear() { length = 0; }

    void release() {
        delete[] buffer;
        buffer = nullptr;
        capacity = 0;
        length = 0;
    }

private:
    static void copyElements(T* to, const T* from, unsigned n) {
        if (n != 0) {
            std::copy(from, from + n, to);
        }
    }

    T scratch;
    T* buffer;
    unsigned capacity;
    unsigned length;
};

template <typename T> bool operator==(const DataBlock<T>& a, const DataBlock<T>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (unsigned i = 0; i < a.size(); ++i) {
        if (!(a[i] == b[i])) {
            return false;
        }
    }
    return true;
}

template <typename T> bool operator!=(const DataBlock<T>& a, const DataBlock<T>& b) {
    return !(a == b);
}

#endif
