// The HTTP side of `rvk serve`: a listener that hands each request for a page to its handler and
// answers everything else itself. HTTP is Boost.Beast's; this file only decides the limits.
//
// Each connection is served by a thread of its own, so that one that downloads a large drawing,
// or waits on the history's server, never holds up another; every wait on a client has a
// deadline, so that one that sends its request slowly, or stops reading, is let go. A request
// with a body, a method other than GET and HEAD, a header larger than the limit or a malformed
// request is refused before the handler sees it. Every response, refusals included, carries the
// same protective headers (a Content-Security-Policy that allows nothing but the site's own
// stylesheet), and every request gets one line on the log: method, target, status, bytes, time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <common/Expected.h>

namespace rvk::web {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
    std::string method;  // "GET" or "HEAD": the handler sees no other
    std::string target;  // as it came
    bool head() const { return method == "HEAD"; }
};

// How the handler answers: with send() once, or with start() and then the body's bytes through
// write(). For HEAD, the bytes are counted but not sent.
class Response {
public:
    virtual ~Response() = default;
    // A whole response.
    virtual void send(int status, const Headers& headers, const std::string& body) = 0;
    // The status and headers of a response of `length` bytes that follow through write().
    virtual bool start(int status, const Headers& headers, std::uint64_t length) = 0;
    // More of the body; false when the client is gone or stopped taking it in time: the handler
    // then gives up. A response that ends short of its length ends its connection, so that the
    // client sees it incomplete.
    virtual bool write(const char* data, std::size_t size) = 0;
    // Whether the response is started (sent, or its status and headers are).
    virtual bool started() const = 0;
};

using Handler = std::function<void(const Request& request, Response& response)>;

// One line of the log, written whole whichever thread writes it.
using LogLine = std::function<void(const std::string& line)>;

struct Listen {
    std::string address = "127.0.0.1";
    unsigned short port = 8080;  // 0: any free port
};

struct Limits {
    std::size_t connections = 64;  // served at once; one more is answered 503
    std::size_t header = 16 * 1024;  // the request line and the header fields, in bytes
    std::chrono::seconds request{15};  // for a request's header to arrive, and between requests
    std::chrono::seconds write{60};    // for each part of a response to be taken
};

// Serves `handler` on `listen` until the process gets SIGINT or SIGTERM, then lets the requests in
// progress end, and returns. `serving` hears the address it listens on ("http://127.0.0.1:8080/")
// once it does. Fails when it cannot listen there.
Expected<void> serve(const Listen& listen, const Limits& limits, const Handler& handler,
                     const LogLine& log, const std::function<void(const std::string&)>& serving);

// The reason phrase of `status` ("Not Found").
std::string statusText(int status);

}  // namespace rvk::web
