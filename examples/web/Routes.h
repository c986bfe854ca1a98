// Which page a request's target asks for. Every target that names no page, or names one in a way
// that cannot be read exactly (a malformed percent-escape, a name that is not UTF-8 or holds a
// control character, "." or ".." as a name), is refused here with the status to answer, before
// anything asks the server.
//
//   /                            the history, newest first        /history/N   its N-th page
//   /commit/ID                   one commit
//   /file/PATH                   one file's versions
//   /download/ID/PATH            the version of PATH at commit ID
//   /locks                       the locks
//   /labels                      the labels                       /labels/NAME  one, with its register
//   /labels/NAME/register.csv    that register as a file
//   /style.css                   the stylesheet
//
// Each name of PATH, and NAME, is one percent-encoded segment. A query ("?...") is ignored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace rvk::web {

struct Route {
    enum class Page { history, commit, file, download, locks, labels, label, labelCsv, stylesheet };
    Page page = Page::history;
    std::uint64_t number = 0;  // the history's page (from 1) or the commit
    std::string name;          // the file's '/'-separated path or the label's name, decoded
    // What leads from the page's folder back to the top of the site ("./", "../", "../../"):
    // the pages link to each other relatively, so the site may sit below another's path.
    std::string top;
};

// A refusal: the status to answer and why, for the page that says it.
struct Refusal {
    int status = 404;
    std::string reason;
};

// The longest target taken; a longer one is refused with 414.
constexpr std::size_t kLongestTarget = 4096;

std::variant<Route, Refusal> route(std::string_view target);

// Route::top for `target`, whatever it names: what a page that refuses it links back with.
std::string topOf(std::string_view target);

}  // namespace rvk::web
