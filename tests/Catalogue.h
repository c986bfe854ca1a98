// A gettext message catalogue made in memory and installed through wxTranslations, as a host
// installs its own: shared by the messages suite and the program that links the installed package
// (tests/package), so both put the same kind of catalogue where a host puts it.
#pragma once

#include <wx/arrstr.h>
#include <wx/translation.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace testing_support {

// Builds a gettext message catalogue (.mo) in memory, in the host's byte order (the magic number
// tells readers which), with the originals sorted as the map keeps them.
inline std::string makeCatalogue(const std::map<std::string, std::string>& entries) {
    const auto put32 = [](std::string& out, std::uint32_t v) {
        out.append(reinterpret_cast<const char*>(&v), sizeof v);
    };
    const auto n = static_cast<std::uint32_t>(entries.size());
    const std::uint32_t dataStart = 28 + 16 * n;
    std::string header, originals, translations, strings;
    for (const auto& [original, translation] : entries) {
        for (auto [table, text] :
             {std::pair(&originals, &original), std::pair(&translations, &translation)}) {
            put32(*table, static_cast<std::uint32_t>(text->size()));
            put32(*table, dataStart + static_cast<std::uint32_t>(strings.size()));
            strings += *text + '\0';
        }
    }
    for (std::uint32_t field : {0x950412deU, 0U, n, 28U, 28 + 8 * n, 0U, dataStart})
        put32(header, field);
    return header + originals + translations + strings;
}

// Serves one catalogue, whatever domain is asked, as the translations of `language`.
class MemoryLoader : public wxTranslationsLoader {
public:
    MemoryLoader(std::string mo, wxString language)
        : m_mo(std::move(mo)), m_language(std::move(language)) {}
    wxMsgCatalog* LoadCatalog(const wxString& domain, const wxString&) override {
        return wxMsgCatalog::CreateFromData(
            wxScopedCharBuffer::CreateNonOwned(m_mo.data(), m_mo.size()), domain);
    }
    wxArrayString GetAvailableTranslations(const wxString&) const override {
        wxArrayString all;
        all.Add(m_language);
        return all;
    }

private:
    std::string m_mo;
    wxString m_language;
};

// Makes a wxTranslations the process's own (wxTranslations::Set), serving `entries` in `language`
// under `domain`. False when the catalogue was not taken.
inline bool installCatalogue(const std::map<std::string, std::string>& entries,
                             const wxString& language, const wxString& domain) {
    auto* translations = new wxTranslations;
    wxTranslations::Set(translations);
    translations->SetLoader(new MemoryLoader(makeCatalogue(entries), language));
    translations->SetLanguage(language);
    return translations->AddCatalog(domain);
}

}  // namespace testing_support
