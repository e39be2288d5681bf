#pragma once
// Opening a data file without trusting the path: only regular files, opened
// without blocking, and only of a size the machine can hold. Readers look at
// the first bytes before they commit to reading the rest.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

// Leaves the bytes a vector grows by as they are, since a read fills them
// at once: zeroing the blocks of a file first would cost a pass over it.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <class U>
    UninitializedAllocator(const UninitializedAllocator<U>&) {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// Bytes read from a file.
using Bytes = std::vector<char, UninitializedAllocator<char>>;

// Bytes a load may take: what the memory available to the process
// (base/memory.h) leaves when the load begins (LoadMemoryScope), less a
// reserve under a container's limit (a tenth of it and the pieces being
// parsed, which no account sees) so that the process stays below the limit.
std::size_t loadMemoryLimit();
// Lets tests lower the limit; 0 restores the machine's.
void setLoadMemoryLimit(std::size_t bytes);
// What DuckDB may take for itself while it reads a JSON or Parquet file for
// a load, and what of it the load charges to its account beforehand: all of
// it under a container's limit, where the process must stay below the limit,
// and nothing otherwise, where the machine's other half is room enough.
std::size_t duckdbMemoryLimit(bool json);
std::size_t duckdbMemoryCharge(bool json);

// While one lives, loadMemoryLimit() stays what was available when it was
// made: every check of one load measures against the same memory, not
// against what the load itself has taken since. It also starts the load's
// account (below) from zero. held: bytes of a table kept beside the one being
// read (the view shown until the new table is accepted), which the machine's
// share must hold as well; under a container they are resident already and
// so counted. Scopes nest: only the outermost one does anything.
class LoadMemoryScope {
public:
    explicit LoadMemoryScope(std::size_t held = 0);
    ~LoadMemoryScope();
    LoadMemoryScope(const LoadMemoryScope&) = delete;
    LoadMemoryScope& operator=(const LoadMemoryScope&) = delete;
};

// Thrown by takeLoadMemory before an allocation that would take the load
// past loadMemoryLimit(); the load is refused with " table too large for
// memory, file not loaded".
class LoadTooLarge : public std::exception {
public:
    const char* what() const noexcept override { return "table too large for memory"; }
};

// The running account of a load: its readers take the bytes they are about
// to allocate, from any thread, and give back what they free. Bytes that go
// into the table read are never given back; the account starts again with
// the next load.
void takeLoadMemory(std::size_t bytes);
void giveLoadMemory(std::size_t bytes) noexcept;
// What the account holds now, and the most it held since the load began.
std::size_t loadMemoryTaken();
std::size_t loadMemoryPeak();

// Bytes taken from the account for as long as it lives.
class LoadCharge {
public:
    LoadCharge() = default;
    explicit LoadCharge(std::size_t bytes) { take(bytes); }
    ~LoadCharge() { giveLoadMemory(bytes_); }
    LoadCharge(LoadCharge&& other) noexcept : bytes_(other.bytes_) { other.bytes_ = 0; }
    LoadCharge& operator=(LoadCharge&& other) noexcept {
        if (this != &other) {
            giveLoadMemory(bytes_);
            bytes_ = other.bytes_;
            other.bytes_ = 0;
        }
        return *this;
    }
    LoadCharge(const LoadCharge&) = delete;
    LoadCharge& operator=(const LoadCharge&) = delete;

    void take(std::size_t bytes) {
        takeLoadMemory(bytes);
        bytes_ += bytes;
    }
    void give(std::size_t bytes) noexcept {
        bytes = bytes < bytes_ ? bytes : bytes_;
        giveLoadMemory(bytes);
        bytes_ -= bytes;
    }
    // Keeps the bytes taken for good: what they paid for stays in the table.
    void keep() noexcept { bytes_ = 0; }
    std::size_t bytes() const { return bytes_; }

private:
    std::size_t bytes_ = 0;
};

// Makes room for at least `needed` elements in v, charged to charge before
// the allocation: the old and the new block are both alive while the
// elements move, and the old one is given back afterwards.
template <class Vector>
void reserveCharged(Vector& v, std::size_t needed, LoadCharge& charge) {
    if (needed <= v.capacity()) return;
    const std::size_t element = sizeof(typename Vector::value_type);
    const std::size_t old = v.capacity();
    const std::size_t grown = needed > 2 * old ? needed : 2 * old;
    charge.take(grown * element);
    v.reserve(grown);
    charge.give(old * element);
}

class DataFile {
public:
    enum class Status {
        Opened,
        Unopenable,  // empty path, missing or unreadable: not reported
        NotRegular,  // directory, FIFO, device, socket
        TooLarge,    // larger than loadMemoryLimit()
    };

    DataFile() = default;
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    Status open(const char* path);
    std::size_t size() const { return size_; }
    // The first min(n, size()) bytes; false on a read error.
    bool readPrefix(std::size_t n, std::vector<char>& out) const;
    // The whole file; false on a read error. A file that shrank meanwhile
    // gives what is left of it.
    bool readAll(std::vector<char>& out) const;
    // Appends up to n bytes from offset to out (fewer at the end of the
    // file); false on a read error.
    bool readAt(std::uint64_t offset, std::size_t n, Bytes& out) const;
    int descriptor() const { return fd_; }

private:
    bool readFrom(std::size_t n, std::vector<char>& out) const;

    int fd_ = -1;
    std::size_t size_ = 0;
};
