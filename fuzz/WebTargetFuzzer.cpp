// Fuzz target: what rvk serve makes of a request's target, and of a text from the server on a
// page. The input is a target. Whatever it is, the router answers with a page or a refusal of a
// 4xx status; a page's names are UTF-8 without control characters, the links the pages make to
// them lead back to the same page, and a file's path never climbs with "." or "..". The input
// escaped for a page holds nothing a browser reads as markup.
#include <string>
#include <variant>

#include "FuzzSupport.h"
#include "web/Html.h"
#include "web/Routes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rvk::web;
    using fuzz_support::require;
    const std::string target(reinterpret_cast<const char*>(data), size);

    const std::string escaped = escape(target);
    require(escaped.find_first_of("<>\"'") == std::string::npos, "escape() leaves markup");
    require(isUtf8(escaped), "escape() makes text that is not UTF-8");

    const auto routed = route(target);
    if (const auto* refusal = std::get_if<Refusal>(&routed)) {
        require(refusal->status >= 400 && refusal->status < 500, "a refusal is not a 4xx");
        return 0;
    }
    const Route& r = std::get<Route>(routed);
    if (r.name.empty())
        return 0;
    require(isUtf8(r.name), "a page's name is not UTF-8");
    for (const char c : r.name)
        require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F,
                "a page's name holds a control character");
    // The link a page makes to the same file or label leads to the same name.
    std::string link;
    switch (r.page) {
    case Route::Page::file: link = "/file/" + encodePath(r.name); break;
    case Route::Page::download:
        link = "/download/" + std::to_string(r.number) + "/" + encodePath(r.name);
        break;
    case Route::Page::label: link = "/labels/" + encodeSegment(r.name); break;
    case Route::Page::labelCsv: link = "/labels/" + encodeSegment(r.name) + "/register.csv"; break;
    default: require(false, "a page without a name has one");
    }
    const auto again = route(link);
    const auto* back = std::get_if<Route>(&again);
    require(back != nullptr && back->page == r.page && back->name == r.name &&
                back->number == r.number,
            "a page's link leads elsewhere");
    // A label's name is one name, looked up as it is; a file's is a path, which must not climb.
    if (r.page != Route::Page::file && r.page != Route::Page::download)
        return 0;
    for (std::size_t start = 0; start <= r.name.size();) {
        std::size_t end = r.name.find('/', start);
        if (end == std::string::npos)
            end = r.name.size();
        const std::string part = r.name.substr(start, end - start);
        require(part != "." && part != "..", "a page's path climbs");
        start = end + 1;
    }
    return 0;
}
