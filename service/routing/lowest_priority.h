#pragma once
// Work that runs on what the cores have to spare: the answer to a request
// preempts it at once.

#if defined(__unix__)
#include <sys/resource.h>
#endif

namespace tw::service {

// Gives the calling thread the lowest scheduling priority. On Linux a
// thread's priority is its own, and threads it starts from then on inherit
// it; without privileges it cannot be raised again.
inline void runAtLowestPriority()
{
#if defined(__unix__)
    // On Linux `who` 0 names the calling thread, not the whole process.
    ::setpriority(PRIO_PROCESS, 0, 19);
#endif
}

} // namespace tw::service
