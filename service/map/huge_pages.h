#pragma once
// Huge pages for the large arrays a start fills: a map of a million junctions
// fills hundreds of megabytes, and on 4 KB pages the page faults alone cost
// about a second (more under virtualisation). The kernel gives 2 MB pages to
// a range marked for them; elsewhere (or where it will not) this is a no-op.

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tw::service {

// Marks the whole 2 MB pages inside `list`'s capacity. Call before filling it.
template <typename T>
void adviseHugePages(const std::vector<T>& list)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(list.data());
    const std::uintptr_t first = (begin + kHuge - 1) / kHuge * kHuge;
    const std::uintptr_t last = (begin + list.capacity() * sizeof(T)) / kHuge * kHuge;
    if (list.data() != nullptr && last > first) {
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#else
    (void)list;
#endif
}

// reserve(count), marked for huge pages.
template <typename T>
void reserveOnHugePages(std::vector<T>& list, std::size_t count)
{
    list.reserve(count);
    adviseHugePages(list);
}

// assign(count, value), on huge pages.
template <typename T>
void assignOnHugePages(std::vector<T>& list, std::size_t count, const T& value = T())
{
    if (list.capacity() < count) {
        std::vector<T>().swap(list);
        reserveOnHugePages(list, count);
    }
    list.assign(count, value);
}

// Lets go of this process's pages wholly inside [data, data + bytes) of a
// read-only file mapping: they stay in the page cache, and reading them again
// maps them back. Pages shared with what lies around the range are kept.
inline void dropMappedPages(const void* data, std::size_t bytes)
{
#if defined(__linux__)
    constexpr std::uintptr_t kPage = 4096;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kPage - 1) / kPage * kPage;
    const std::uintptr_t last = (begin + bytes) / kPage * kPage;
    if (data != nullptr && last > first) {
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    }
#else
    (void)data;
    (void)bytes;
#endif
}

} // namespace tw::service
