#pragma once

namespace marrowbell::memory {

// Gives the pages of freed heap memory back to the system. The C library keeps them
// for reuse otherwise, so a long-lived process that peaked while it loaded or planned
// would stay at its peak while it sleeps. Costs little for a small heap; does nothing
// where the C library offers no way.
void releaseFreed();

} // namespace marrowbell::memory
