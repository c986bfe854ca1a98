#include <common/Messages.h>

#include <wx/string.h>
#include <wx/translation.h>

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

// Number of `%ls` conversions, or -1 when the text holds any other conversion but `%%`.
int countWideStringConversions(const OdString& text) {
    int count = 0;
    const std::wstring& s = text.wstr();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != L'%')
            continue;
        if (s.compare(i + 1, 1, L"%") == 0) {
            ++i;
        } else if (s.compare(i + 1, 2, L"ls") == 0) {
            ++count;
            i += 2;
        } else {
            return -1;
        }
    }
    return count;
}

}  // namespace

OdString translateFormat(const char* english, int placeholders) {
    OdString text = translate(english);
    if (countWideStringConversions(text) != placeholders)
        text = OdString(english, kCodePageUtf8);
    return text;
}

}  // namespace common
