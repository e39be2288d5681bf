#pragma once
// Opening a data file without trusting the path: only regular files, opened
// without blocking, and only of a size the machine can hold. Readers look at
// the first bytes before they commit to reading the rest.

#include <cstddef>
#include <cstdint>
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

// Bytes a load may take: the memory available to the process
// (base/memory.h), taken once as the load begins (LoadMemoryScope).
std::size_t loadMemoryLimit();
// Lets tests lower the limit; 0 restores the machine's.
void setLoadMemoryLimit(std::size_t bytes);

// While one lives, loadMemoryLimit() stays what was available when it was
// made: every check of one load measures against the same memory, not
// against what the load itself has taken since.
class LoadMemoryScope {
public:
    LoadMemoryScope();
    ~LoadMemoryScope();
    LoadMemoryScope(const LoadMemoryScope&) = delete;
    LoadMemoryScope& operator=(const LoadMemoryScope&) = delete;
};

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
