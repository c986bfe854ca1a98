// A host of the installed package, checking what only a separately built host can see:
//
// - its translations reach the library: a catalogue installed through this program's
//   wxTranslations::Set turns the library's messages German, which needs the library and the host
//   to share one wxWidgets (one wxTranslations::Get());
// - the state file the library writes spells each character beyond ASCII as this process's C
//   library classifies it (iswprint under the LC_CTYPE the host set): raw when printable, a \u
//   escape otherwise.
//
// Usage: package_consumer FOLDER   (an empty folder it may fill). Says what failed and exits 1,
// or exits 0.
#include <common/Cache.h>
#include <common/FileRecords.h>
#include <common/RootPath.h>
#include <platform/FileName.h>
#include <platform/TextFile.h>
#include <platform/Utf8.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <map>
#include <string>

#include "Catalogue.h"

namespace {

int failures = 0;

void check(bool holds, const std::string& what) {
    if (!holds) {
        std::fprintf(stderr, "package_consumer: %s\n", what.c_str());
        ++failures;
    }
}

class QuietIo : public common::IoInterface {
public:
    int check(const OdString&) const override { return 0; }
    void report(Expected<void> outcome) const override {
        if (!outcome.hasValue())
            std::fprintf(stderr, "package_consumer: state file not written: %s\n",
                         outcome.error().message.ansi_str());
    }
};

void translationsReachTheLibrary(const OdString& folder) {
    const OdString missing = folder + ut::FileName::getPathSeparator() + OdString(L"missing");
    const OdString english = L"Path: " + missing + L" is not a rvk directory.";
    const OdString german = L"Pfad: " + missing + L" ist kein rvk-Verzeichnis.";
    const auto before = common::RootPath::get(missing, false);
    check(!before.hasValue() && before.error().message == english,
          "without a catalogue the message is not the English text");
    check(testing_support::installCatalogue(
              {{"", "Content-Type: text/plain; charset=UTF-8\n"},
               {"Path: %ls is not a rvk directory.", "Pfad: %ls ist kein rvk-Verzeichnis."}},
              "de", "package_consumer"),
          "the catalogue was not installed");
    const auto after = common::RootPath::get(missing, false);
    check(!after.hasValue() && after.error().message == german,
          std::string("the host's catalogue did not reach the library: ") +
              (after.hasValue() ? "no error" : after.error().message.ansi_str()));
    wxTranslations::Set(nullptr);
}

void stateFileFollowsIswprint(const OdString& folder) {
    const auto root = common::RootPath::get(folder, true);
    if (!root.hasValue()) {
        check(false, std::string("no repository: ") + root.error().message.ansi_str());
        return;
    }
    // A C1 control, a letter, a CJK character, the line separator.
    const wchar_t characters[] = {0x0085, 0x00E9, 0x4E2D, 0x2028};
    QuietIo io;
    int printable = 0, escaped = 0;
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    for (const char* locale : {"C", "C.UTF-8", ".UTF-8"}) {
        if (std::setlocale(LC_CTYPE, locale) == nullptr)
            continue;
        {
            auto cache = common::Cache::get(root.value(), true, io);
            if (!cache.hasValue()) {
                check(false, std::string("no cache: ") + cache.error().message.ansi_str());
                break;
            }
            auto& staged = cache.value().write().stagedFiles;
            staged.clear();
            for (const wchar_t c : characters)
                staged.emplace_back(OdString((L"x" + std::wstring(1, c)).c_str()),
                                    common::EFileChange::added);
        }  // the Cache writes the state file as it ends
        const std::string text = ut::readFileBytes(root.value().statePath());
        for (const wchar_t c : characters) {
            const bool raw = std::iswprint(static_cast<std::wint_t>(c)) != 0;
            ++(raw ? printable : escaped);
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            const std::string expected =
                "\"x" + (raw ? ut::encodeUtf8(std::wstring(1, c)) : std::string(escape)) + "\"";
            char where[64];
            std::snprintf(where, sizeof where, "U+%04X under %s", static_cast<unsigned>(c), locale);
            check(text.find(expected) != std::string::npos,
                  std::string(where) + ": the state file lacks " + expected + ":\n" + text);
        }
    }
    std::setlocale(LC_CTYPE, previous.c_str());
    check(printable > 0 && escaped > 0,
          "the C library called all of the characters printable, or none: nothing was proved");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: package_consumer FOLDER\n");
        return 2;
    }
    const OdString folder(argv[1], 46);
    translationsReachTheLibrary(folder);
    stateFileFollowsIswprint(folder);
    if (failures == 0)
        std::printf("package_consumer: translations and the state file's characters as expected\n");
    return failures == 0 ? 0 : 1;
}
