#include "Pages.h"

#include "Html.h"
#include "Http.h"

namespace rvk::web {

namespace {

using client::ViewChange;

// The whole page around `body`; `section` is the part of the site it belongs to ("history",
// "locks", "labels"), marked in the navigation.
std::string frame(const std::string& top, const std::string& title, const std::string& section,
                  const std::string& body) {
    const auto item = [&](const char* href, const char* name, const char* label) {
        return std::string("<a href=\"") + escape(top) + href + "\"" +
               (section == name ? " aria-current=\"page\"" : "") + ">" + label + "</a>";
    };
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>" + escape(title) + " \xE2\x80\x94 rvk</title>\n"
           "<link rel=\"stylesheet\" href=\"" + escape(top) + "style.css\">\n</head>\n<body>\n"
           "<header><nav>" + item("", "history", "History") + item("locks", "locks", "Locks") +
           item("labels", "labels", "Labels") + "</nav></header>\n<main>\n" + body +
           "</main>\n</body>\n</html>\n";
}

std::string commitLink(const std::string& top, std::uint64_t id) {
    return "<a href=\"" + escape(top) + "commit/" + std::to_string(id) + "\">" +
           std::to_string(id) + "</a>";
}

std::string fileLink(const std::string& top, const std::string& path) {
    return "<a class=\"path\" href=\"" + escape(top) + "file/" + encodePath(path) + "\">" +
           escape(path) + "</a>";
}

std::string downloadLink(const std::string& top, std::uint64_t id, const std::string& path) {
    return "<a class=\"download\" href=\"" + escape(top) + "download/" + std::to_string(id) +
           "/" + encodePath(path) + "\">download</a>";
}

std::string labelLink(const std::string& top, const std::string& name) {
    return "<a class=\"label\" href=\"" + escape(top) + "labels/" + encodeSegment(name) + "\">" +
           escape(name) + "</a>";
}

std::string timeOf(const std::string& iso) {
    return "<time datetime=\"" + escape(iso) + "\">" + escape(iso) + "</time>";
}

std::string sizeCell(std::int64_t bytes) {
    return "<td class=\"size\" data-bytes=\"" + std::to_string(bytes) + "\" title=\"" +
           std::to_string(bytes) + " bytes\">" + humanSize(bytes) + "</td>";
}

// The first line of a message, cut to about 200 bytes at a character's start.
std::string summary(const std::string& message) {
    std::string line = message.substr(0, message.find('\n'));
    if (line.size() > 200) {
        std::size_t cut = 200;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0u) == 0x80u)
            --cut;
        line = line.substr(0, cut) + "\xE2\x80\xA6";
    }
    return line;
}

const char* kindName(ViewChange::Kind kind) {
    switch (kind) {
    case ViewChange::Kind::added: return "added";
    case ViewChange::Kind::changed: return "changed";
    case ViewChange::Kind::removed: return "removed";
    }
    return "";
}

}  // namespace

std::string historyPage(const std::string& top, std::uint64_t page, std::uint64_t pages,
                        std::uint64_t head, const std::vector<client::ViewCommit>& commits) {
    std::string body = "<h1>History</h1>\n";
    if (head == 0) {
        body += "<p class=\"empty\">No commit has been pushed yet.</p>\n";
        return frame(top, "History", "history", body);
    }
    body += "<p class=\"count\">" + std::to_string(head) + (head == 1 ? " commit" : " commits") +
            ", newest first.</p>\n<table class=\"history\">\n<thead><tr><th>Commit</th>"
            "<th>Time</th><th>Author</th><th>Message</th><th>Files</th><th>Labels</th></tr>"
            "</thead>\n<tbody>\n";
    for (const auto& c : commits) {
        body += "<tr id=\"c" + std::to_string(c.id) + "\"><td class=\"id\">" +
                commitLink(top, c.id) + "</td><td class=\"time\">" + timeOf(isoTime(c.time)) +
                "</td><td class=\"author\">" + escape(c.author) + "</td><td class=\"message\">" +
                escape(summary(c.message)) + "</td><td class=\"files\">" +
                std::to_string(c.files) + "</td><td class=\"labels\">";
        for (const auto& name : c.labels)
            body += labelLink(top, name);
        body += "</td></tr>\n";
    }
    body += "</tbody>\n</table>\n<nav class=\"pages\">";
    if (page > 1)
        body += "<a rel=\"prev\" href=\"" + escape(top) +
                (page == 2 ? std::string() : "history/" + std::to_string(page - 1)) +
                "\">Newer</a> ";
    body += "<span>Page " + std::to_string(page) + " of " + std::to_string(pages) + "</span>";
    if (page < pages)
        body += " <a rel=\"next\" href=\"" + escape(top) + "history/" +
                std::to_string(page + 1) + "\">Older</a>";
    body += "</nav>\n";
    return frame(top, page == 1 ? "History" : "History, page " + std::to_string(page), "history",
                 body);
}

std::string commitPage(const std::string& top, const client::ViewCommit& commit,
                       std::uint64_t head, const std::vector<client::ViewChange>& changes) {
    std::string body = "<h1>Commit " + std::to_string(commit.id) + "</h1>\n<dl class=\"commit\">"
                       "<dt>Time</dt><dd class=\"time\">" + timeOf(isoTime(commit.time)) +
                       "</dd><dt>Author</dt><dd class=\"author\">" + escape(commit.author) +
                       "</dd><dt>Message</dt><dd class=\"message\">" + escape(commit.message) +
                       "</dd>";
    if (!commit.labels.empty()) {
        body += "<dt>Labels</dt><dd class=\"labels\">";
        for (const auto& name : commit.labels)
            body += labelLink(top, name);
        body += "</dd>";
    }
    body += "</dl>\n<table class=\"changes\">\n<thead><tr><th>File</th><th>Change</th>"
            "<th>Size</th><th></th></tr></thead>\n<tbody>\n";
    for (const auto& change : changes) {
        const bool removed = change.kind == ViewChange::Kind::removed;
        body += "<tr class=\"" + std::string(kindName(change.kind)) + "\"><td>" +
                fileLink(top, change.path) + "</td><td class=\"kind\">" + kindName(change.kind) +
                "</td>" + (removed ? "<td class=\"size\"></td><td></td>"
                                   : sizeCell(change.size) + "<td>" +
                                         downloadLink(top, commit.id, change.path) + "</td>") +
                "</tr>\n";
    }
    body += "</tbody>\n</table>\n<nav class=\"pages\">";
    if (commit.id > 1)
        body += "<a rel=\"prev\" href=\"" + escape(top) + "commit/" +
                std::to_string(commit.id - 1) + "\">Older commit</a> ";
    if (commit.id < head)
        body += "<a rel=\"next\" href=\"" + escape(top) + "commit/" +
                std::to_string(commit.id + 1) + "\">Newer commit</a>";
    body += "</nav>\n";
    return frame(top, "Commit " + std::to_string(commit.id), "history", body);
}

std::string filePage(const std::string& top, const std::string& path,
                     const std::vector<client::ViewVersion>& versions,
                     const client::ViewLock& lock) {
    std::string body = "<h1 class=\"path\">" + escape(path) + "</h1>\n";
    if (!lock.holder.empty())
        body += "<p class=\"lock\">Locked by <span class=\"holder\">" + escape(lock.holder) +
                "</span> since " + timeOf(lock.taken) + ".</p>\n";
    body += "<table class=\"versions\">\n<thead><tr><th>Commit</th><th>Time</th><th>Author</th>"
            "<th>Message</th><th>Size</th><th></th></tr></thead>\n<tbody>\n";
    for (const auto& v : versions) {
        body += std::string("<tr") + (v.removed ? " class=\"removed\"" : "") +
                "><td class=\"id\">" + commitLink(top, v.commit) + "</td><td class=\"time\">" +
                timeOf(isoTime(v.time)) + "</td><td class=\"author\">" + escape(v.author) +
                "</td><td class=\"message\">" + escape(summary(v.message)) + "</td>" +
                (v.removed ? "<td class=\"size\"></td><td class=\"kind\">removed</td>"
                           : sizeCell(v.size) + "<td>" + downloadLink(top, v.commit, path) +
                                 "</td>") +
                "</tr>\n";
    }
    body += "</tbody>\n</table>\n";
    return frame(top, path, "history", body);
}

std::string locksPage(const std::string& top, const std::vector<client::ViewLock>& locks) {
    std::string body = "<h1>Locks</h1>\n";
    if (locks.empty()) {
        body += "<p class=\"empty\">No file is locked.</p>\n";
        return frame(top, "Locks", "locks", body);
    }
    body += "<p class=\"count\">" + std::to_string(locks.size()) +
            (locks.size() == 1 ? " lock" : " locks") + ", the oldest first; those held for more "
            "than " + std::to_string(kOldLockSeconds / 86400) + " days are marked old.</p>\n"
            "<table class=\"locks\">\n<thead><tr><th>File</th><th>Held by</th><th>Since</th>"
            "<th>For</th></tr></thead>\n<tbody>\n";
    for (const auto& lock : locks) {
        const bool old = lock.heldSeconds > kOldLockSeconds;
        body += std::string("<tr") + (old ? " class=\"old\"" : "") + "><td>" +
                fileLink(top, lock.path) + "</td><td class=\"holder\">" + escape(lock.holder) +
                "</td><td class=\"since\">" + timeOf(lock.taken) + "</td><td class=\"held\">" +
                humanDuration(lock.heldSeconds) + (old ? " <strong class=\"old\">old</strong>" : "") +
                "</td></tr>\n";
    }
    body += "</tbody>\n</table>\n";
    return frame(top, "Locks", "locks", body);
}

std::string labelsPage(const std::string& top, const std::vector<client::Label>& labels) {
    std::string body = "<h1>Labels</h1>\n";
    if (labels.empty()) {
        body += "<p class=\"empty\">No commit has a label yet.</p>\n";
        return frame(top, "Labels", "labels", body);
    }
    body += "<table class=\"labels\">\n<thead><tr><th>Label</th><th>Commit</th><th>By</th>"
            "<th>Made</th></tr></thead>\n<tbody>\n";
    for (const auto& label : labels)
        body += "<tr><td>" + labelLink(top, label.name) + "</td><td class=\"id\">" +
                commitLink(top, label.commit) + "</td><td class=\"author\">" +
                escape(label.author) + "</td><td class=\"made\">" + timeOf(label.made) +
                "</td></tr>\n";
    body += "</tbody>\n</table>\n";
    return frame(top, "Labels", "labels", body);
}

std::string labelPage(const std::string& top, const client::Label& label,
                      const std::vector<client::RegisterRow>& rows) {
    std::string body = "<h1 class=\"label\">" + escape(label.name) + "</h1>\n<p>Commit " +
                       commitLink(top, label.commit) + ", labelled by <span class=\"author\">" +
                       escape(label.author) + "</span> at " + timeOf(label.made) +
                       ". Its register: <a class=\"register\" href=\"" + escape(top) + "labels/" +
                       encodeSegment(label.name) + "/register.csv\">register.csv</a>.</p>\n"
                       "<table class=\"register\">\n<thead><tr><th>File</th><th>Size</th>"
                       "<th>SHA-256</th><th>Commit</th><th>Author</th></tr></thead>\n<tbody>\n";
    for (const auto& row : rows)
        body += "<tr><td>" + fileLink(top, row.path) + "</td>" + sizeCell(row.size) +
                "<td class=\"sha\">" + escape(row.sha256) + "</td><td class=\"id\">" +
                commitLink(top, row.commit) + "</td><td class=\"author\">" + escape(row.author) +
                "</td></tr>\n";
    body += "</tbody>\n</table>\n";
    return frame(top, label.name, "labels", body);
}

std::string problemPage(const std::string& top, int status, const std::string& why) {
    return frame(top, statusText(status), "",
                 "<h1>" + std::to_string(status) + " " + escape(statusText(status)) +
                     "</h1>\n<p class=\"problem\">" + escape(why) + "</p>\n");
}

const std::string& stylesheet() {
    static const std::string css = R"css(:root { font-family: system-ui, sans-serif; color: #1d2329; }
body { margin: 0; background: #fff; }
header { background: #24313d; padding: 0.7rem 1.2rem; }
header a { color: #fff; margin-right: 1.4rem; text-decoration: none; font-weight: 600; }
header a[aria-current] { border-bottom: 2px solid #8fc1ff; }
main { padding: 0.8rem 1.2rem 2rem; max-width: 80rem; }
h1 { font-size: 1.4rem; margin: 0.5rem 0 1rem; overflow-wrap: anywhere; }
a { color: #0b5cad; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: 0.35rem 0.6rem; border-bottom: 1px solid #e1e5e9;
         vertical-align: top; }
th { font-size: 0.85rem; font-weight: 600; color: #56616b; }
td.id, td.size, td.files { text-align: right; font-variant-numeric: tabular-nums; }
td.time, td.since, td.made { white-space: nowrap; }
.message { white-space: pre-line; overflow-wrap: anywhere; }
a.path { overflow-wrap: anywhere; }
a.label { display: inline-block; background: #eef4fb; border: 1px solid #b9d2ee;
          border-radius: 3px; padding: 0 0.35rem; margin: 0 0.3rem 0.2rem 0;
          text-decoration: none; white-space: nowrap; }
.sha { font-family: ui-monospace, monospace; font-size: 0.8rem; overflow-wrap: anywhere; }
tr.added .kind { color: #1a7f37; }
tr.removed .kind { color: #b42318; }
tr.old td { background: #fff4e0; }
strong.old { color: #a35a00; }
dl.commit { display: grid; grid-template-columns: max-content 1fr; gap: 0.3rem 1rem; }
dt { color: #56616b; }
dd { margin: 0; }
.pages { margin-top: 1rem; }
.pages a { margin-right: 1rem; }
.empty, .count { color: #56616b; }
)css";
    return css;
}

}  // namespace rvk::web
