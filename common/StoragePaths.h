// The revision and the stored-copy path named by a storage URL.
//
// Only the two URL kinds are accepted: "tf:" name "#" revision for a drawing, kept at
// <root>/.rvk/tf/<name>.tf, and "po" digest for any other file, kept at
// <root>/.rvk/objects/<digest>. The kind is told by the first two characters alone,
// case-sensitively. The name and the revision are cut from the narrow (UTF-8) form of the URL, so
// they come back as that form decodes; a URL holding a line break is no valid drawing URL. Nothing
// is thrown for a bad URL: it is an error.
#pragma once

#include <common/Expected.h>
#include <common/Export.h>
#include <common/RootPath.h>
#include <platform/OdString.h>

namespace common {

// The revision named by `url`: for a drawing URL the text after its last "#" (possibly empty); for
// a "po" URL its last 64 characters (the whole URL when shorter). Fails with "Internal error,
// invalid url occur: %ls" (filled with `url`) for a drawing URL without "#" or with a line break,
// and for any URL beginning with neither "tf" nor "po".
RVK_EXPORT Expected<OdString> getRevision(const OdString& url);

// The path of the stored copy named by `url`. A drawing URL must begin with "tf:" and hold a "#";
// its name (between "tf:" and the first "#", possibly empty) gives the absolute path of
// <root>/.rvk/tf/<name>.tf. A "po" URL gives <root>/.rvk/objects/ followed by its last 64
// characters, the root taken as it is (a relative root stays relative). Fails with "invalid url:
// %ls" (filled with `url`) for every other URL. The file system is not consulted.
RVK_EXPORT Expected<OdString> getStoragePath(const RootPath& root, const OdString& url);

}  // namespace common
