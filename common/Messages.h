// Making the texts the user sees.
//
// A user-facing message is an English format text that is looked up, unformatted, in the host's
// translation catalogue (default domain, no context; the English text when there is no catalogue
// or no entry) and then formatted, each `%ls` receiving the wide buffer of an OdString argument.
// Texts that are never translated skip the lookup.
#pragma once

#include <common/Expected.h>
#include <platform/OdString.h>

namespace common {

// The host's translation of `english`, or `english` itself.
OdString translate(const char* english);

// The translation of the format text `english` that holds `placeholders` times `%ls`. A translation
// whose conversions differ (another count, another conversion) would make formatting read
// arguments that are not there, so the English text is used instead.
OdString translateFormat(const char* english, int placeholders);

// An ErrorMessage (code 0) from the translated `english` format text filled with `args`.
template <typename... Args>
ErrorMessage translatedError(const char* english, const Args&... args) {
    OdString text = translateFormat(english, static_cast<int>(sizeof...(Args)));
    if (sizeof...(Args) > 0) {
        const OdString fmt = text;
        text.format(fmt.c_str(), static_cast<const OdString&>(args).c_str()...);
    }
    return ErrorMessage{text, 0};
}

// An ErrorMessage (code 0) from a text that is never translated.
inline ErrorMessage untranslatedError(const char* text) {
    return ErrorMessage{OdString(text, kCodePageUtf8), 0};
}

}  // namespace common
