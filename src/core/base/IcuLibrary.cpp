#include "base/IcuLibrary.h"

#include "base/SharedLibrary.h"

#include <optional>

namespace marrowbell {

// The name a macro stands for, in quotes: ICU renames its functions by macros
// (ucol_open → ucol_open_72), and dlsym needs the name the library exports.
#define MARROWBELL_QUOTED(name) #name
#define MARROWBELL_EXPANDED(name) MARROWBELL_QUOTED(name)

const IcuLibrary* IcuLibrary::get() {
    static const std::optional<IcuLibrary> library = []() -> std::optional<IcuLibrary> {
        // The soname carries the major version the headers were compiled against, which is
        // also the suffix of every symbol looked up below. libicuuc's functions are found
        // through this handle too: dlsym searches what a library depends on.
        SharedLibrary so("libicui18n.so." U_ICU_VERSION_SHORT);
        IcuLibrary l{};
#define MARROWBELL_FIND(name) so.find(MARROWBELL_EXPANDED(name), l.name)
        bool complete = MARROWBELL_FIND(ucol_open) && MARROWBELL_FIND(ucol_close) &&
                        MARROWBELL_FIND(ucol_setStrength) && MARROWBELL_FIND(ucol_setAttribute) &&
                        MARROWBELL_FIND(ucol_strcollUTF8) &&
                        MARROWBELL_FIND(ulistfmt_openForType) && MARROWBELL_FIND(ulistfmt_close) &&
                        MARROWBELL_FIND(ulistfmt_format) && MARROWBELL_FIND(udat_open) &&
                        MARROWBELL_FIND(udat_close) && MARROWBELL_FIND(udat_format) &&
                        MARROWBELL_FIND(udat_countSymbols) && MARROWBELL_FIND(udat_getSymbols) &&
                        MARROWBELL_FIND(unum_open) && MARROWBELL_FIND(unum_close) &&
                        MARROWBELL_FIND(unum_format) && MARROWBELL_FIND(uloc_getDefault) &&
                        MARROWBELL_FIND(uloc_getVariant) && MARROWBELL_FIND(ubrk_open) &&
                        MARROWBELL_FIND(ubrk_close) && MARROWBELL_FIND(ubrk_first) &&
                        MARROWBELL_FIND(ubrk_next) && MARROWBELL_FIND(u_strFromUTF8WithSub) &&
                        MARROWBELL_FIND(u_strToUTF8WithSub) && MARROWBELL_FIND(u_strFoldCase) &&
                        MARROWBELL_FIND(u_strToUpper);
#undef MARROWBELL_FIND
        if (!complete)
            return std::nullopt;
        return l;
    }();
    return library ? &*library : nullptr;
}

std::u16string IcuLibrary::utf16(std::string_view text) const {
    // A UTF-16 form is never longer, in code units, than the UTF-8 one in bytes.
    std::u16string out(text.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return out;
}

std::string IcuLibrary::utf8(std::u16string_view text) const {
    // Each UTF-16 code unit takes at most three bytes.
    std::string out(text.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                       static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return out;
}

} // namespace marrowbell
