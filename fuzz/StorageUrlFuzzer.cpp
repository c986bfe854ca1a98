// Fuzz target: getRevision and getStoragePath on arbitrary URLs.
//
// The first byte picks how the rest becomes a URL: decoded as UTF-8, or taken four bytes at a time
// as raw wchar_t elements. Both operations must give exactly what the URL rules say, computed here
// without regular expressions: a drawing URL is cut at its "#" signs in its narrow form and fails
// when that form holds a line break; an object URL yields its last 64 characters; anything else is
// refused with the message holding the URL as given.
#include <cstring>
#include <string>

#include <common/RootPath.h>
#include <common/StoragePaths.h>
#include <platform/FileName.h>
#include <platform/Utf8.h>

#include "FuzzSupport.h"

namespace {

using fuzz_support::dump;
using fuzz_support::require;

const common::RootPath& root() {
    // The operations never touch the file system; any repository root serves.
    return fuzz_support::scratchRoot();
}

// A message filled with the URL: %ls copies the URL's elements up to the first U+0000.
OdString message(const wchar_t* prefix, const OdString& url) {
    const std::wstring& text = url.wstr();
    return OdString(prefix + text.substr(0, text.find(L'\0')));
}

OdString decode(const std::string& narrow) {
    return OdString(ut::decodeUtf8(narrow));
}

void expectError(const Expected<OdString>& result, const OdString& expected, const char* what) {
    require(!result.hasValue(), what, [&] { return dump(result.value().wstr()); });
    require(result.error().message == expected && result.error().code == 0, what, [&] {
        return dump(result.error().message.wstr()) + "\nexpected\n" + dump(expected.wstr());
    });
}

void expectValue(const Expected<OdString>& result, const OdString& expected, const char* what) {
    require(result.hasValue(), what,
            [&] { return std::string(result.error().message.ansi_str()); });
    require(result.value() == expected, what,
            [&] { return dump(result.value().wstr()) + "\nexpected\n" + dump(expected.wstr()); });
}

void check(const OdString& url) {
    const Expected<OdString> revision = common::getRevision(url);
    const Expected<OdString> path = common::getStoragePath(root(), url);
    const OdString revisionError = message(L"Internal error, invalid url occur: ", url);
    const OdString pathError = message(L"invalid url: ", url);
    const OdString sep = ut::FileName::getPathSeparator();
    const std::wstring& wide = url.wstr();

    if (wide.compare(0, 2, L"po") == 0) {
        const OdString digest = url.right(64);
        expectValue(revision, digest, "an object URL's revision is its last 64 characters");
        expectValue(path, root().path() + sep + L".rvk" + sep + L"objects" + sep + digest,
                    "an object URL's copy is named by its last 64 characters");
        return;
    }
    if (wide.compare(0, 2, L"tf") != 0) {
        expectError(revision, revisionError, "a URL of no known kind has no revision");
        expectError(path, pathError, "a URL of no known kind has no stored copy");
        return;
    }

    // The patterns see the narrow form up to its terminator; "." matches neither LF nor CR.
    const std::string narrow = url.ansi_str();
    const bool lineBreak = narrow.find_first_of("\r\n") != std::string::npos;
    const auto lastHash = narrow.rfind('#');
    if (lineBreak || lastHash == std::string::npos) {
        expectError(revision, revisionError, "a drawing URL without '#' has no revision");
    } else {
        expectValue(revision, decode(narrow.substr(lastHash + 1)),
                    "a drawing URL's revision follows its last '#'");
    }

    const auto firstHash = narrow.find('#', 3);
    if (lineBreak || narrow.compare(0, 3, "tf:") != 0 || firstHash == std::string::npos) {
        expectError(path, pathError, "a drawing URL needs 'tf:' and a '#' for its copy");
    } else {
        const OdString name = decode(narrow.substr(3, firstHash - 3));
        expectValue(path, root().path() + sep + L".rvk" + sep + L"tf" + sep + name + L".tf",
                    "a drawing URL's copy is named up to its first '#'");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const char* const rest = reinterpret_cast<const char*>(data + 1);
    if (data[0] % 2 == 0) {
        check(OdString(ut::decodeUtf8(rest, size - 1)));
    } else {
        std::wstring raw((size - 1) / sizeof(wchar_t), L'\0');
        if (!raw.empty())
            std::memcpy(&raw[0], rest, raw.size() * sizeof(wchar_t));
        check(OdString(raw));
    }
    return 0;
}
