// Feeds arbitrary bytes to the zone file reader and, as a TZ string, to the POSIX rule
// reader. Checks what must hold for any input: no crash, and every offset either
// reader gives stays within the bound a zone may have.

#include "base/ZoneRules.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace marrowbell;

namespace {

void check(const std::optional<ZoneRules>& rules) {
    if (!rules)
        return;
    for (std::int64_t t : {INT64_C(-1000000000000000), INT64_C(-2208988800), INT64_C(0),
                           INT64_C(1782909296), INT64_C(7258118400), INT64_C(1000000000000000)})
        if (int offset = rules->offsetAt(t); offset < -26 * 3600 || offset > 26 * 3600)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    check(ZoneRules::fromTzif(bytes));
    check(ZoneRules::fromPosix(bytes));
    return 0;
}
