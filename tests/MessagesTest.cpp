#include <common/FileRecords.h>
#include <common/internal/Messages.h>
#include <common/RootPath.h>

#include <gtest/gtest.h>
#include <wx/translation.h>

#include <map>
#include <string>

#include "Catalogue.h"
#include "TestSupport.h"

namespace {

using testing_support::TempDir;

// The entries of the German catalogue: each message's translation exercises one rule.
const std::map<std::string, std::string> kGerman = {
    {"", "Content-Type: text/plain; charset=UTF-8\n"},
    {"Path: %ls is not a rvk directory.", "Pfad: %ls ist kein rvk-Verzeichnis."},
    {"unsupported file change", "zu 100% nicht unterst\xC3\xBCtzte \xC3\x84nderung"},
    {"There are no modified or untracked files for commit.", "Nichts zu 100%% erfassen"},
    {"HEAD does not point to a branch", "HEAD zeigt zu 100%% auf keinen Zweig"},
    {"No state file found at %ls", "Keine Zustandsdatei gefunden"},
    {"Error writing to file '%ls'", "Fehler beim Schreiben von '%1$ls'"},
    {"invalid url: %ls", "ung\xC3\xBCltige URL: %-4ls!"},
    {"%ls is not located in the current repository", "%ls %d passt nicht"},
    {"Internal error, invalid url occur: %ls", "%ls und %ls"},
    {"State does not contain HEAD.", "HEAD fehlt zu 100%"},
    {"Unsupported file change enum: %ls", "Nicht unterst\xC3\xBCtzt: %*ls"},
    {"More that one file found with name %ls.\n", "%2$ls mehrfach"},
    {"Not able to create a rvk directory in %ls", "Kein rvk in %0$ls"},
};

// Installs the German catalogue for the lifetime of the fixture and removes it afterwards.
class Translated : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testing_support::installCatalogue(kGerman, "de", "rvktest"));
    }
    void TearDown() override { wxTranslations::Set(nullptr); }
};

TEST_F(Translated, UnformattedMessagesKeepTheEntryAsItStands) {
    const auto change = common::toString(static_cast<common::EFileChange>(7));
    ASSERT_FALSE(change.hasValue());
    EXPECT_EQ(change.error().message, OdString(L"zu 100% nicht unterst\u00FCtzte \u00C4nderung"));
    EXPECT_EQ(
        common::translatedUnformattedError("There are no modified or untracked files for commit.")
            .message,
        OdString(L"Nichts zu 100%% erfassen"));
}

TEST_F(Translated, FormattedMessagesUseEveryTranslationThatReadsOnlyPassedArguments) {
    const OdString arg(L"/a b");
    struct Case {
        const char* english;
        bool withArgument;
        const wchar_t* expected;
    } cases[] = {
        {"Path: %ls is not a rvk directory.", true, L"Pfad: /a b ist kein rvk-Verzeichnis."},
        {"HEAD does not point to a branch", false, L"HEAD zeigt zu 100% auf keinen Zweig"},
        {"No state file found at %ls", true, L"Keine Zustandsdatei gefunden"},
        {"Error writing to file '%ls'", true, L"Fehler beim Schreiben von '/a b'"},
        {"invalid url: %ls", true, L"ung\u00FCltige URL: /a b!"},
        // Refused: an int, a second argument, a lone `%`, a `*` width, arguments not passed.
        {"%ls is not located in the current repository", true,
         L"/a b is not located in the current repository"},
        {"Internal error, invalid url occur: %ls", true,
         L"Internal error, invalid url occur: /a b"},
        {"State does not contain HEAD.", false, L"State does not contain HEAD."},
        {"Unsupported file change enum: %ls", true, L"Unsupported file change enum: /a b"},
        {"More that one file found with name %ls.\n", true,
         L"More that one file found with name /a b.\n"},
        {"Not able to create a rvk directory in %ls", true,
         L"Not able to create a rvk directory in /a b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.english);
        const ErrorMessage error = c.withArgument ? common::translatedError(c.english, arg)
                                                  : common::translatedError(c.english);
        EXPECT_EQ(error.message, OdString(c.expected));
        EXPECT_EQ(error.code, 0);
    }
}

TEST_F(Translated, CatalogueIsAskedWithTheUnformattedText) {
    TempDir tmp;
    const OdString missing = tmp.od("missing");
    auto result = common::RootPath::get(missing, false);
    ASSERT_FALSE(result.hasValue());
    EXPECT_EQ(result.error().message, L"Pfad: " + missing + L" ist kein rvk-Verzeichnis.");
}

TEST(Untranslated, EnglishTextWithoutCatalogue) {
    ASSERT_EQ(wxTranslations::Get(), nullptr);
    EXPECT_EQ(
        common::translatedError("Path: %ls is not a rvk directory.", OdString(L"/a b")).message,
        OdString(L"Path: /a b is not a rvk directory."));
    EXPECT_EQ(common::translatedUnformattedError("unsupported file change").message,
              OdString(L"unsupported file change"));
    EXPECT_EQ(common::untranslatedError("Failed to write Ignore file.").message,
              OdString(L"Failed to write Ignore file."));
}

}  // namespace
