#include <common/internal/Messages.h>

#include <wx/string.h>
#include <wx/translation.h>

#include <cwchar>
#include <cwctype>
#include <string>

namespace common {

OdString translate(const char* english) {
    const wxString original = wxString::FromUTF8(english);
    const wxString* found = nullptr;
    if (wxTranslations* translations = wxTranslations::Get()) {
        found = translations->GetTranslatedString(original, wxString(), wxString());
    }
    const wxString& text = found ? *found : wxTranslations::GetUntranslatedString(original);
    return OdString(text.wc_str());
}

namespace {

// Whether formatting `text` reads nothing but wide strings among the first `arguments` passed.
// Conversions are either all numbered (`%2$ls`) or all in order, as printf requires.
bool readsOnlyPassedWideStrings(const std::wstring& s, int arguments) {
    int next = 0;  // arguments read in order so far
    bool numbered = false;
    bool ordered = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != L'%')
            continue;
        if (++i < s.size() && s[i] == L'%')
            continue;
        std::size_t digits = i;
        long index = 0;
        while (i < s.size() && std::iswdigit(s[i]) && index <= arguments)
            index = index * 10 + (s[i++] - L'0');
        if (i > digits && i < s.size() && s[i] == L'$') {
            ++i;
            numbered = true;
            if (index < 1 || index > arguments)
                return false;
        } else {
            i = digits;
            ordered = true;
            if (++next > arguments)
                return false;
        }
        while (i < s.size() && std::wcschr(L"-+ #0'", s[i]))
            ++i;
        while (i < s.size() && (std::iswdigit(s[i]) || s[i] == L'.'))
            ++i;
        if (s.compare(i, 2, L"ls") != 0 || (numbered && ordered))
            return false;
        ++i;
    }
    return true;
}

}  // namespace

OdString translateFormat(const char* english, int arguments) {
    OdString text = translate(english);
    if (!readsOnlyPassedWideStrings(text.wstr(), arguments))
        text = OdString(english, kCodePageUtf8);
    return text;
}

}  // namespace common
