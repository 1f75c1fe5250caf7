#include "harness/ModelOption.h"

namespace marrowbell {

std::string ModelOption::label() const {
    if (!detail || *detail == id)
        return id;
    return id + " — " + *detail;
}

} // namespace marrowbell
