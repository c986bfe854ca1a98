// A name that a user typed, matched against whole texts. An addition of ours beside the staging
// explorer, whose names match any ending of a path ("plan" finds "sub/myplan.dwg" there): a host
// that wants a name to stand for a whole path or a whole file name asks this class instead.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include <common/Export.h>
#include <platform/OdString.h>

namespace common {

// The pattern is the name itself, followed by "(\.[a-zA-Z]+)+" when the name has no extension
// (ut::FileName::hasExt), as the explorer builds it, but without the explorer's leading ".*": a
// text matches when std::regex_match with the ECMAScript grammar says the whole of it does. The
// engine, the time linear in the text, and the limits and refusals are those of the explorer's
// names (see RepoFileExplorer). Immutable: copies share the compiled form, and matches() may be
// called from several threads at once.
class RVK_EXPORT TypedName {
public:
    // Throws std::regex_error when `name` forms no valid pattern or passes the limits.
    explicit TypedName(const OdString& name);
    ~TypedName();
    TypedName(const TypedName&);
    TypedName& operator=(const TypedName&);

    // Whether the whole of `utf8Text` matches. Throws std::regex_error with error_complexity when
    // a pattern that needs backtracking exceeds its bounded work on this text.
    bool matches(std::string_view utf8Text) const;
    bool matches(const OdString& text) const;

private:
    struct Compiled;
    std::shared_ptr<const Compiled> m_compiled;
};

}  // namespace common
