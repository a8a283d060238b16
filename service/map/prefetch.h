#pragma once
// A hint to start loading memory that is about to be read. On a country-size
// map each road or state read on a route is a cache miss of its own; asking
// for the ones a few steps ahead lets those misses overlap.

namespace tw::service {

inline void prefetch(const void* address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

} // namespace tw::service
