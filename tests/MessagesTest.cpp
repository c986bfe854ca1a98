#include <common/Messages.h>
#include <common/RootPath.h>

#include <gtest/gtest.h>
#include <wx/arrstr.h>
#include <wx/translation.h>

#include <cstdint>
#include <map>
#include <string>

#include "TestSupport.h"

namespace {

using testing_support::TempDir;

// Builds a gettext message catalogue (.mo) in memory.
std::string makeCatalogue(const std::map<std::string, std::string>& entries) {
    std::string strings;
    std::string table;
    auto put32 = [](std::string& out, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const auto n = static_cast<std::uint32_t>(entries.size());
    const std::uint32_t headerSize = 28;
    const std::uint32_t dataStart = headerSize + 16 * n;
    std::string originals, translations;
    for (const auto& e : entries) {
        put32(originals, static_cast<std::uint32_t>(e.first.size()));
        put32(originals, dataStart + static_cast<std::uint32_t>(strings.size()));
        strings += e.first + '\0';
    }
    for (const auto& e : entries) {
        put32(translations, static_cast<std::uint32_t>(e.second.size()));
        put32(translations, dataStart + static_cast<std::uint32_t>(strings.size()));
        strings += e.second + '\0';
    }
    std::string mo;
    put32(mo, 0x950412de);
    put32(mo, 0);
    put32(mo, n);
    put32(mo, headerSize);
    put32(mo, headerSize + 8 * n);
    put32(mo, 0);
    put32(mo, dataStart);
    return mo + originals + translations + strings;
}

class MemoryLoader : public wxTranslationsLoader {
public:
    explicit MemoryLoader(std::string mo) : m_mo(std::move(mo)) {}
    wxMsgCatalog* LoadCatalog(const wxString& domain, const wxString&) override {
        return wxMsgCatalog::CreateFromData(
            wxScopedCharBuffer::CreateNonOwned(m_mo.data(), m_mo.size()), domain);
    }
    wxArrayString GetAvailableTranslations(const wxString&) const override {
        wxArrayString all;
        all.Add("de");
        return all;
    }

private:
    std::string m_mo;
};

// Installs a German catalogue for the lifetime of the fixture and removes it afterwards.
class Translated : public ::testing::Test {
protected:
    void SetUp() override {
        auto* translations = new wxTranslations;
        wxTranslations::Set(translations);
        translations->SetLoader(new MemoryLoader(makeCatalogue({
            {"", "Content-Type: text/plain; charset=UTF-8\n"},
            {"Path: %ls is not a rvk directory.", "Pfad: %ls ist kein rvk-Verzeichnis."},
            {"%ls is not located in the current repository", "%ls %d passt nicht"},
            {"unsupported file change", "nicht unterst\xC3\xBCtzte \xC3\x84nderung"},
        })));
        translations->SetLanguage("de");
        ASSERT_TRUE(translations->AddCatalog("rvktest"));
    }
    void TearDown() override { wxTranslations::Set(nullptr); }
};

TEST_F(Translated, CatalogueIsAskedWithTheUnformattedText) {
    TempDir tmp;
    const OdString missing = tmp.od("missing");
    auto result = common::RootPath::get(missing, false);
    ASSERT_FALSE(result.hasValue());
    EXPECT_EQ(result.error().message, L"Pfad: " + missing + L" ist kein rvk-Verzeichnis.");
    EXPECT_EQ(result.error().code, 0);
    EXPECT_EQ(common::translatedError("unsupported file change").message,
              OdString(L"nicht unterst\u00FCtzte \u00C4nderung"));
}

TEST_F(Translated, TranslationWithOtherConversionsFallsBackToEnglish) {
    const auto error =
        common::translatedError("%ls is not located in the current repository", OdString(L"/x"));
    EXPECT_EQ(error.message, OdString(L"/x is not located in the current repository"));
}

TEST(Untranslated, EnglishTextWithoutCatalogue) {
    ASSERT_EQ(wxTranslations::Get(), nullptr);
    EXPECT_EQ(
        common::translatedError("Path: %ls is not a rvk directory.", OdString(L"/a b")).message,
        OdString(L"Path: /a b is not a rvk directory."));
    EXPECT_EQ(common::untranslatedError("Failed to write Ignore file.").message,
              OdString(L"Failed to write Ignore file."));
}

}  // namespace
