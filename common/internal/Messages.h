// Making the texts the user sees.
//
// A user-facing message is an English format text that is looked up, unformatted, in the host's
// translation catalogue (default domain, no context; the English text when there is no catalogue
// or no entry) and then, except for the few texts that are made without formatting, formatted with
// OdString::format, each `%ls` receiving the wide buffer of an OdString argument. Texts that are
// never translated skip the lookup.
#pragma once

#include <common/Expected.h>
#include <platform/OdString.h>

namespace common {

// The host's translation of `english`, or `english` itself.
OdString translate(const char* english);

// The translation of the format text `english`, to be formatted with `arguments` wide strings.
// A translation may use fewer of the arguments than the English text, or none (it is formatted
// with nothing to fill), and may hold `%%`. Only a translation that would make formatting read an
// argument that is not passed (a conversion beyond the count, one of another type, a `*` width,
// a malformed conversion) is refused: the English text is used instead.
OdString translateFormat(const char* english, int arguments);

// An ErrorMessage (code 0) from the translated `english` format text, formatted with `args`,
// also when there are none (so `%%` in a translation becomes `%`).
template <typename... Args>
ErrorMessage translatedError(const char* english, const Args&... args) {
    const OdString fmt = translateFormat(english, static_cast<int>(sizeof...(Args)));
    OdString text;
    text.format(fmt.c_str(), static_cast<const OdString&>(args).c_str()...);
    return ErrorMessage{text, 0};
}

// An ErrorMessage (code 0) from the translation of `english` as it stands: never formatted, so a
// `%` in the catalogue entry reaches the user unchanged.
inline ErrorMessage translatedUnformattedError(const char* english) {
    return ErrorMessage{translate(english), 0};
}

// An ErrorMessage (code 0) from a text that is never translated.
inline ErrorMessage untranslatedError(const char* text) {
    return ErrorMessage{OdString(text, kCodePageUtf8), 0};
}

}  // namespace common
