#pragma once

#include <unicode/ubrk.h>
#include <unicode/ucol.h>
#include <unicode/udat.h>
#include <unicode/ulistformatter.h>
#include <unicode/uloc.h>
#include <unicode/unum.h>
#include <unicode/ustring.h>

#include <memory>
#include <string>
#include <string_view>

namespace marrowbell {

// ICU's C API, loaded (dlopen of libicui18n, which brings libicuuc and libicudata) when text first
// needs a locale's rules, so a process that never sorts, formats or folds text — the idle scheduler
// above all — never maps it. The members are the functions of the same name; ICU's headers rename
// both to the versioned symbols
// ("ucol_open" is "ucol_open_72"), so they read as the plain C API.
struct IcuLibrary {
    // libicui18n
    decltype(&::ucol_open) ucol_open;
    decltype(&::ucol_close) ucol_close;
    decltype(&::ucol_setStrength) ucol_setStrength;
    decltype(&::ucol_setAttribute) ucol_setAttribute;
    decltype(&::ucol_strcollUTF8) ucol_strcollUTF8;
    decltype(&::ulistfmt_openForType) ulistfmt_openForType;
    decltype(&::ulistfmt_close) ulistfmt_close;
    decltype(&::ulistfmt_format) ulistfmt_format;
    decltype(&::udat_open) udat_open;
    decltype(&::udat_close) udat_close;
    decltype(&::udat_format) udat_format;
    decltype(&::udat_countSymbols) udat_countSymbols;
    decltype(&::udat_getSymbols) udat_getSymbols;
    decltype(&::unum_open) unum_open;
    decltype(&::unum_close) unum_close;
    decltype(&::unum_format) unum_format;
    // libicuuc
    decltype(&::uloc_getDefault) uloc_getDefault;
    decltype(&::uloc_getVariant) uloc_getVariant;
    decltype(&::ubrk_open) ubrk_open;
    decltype(&::ubrk_close) ubrk_close;
    decltype(&::ubrk_first) ubrk_first;
    decltype(&::ubrk_next) ubrk_next;
    decltype(&::u_strFromUTF8WithSub) u_strFromUTF8WithSub;
    decltype(&::u_strToUTF8WithSub) u_strToUTF8WithSub;
    decltype(&::u_strFoldCase) u_strFoldCase;
    decltype(&::u_strToUpper) u_strToUpper;

    // An ICU object that its close function frees, e.g. Owned<UCollator>{c, ucol_close}.
    template <typename Object> using Owned = std::unique_ptr<Object, void (*)(Object*)>;

    // The library, loaded once per process and never unloaded; null when it cannot be
    // loaded.
    static const IcuLibrary* get();

    // UTF-8 to UTF-16 and back, each ill-formed sequence replaced by U+FFFD, as ICU's
    // own UnicodeString::fromUTF8 and toUTF8String do.
    std::u16string utf16(std::string_view text) const;
    std::string utf8(std::u16string_view text) const;

    // The text `write(buffer, capacity, status)` puts in a buffer — the usual shape of
    // ICU's C functions: one call with a guess, a second with the length a buffer
    // overflow reported. Empty, with `status` set, on failure.
    template <typename Write> static std::u16string written(Write write, UErrorCode& status) {
        std::u16string text(32, u'\0');
        int32_t length = write(text.data(), static_cast<int32_t>(text.size()), status);
        if (status == U_BUFFER_OVERFLOW_ERROR && length > 0) {
            status = U_ZERO_ERROR;
            text.resize(static_cast<std::size_t>(length));
            length = write(text.data(), length, status);
        }
        if (U_FAILURE(status) || length < 0)
            return {};
        text.resize(static_cast<std::size_t>(length));
        return text;
    }
};

} // namespace marrowbell
