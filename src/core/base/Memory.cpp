#include "base/Memory.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace marrowbell::memory {

void releaseFreed() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

} // namespace marrowbell::memory
