#pragma once
// An allocator for arrays of millions of elements: blocks from 4 MB on are
// aligned to 2 MB and offered to the kernel for huge pages, so filling one
// takes a fault per 2 MB instead of one per 4 KB (a brush's values over ten
// million records: 40 faults instead of 20,000). The last large block freed
// is kept for the next of its size: a brush drawn after F reuses the memory
// of the brushes it removed instead of faulting in fresh pages. Smaller
// blocks come from the heap as usual.

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <new>

namespace large_array_detail {

constexpr std::size_t hugePage = std::size_t(2) << 20;
constexpr std::size_t large = std::size_t(4) << 20;

struct KeptBlock {
    std::mutex lock;
    void* block = nullptr;
    std::size_t bytes = 0;
};

inline KeptBlock& kept() {
    static KeptBlock k;
    return k;
}

inline void* allocateLarge(std::size_t rounded) {
    {
        KeptBlock& k = kept();
        std::lock_guard<std::mutex> guard(k.lock);
        if (k.block != nullptr && k.bytes == rounded) {
            void* p = k.block;
            k.block = nullptr;
            return p;
        }
    }
    void* p = std::aligned_alloc(hugePage, rounded);
    if (p == nullptr) throw std::bad_alloc();
    ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without huge pages it works as before
    return p;
}

inline void freeLarge(void* p, std::size_t rounded) {
    KeptBlock& k = kept();
    std::lock_guard<std::mutex> guard(k.lock);
    std::free(k.block);
    k.block = p;
    k.bytes = rounded;
}

}  // namespace large_array_detail

template <class T>
struct LargeArrayAllocator {
    using value_type = T;

    LargeArrayAllocator() = default;
    template <class U>
    LargeArrayAllocator(const LargeArrayAllocator<U>&) {}

    T* allocate(std::size_t n) {
        using namespace large_array_detail;
        if (n > static_cast<std::size_t>(-1) / sizeof(T) - hugePage) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < large) {
            if (void* p = std::malloc(bytes > 0 ? bytes : 1)) return static_cast<T*>(p);
            throw std::bad_alloc();
        }
        return static_cast<T*>(allocateLarge(rounded(bytes)));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < large_array_detail::large)
            std::free(p);
        else
            large_array_detail::freeLarge(p, rounded(bytes));
    }

    template <class U>
    bool operator==(const LargeArrayAllocator<U>&) const { return true; }
    template <class U>
    bool operator!=(const LargeArrayAllocator<U>&) const { return false; }

private:
    static std::size_t rounded(std::size_t bytes) {
        using large_array_detail::hugePage;
        return (bytes + hugePage - 1) / hugePage * hugePage;
    }
};
