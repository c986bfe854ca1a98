#include "Site.h"

#include <chrono>
#include <variant>

#include <client/Text.h>

#include "Html.h"
#include "Pages.h"
#include "Routes.h"

namespace rvk::web {

namespace {

// How long a request waits for a view when all are busy.
constexpr std::chrono::seconds kViewWait(10);

void sendPage(Response& response, int status, const std::string& html) {
    response.send(status, {{"Content-Type", "text/html; charset=utf-8"},
                           {"Cache-Control", "no-cache"}},
                  html);
}

// A file's name as a download carries it: in UTF-8, percent-encoded, and, for clients that read
// only the plain form, with every byte that is not printable ASCII, a quote or a backslash as '_'.
std::string disposition(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    std::string plain;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        plain += byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\' ? '_' : c;
    }
    return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + encodeSegment(name);
}

}  // namespace

Site::Site(std::string conninfo, client::Reporter& notes, LogLine log, std::size_t views)
    : m_conninfo(std::move(conninfo)), m_notes(notes), m_log(std::move(log)), m_limit(views) {}

Expected<std::string> Site::check() {
    auto view = take();
    if (!view.hasValue())
        return view.error();
    const std::string role = view.value().role();
    giveBack(std::move(view).value());
    return role;
}

Expected<client::HistoryView> Site::take() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_freed.wait_for(lock, kViewWait, [&] { return !m_idle.empty() || m_open < m_limit; }))
        return client::hostError("every connection to the history's server is busy");
    if (!m_idle.empty()) {
        client::HistoryView view = std::move(m_idle.back());
        m_idle.pop_back();
        return view;
    }
    ++m_open;
    lock.unlock();
    auto opened = client::HistoryView::open(m_conninfo, m_notes);
    if (!opened.hasValue()) {
        lock.lock();
        --m_open;
        m_freed.notify_one();
    }
    return opened;
}

void Site::giveBack(client::HistoryView&& view) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_idle.push_back(std::move(view));
    m_freed.notify_one();
}

void Site::operator()(const Request& request, Response& response) {
    const auto routed = route(request.target);
    if (const auto* refusal = std::get_if<Refusal>(&routed)) {
        sendPage(response, refusal->status,
                 problemPage(topOf(request.target), refusal->status, refusal->reason));
        return;
    }
    if (std::get<Route>(routed).page == Route::Page::stylesheet) {
        response.send(200, {{"Content-Type", "text/css; charset=utf-8"},
                            {"Cache-Control", "max-age=3600"}},
                      stylesheet());
        return;
    }
    auto view = take();
    if (!view.hasValue()) {
        sendPage(response, 503,
                 problemPage(std::get<Route>(routed).top, 503,
                             "The history cannot be read now: " + client::utf8(view.error().message)));
        return;
    }
    bool healthy = true;
    page(request, response, view.value(), healthy);
    if (healthy) {
        giveBack(std::move(view).value());
    } else {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_open;
        m_freed.notify_one();
    }
}

void Site::page(const Request& request, Response& response, client::HistoryView& view,
                bool& healthy) {
    const Route r = std::get<Route>(route(request.target));
    // The server failed to answer, or answered what a history cannot hold: the view goes.
    const auto failed = [&](const ErrorMessage& error) {
        healthy = false;
        sendPage(response, 502,
                 problemPage(r.top, 502, "The history's server did not answer as it should: " +
                                             client::utf8(error.message)));
    };
    const auto missing = [&](const std::string& why) {
        sendPage(response, 404, problemPage(r.top, 404, why));
    };
#define RVK_OR_FAIL(name, expression)       \
    auto name = (expression);               \
    if (!name.hasValue())                   \
        return failed(name.error());
    RVK_OR_FAIL(head, view.head())
    switch (r.page) {
    case Route::Page::history: {
        const std::uint64_t pages =
            head.value() == 0 ? 1 : (head.value() + kCommitsPerPage - 1) / kCommitsPerPage;
        if (r.number > pages)
            return missing("The history has " + std::to_string(pages) +
                           (pages == 1 ? " page." : " pages."));
        const std::uint64_t newest = head.value() - (r.number - 1) * kCommitsPerPage;
        RVK_OR_FAIL(commits, view.commits(newest, kCommitsPerPage))
        return sendPage(response, 200,
                        historyPage(r.top, r.number, pages, head.value(), commits.value()));
    }
    case Route::Page::commit: {
        RVK_OR_FAIL(commit, view.commit(r.number))
        if (!commit.value())
            return missing("There is no commit " + std::to_string(r.number) + ".");
        RVK_OR_FAIL(changes, view.changes(r.number))
        return sendPage(response, 200,
                        commitPage(r.top, *commit.value(), head.value(), changes.value()));
    }
    case Route::Page::file: {
        RVK_OR_FAIL(versions, view.fileHistory(r.name))
        if (versions.value().empty())
            return missing("No commit has the file " + client::quoteName(r.name) + ".");
        RVK_OR_FAIL(locks, view.locks())
        client::ViewLock lock;
        for (const auto& l : locks.value())
            if (l.path == r.name)
                lock = l;
        return sendPage(response, 200, filePage(r.top, r.name, versions.value(), lock));
    }
    case Route::Page::download: {
        if (r.number > head.value())
            return missing("There is no commit " + std::to_string(r.number) + ".");
        RVK_OR_FAIL(copy, view.copyAt(r.name, r.number))
        if (!copy.value())
            return missing("Commit " + std::to_string(r.number) + " has no file " +
                           client::quoteName(r.name) + ".");
        // The whole copy is checked before any of it goes: a damaged one is refused, not sent.
        if (const auto checked = view.checkCopy(*copy.value()); !checked.hasValue()) {
            m_log("refused " + client::quoteName(r.name) + " at commit " +
                  std::to_string(r.number) + ": " + client::utf8(checked.error().message));
            return sendPage(response, 502,
                            problemPage(r.top, 502, "The file is not sent: " +
                                                        client::utf8(checked.error().message)));
        }
        if (!response.start(200, {{"Content-Type", "application/octet-stream"},
                                  {"Content-Disposition", disposition(r.name)},
                                  {"Cache-Control", "private, max-age=86400"},
                                  {"X-Content-SHA256", copy.value()->sha256}},
                            static_cast<std::uint64_t>(copy.value()->size)) ||
            request.head())
            return;
        bool clientGone = false;
        const auto read = view.readCopy(*copy.value(), [&](const char* data, std::size_t size) {
            clientGone = !response.write(data, size);
            return !clientGone;
        });
        if (!read.hasValue() && !clientGone) {
            healthy = false;
            m_log("stopped sending " + client::quoteName(r.name) + " at commit " +
                  std::to_string(r.number) + ": " + client::utf8(read.error().message));
        }
        return;
    }
    case Route::Page::locks: {
        RVK_OR_FAIL(locks, view.locks())
        return sendPage(response, 200, locksPage(r.top, locks.value()));
    }
    case Route::Page::labels: {
        RVK_OR_FAIL(labels, view.labels())
        return sendPage(response, 200, labelsPage(r.top, labels.value()));
    }
    case Route::Page::label:
    case Route::Page::labelCsv: {
        RVK_OR_FAIL(label, view.label(r.name))
        if (!label.value())
            return missing("There is no label " + client::quoteName(r.name) + ".");
        RVK_OR_FAIL(rows, view.fileRegister(label.value()->commit))
        if (r.page == Route::Page::label)
            return sendPage(response, 200, labelPage(r.top, *label.value(), rows.value()));
        return response.send(200, {{"Content-Type", "text/csv; charset=utf-8"},
                                   {"Content-Disposition", disposition("register.csv")},
                                   {"Cache-Control", "no-cache"}},
                             client::registerCsv(rows.value()));
    }
    case Route::Page::stylesheet:
        break;
    }
#undef RVK_OR_FAIL
}

}  // namespace rvk::web
