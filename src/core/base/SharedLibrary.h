#pragma once

#include <string>

namespace marrowbell {

// A system library opened at run time (dlopen), for the libraries only some requests
// need: a process that never makes such a request never maps them. Never closed.
class SharedLibrary {
public:
    // Opens the library by its soname; `isOpen` tells whether that worked.
    explicit SharedLibrary(const char* soname);

    bool isOpen() const { return handle_ != nullptr; }

    // Sets `function` to the symbol `name` of the library or of what it depends on;
    // false when the library is not open or has no such symbol.
    template <typename Function> bool find(const char* name, Function& function) const {
        void* symbol = lookUp(name);
        function = reinterpret_cast<Function>(symbol);
        return symbol != nullptr;
    }

private:
    void* lookUp(const char* name) const;

    void* handle_ = nullptr;
};

} // namespace marrowbell
