#pragma once
// An allocator for arrays of millions of elements: blocks from 4 MB on are
// aligned to 2 MB and offered to the kernel for huge pages, so filling one
// takes a fault per 2 MB instead of one per 4 KB (a brush's values over ten
// million records: 40 faults instead of 20,000). Smaller blocks come from
// the heap as usual.

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>

template <class T>
struct LargeArrayAllocator {
    using value_type = T;

    LargeArrayAllocator() = default;
    template <class U>
    LargeArrayAllocator(const LargeArrayAllocator<U>&) {}

    static constexpr std::size_t hugePage = std::size_t(2) << 20;
    static constexpr std::size_t large = std::size_t(4) << 20;

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < large) {
            if (void* p = std::malloc(bytes > 0 ? bytes : 1)) return static_cast<T*>(p);
            throw std::bad_alloc();
        }
        const std::size_t rounded = (bytes + hugePage - 1) / hugePage * hugePage;
        void* p = std::aligned_alloc(hugePage, rounded);
        if (p == nullptr) throw std::bad_alloc();
        ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without huge pages it works as before
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }

    template <class U>
    bool operator==(const LargeArrayAllocator<U>&) const { return true; }
    template <class U>
    bool operator!=(const LargeArrayAllocator<U>&) const { return false; }
};
