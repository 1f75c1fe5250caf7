#include "base/SharedLibrary.h"

#include <dlfcn.h>

namespace marrowbell {

SharedLibrary::SharedLibrary(const char* soname)
    : handle_(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {}

void* SharedLibrary::lookUp(const char* name) const {
    return handle_ ? ::dlsym(handle_, name) : nullptr;
}

} // namespace marrowbell
