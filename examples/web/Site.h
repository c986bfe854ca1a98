// The site `rvk serve` serves: each request's page, made from a read-only view of the shared
// history. Views are kept for the next request once a request is done with one, up to a limit of
// open connections to the history's server; a request finds one free, or waits a little for one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include <client/HistoryView.h>

#include "Http.h"

namespace rvk::web {

class Site {
public:
    // `notes` hears the server's notices (it must take them from several threads at once); `log`
    // hears what goes wrong beyond a request's own line.
    Site(std::string conninfo, client::Reporter& notes, LogLine log, std::size_t views = 16);

    // Opens a first view: whether the history can be read at all, and as which role.
    Expected<std::string> check();

    void operator()(const Request& request, Response& response);

private:
    // A view for one request, or the reason there is none; give it back unless it failed.
    Expected<client::HistoryView> take();
    void giveBack(client::HistoryView&& view);

    void page(const Request& request, Response& response, client::HistoryView& view,
              bool& healthy);

    std::string m_conninfo;
    client::Reporter& m_notes;
    LogLine m_log;
    std::size_t m_limit;
    std::mutex m_mutex;
    std::condition_variable m_freed;
    std::vector<client::HistoryView> m_idle;
    std::size_t m_open = 0;
};

}  // namespace rvk::web
