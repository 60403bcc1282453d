// Fresh memory costs a page fault at the first write to each page; asking the
// kernel for a run of pages at once costs about half as much. A map's
// conversion fills a few large buffers from front to back, so each keeps a
// run of pages ready just ahead of its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace bsp2map {

// All the pages of a fresh buffer that will be filled whole, at once.
inline void populate(const void *base, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr std::uintptr_t kPage = 4096;
    const auto start = reinterpret_cast<std::uintptr_t>(base);
    const std::uintptr_t from = (start + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t to = (start + bytes) & ~(kPage - 1);
    // Best effort, as below.
    if (to > from)
        ::madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)base;
    (void)bytes;
#endif
}

class Prefault {
public:
    // The buffer at `base` holds `used` of `capacity` bytes and is about to grow.
    void ahead(const void *base, std::size_t used, std::size_t capacity)
    {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
        const auto start = reinterpret_cast<std::uintptr_t>(base);
        if (start != base_) {
            // A new buffer: what it holds is in memory already.
            base_ = start;
            done_ = used;
        }
        if (used + kRun / 2 < done_ || done_ >= capacity)
            return;
        const std::size_t until = done_ + kRun < capacity ? done_ + kRun : capacity;
        const std::uintptr_t from = (start + done_ + kPage - 1) & ~std::uintptr_t(kPage - 1);
        const std::uintptr_t to = (start + until) & ~std::uintptr_t(kPage - 1);
        // Best effort: an older kernel refuses, and the pages fault as usual.
        if (to > from)
            ::madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE);
        done_ = until;
#else
        (void)base;
        (void)used;
        (void)capacity;
#endif
    }

private:
    static constexpr std::size_t kPage = 4096;
    static constexpr std::size_t kRun = 256 * 1024;
    std::uintptr_t base_ = 0;
    std::size_t done_ = 0;
};

// Pages ahead of a vector that is about to grow.
template <class T> void ahead(Prefault &prefault, const std::vector<T> &v)
{
    prefault.ahead(v.data(), v.size() * sizeof(T), v.capacity() * sizeof(T));
}

// Room for n that will all be written: fresh storage has its pages made at once.
template <class T> void reserveFilled(std::vector<T> &v, std::size_t n)
{
    if (n <= v.capacity())
        return;
    v.reserve(n);
    populate(v.data(), n * sizeof(T));
}

} // namespace bsp2map
