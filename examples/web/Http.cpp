#include "Http.h"

#include <atomic>
#include <csignal>
#include <list>
#include <memory>
#include <optional>
#include <thread>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <client/Text.h>

namespace rvk::web {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// What every response carries: pages that load nothing but the site's own stylesheet, run no
// script, are framed by no other site and send no address on.
const Headers& protective() {
    static const Headers headers = {
        {"Content-Security-Policy",
         "default-src 'none'; style-src 'self'; base-uri 'none'; form-action 'none'; "
         "frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
    };
    return headers;
}

// One client's connection, served by a thread of its own. Its socket lives in a context that only
// that thread runs: each wait on the client is started, then run to its end or its deadline.
class Connection final : public Response {
public:
    Connection(const Limits& limits, const Handler& handler, const LogLine& log)
        : m_limits(limits), m_handler(handler), m_log(log) {}

    net::io_context& context() { return m_context; }

    void begin(tcp::socket socket) {
        m_stream.emplace(std::move(socket));
        m_thread = std::thread([this] {
            serve();
            m_finished = true;
        });
    }
    bool finished() const { return m_finished; }
    void join() {
        if (m_thread.joinable())
            m_thread.join();
    }
    // Ends the connection from another thread: whatever it waits on the client for ends at once.
    void end() {
        net::post(m_context, [this] {
            beast::error_code ignored;
            m_stream->socket().shutdown(tcp::socket::shutdown_both, ignored);
            m_stream->close();
        });
    }

    void send(int status, const Headers& headers, const std::string& body) override {
        http::response<http::string_body> response(static_cast<http::status>(status), m_version);
        fill(response, headers);
        response.body() = body;
        response.prepare_payload();
        http::response_serializer<http::string_body> serializer(response);
        m_status = status;
        m_started = true;
        if (m_head) {
            m_broken = !ok(await(m_limits.write, [&](auto done) {
                http::async_write_header(*m_stream, serializer, std::move(done));
            }));
            return;
        }
        m_broken = !ok(await(m_limits.write, [&](auto done) {
            http::async_write(*m_stream, serializer, std::move(done));
        }));
        if (!m_broken)
            m_bytes = body.size();
    }

    bool start(int status, const Headers& headers, std::uint64_t length) override {
        http::response<http::empty_body> response(static_cast<http::status>(status), m_version);
        fill(response, headers);
        response.content_length(length);
        http::response_serializer<http::empty_body> serializer(response);
        m_status = status;
        m_started = true;
        m_length = length;
        m_streaming = true;
        m_broken = !ok(await(m_limits.write, [&](auto done) {
            http::async_write_header(*m_stream, serializer, std::move(done));
        }));
        return !m_broken;
    }

    bool write(const char* data, std::size_t size) override {
        if (m_broken || !m_streaming || m_bytes + size > m_length)
            return false;
        if (!m_head)
            m_broken = !ok(await(m_limits.write, [&](auto done) {
                net::async_write(*m_stream, net::buffer(data, size), std::move(done));
            }));
        if (!m_broken)
            m_bytes += size;
        return !m_broken;
    }

    bool started() const override { return m_started; }

private:
    static bool ok(const beast::error_code& error) { return !error; }

    template <class Message>
    void fill(Message& message, const Headers& headers) {
        for (const auto& [name, value] : protective())
            message.set(name, value);
        for (const auto& [name, value] : headers)
            message.set(name, value);
        message.keep_alive(m_keepAlive);
    }

    // Starts an operation on the client with its deadline and waits for its end.
    template <class Start>
    beast::error_code await(std::chrono::seconds deadline, Start start) {
        beast::error_code outcome = net::error::operation_aborted;
        m_stream->expires_after(deadline);
        start([&outcome](beast::error_code error, std::size_t) { outcome = error; });
        m_context.restart();
        m_context.run();
        return outcome;
    }

    void serve() {
        beast::flat_buffer buffer;
        for (;;) {
            http::request_parser<http::empty_body> parser;
            parser.header_limit(static_cast<std::uint32_t>(m_limits.header));
            const auto error = await(m_limits.request, [&](auto done) {
                http::async_read_header(*m_stream, buffer, parser, std::move(done));
            });
            const auto began = Clock::now();
            if (error == http::error::end_of_stream || error == beast::error::timeout ||
                error == net::error::operation_aborted || error == net::error::connection_reset)
                break;  // gone, idle too long, or ended by the server
            reset();
            auto& request = parser.get();
            if (error) {
                m_keepAlive = false;
                const bool tooLarge = error == http::error::header_limit ||
                                      error == http::error::buffer_overflow;
                refuse(tooLarge ? 431 : 400, tooLarge ? "The request's header is too large."
                                                      : "The request is malformed.");
                record("-", "-", began);
                break;
            }
            m_version = request.version();
            m_keepAlive = request.keep_alive();
            const std::string method(request.method_string());
            const std::string target(request.target());
            m_head = request.method() == http::verb::head;
            const bool body = parser.chunked() || parser.content_length().value_or(0) > 0;
            if (body) {
                m_keepAlive = false;  // its body is not read: nothing after it can be
                refuse(request.method() == http::verb::get || m_head ? 413 : 405,
                       "A request may not carry a body here.");
            } else if (request.method() != http::verb::get && !m_head) {
                refuse(405, "Only GET and HEAD are answered: nothing here changes anything.");
            } else {
                handle(Request{method, target});
            }
            record(method, target, began);
            if (m_broken || !m_keepAlive)
                break;
        }
        beast::error_code ignored;
        m_stream->socket().shutdown(tcp::socket::shutdown_both, ignored);
        m_stream->close();
    }

    void handle(const Request& request) {
        try {
            m_handler(request, *this);
        } catch (const std::exception&) {
            // Nothing the handler does should throw; if it did, the client hears of it.
            if (!m_started)
                refuse(500, "The page could not be made.");
            m_broken = true;
        }
        if (!m_started)
            refuse(500, "The page could not be made.");
        if (m_streaming && !m_head && m_bytes != m_length)
            m_broken = true;  // ended short: the client must see it incomplete
    }

    void refuse(int status, const std::string& why) {
        Headers headers = {{"Content-Type", "text/plain; charset=utf-8"}};
        if (status == 405)
            headers.emplace_back("Allow", "GET, HEAD");
        send(status, headers, std::to_string(status) + " " + statusText(status) + "\n" + why + "\n");
    }

    void reset() {
        m_status = 0;
        m_bytes = 0;
        m_length = 0;
        m_started = m_streaming = m_head = false;
        m_version = 11;
        m_keepAlive = true;
    }

    void record(const std::string& method, const std::string& target, Clock::time_point began) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count();
        m_log(client::escapeControls(method) + " " + client::escapeControls(target) + " " +
              std::to_string(m_status) + " " + std::to_string(m_bytes) + " bytes " +
              std::to_string(ms) + " ms" + (m_broken ? " (cut off)" : ""));
    }

    const Limits& m_limits;
    const Handler& m_handler;
    const LogLine& m_log;
    net::io_context m_context{1};
    std::optional<beast::tcp_stream> m_stream;
    std::thread m_thread;
    std::atomic<bool> m_finished{false};

    // The request being answered.
    unsigned m_version = 11;
    bool m_keepAlive = true;
    bool m_head = false;
    bool m_started = false;
    bool m_streaming = false;
    bool m_broken = false;
    int m_status = 0;
    std::uint64_t m_length = 0;
    std::uint64_t m_bytes = 0;
};

class Listener {
public:
    Listener(const Limits& limits, const Handler& handler, const LogLine& log)
        : m_limits(limits), m_handler(handler), m_log(log) {}

    Expected<std::string> open(const Listen& listen) {
        beast::error_code error;
        const auto address = net::ip::make_address(listen.address, error);
        if (error)
            return client::hostError(client::quoteName(listen.address) + " is no IP address");
        const tcp::endpoint endpoint(address, listen.port);
        m_acceptor.open(endpoint.protocol(), error);
#ifndef _WIN32
        // Restarted at once, it takes its port back from the connections of its last run. (On
        // Windows the same option would let another program take a port that is in use.)
        if (!error)
            m_acceptor.set_option(net::socket_base::reuse_address(true), error);
#endif
        if (!error)
            m_acceptor.bind(endpoint, error);
        if (!error)
            m_acceptor.listen(net::socket_base::max_listen_connections, error);
        if (error)
            return client::hostError("cannot listen on " + listen.address + ":" +
                                     std::to_string(listen.port) + ": " + error.message());
        const auto bound = m_acceptor.local_endpoint();
        const std::string host = bound.address().is_v6() ? "[" + bound.address().to_string() + "]"
                                                         : bound.address().to_string();
        return "http://" + host + ":" + std::to_string(bound.port()) + "/";
    }

    void run() {
        m_signals.async_wait([this](const beast::error_code& error, int) {
            if (!error) {
                beast::error_code ignored;
                m_acceptor.close(ignored);
                m_retry.cancel();
            }
        });
        accept();
        m_context.run();
        for (auto& connection : m_connections)
            connection->end();
        for (auto& connection : m_connections)
            connection->join();
        m_connections.clear();
    }

private:
    void accept() {
        auto connection = std::make_unique<Connection>(m_limits, m_handler, m_log);
        auto& context = connection->context();
        m_acceptor.async_accept(context, [this, connection = std::move(connection)](
                                             const beast::error_code& error,
                                             net::basic_stream_socket<tcp, net::io_context::executor_type>
                                                 socket) mutable {
            if (error == net::error::operation_aborted || !m_acceptor.is_open())
                return;
            if (error) {
                // Out of descriptors, say: try again shortly rather than spin.
                m_log("cannot take a connection: " + error.message());
                m_retry.expires_after(std::chrono::milliseconds(100));
                m_retry.async_wait([this](const beast::error_code& e) {
                    if (!e)
                        accept();
                });
                return;
            }
            reap();
            if (m_connections.size() >= m_limits.connections) {
                static const std::string busy =
                    "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nRetry-After: 5\r\n"
                    "Content-Type: text/plain; charset=utf-8\r\nContent-Length: 17\r\n\r\n"
                    "Too many clients\n";
                beast::error_code ignored;
                net::write(socket, net::buffer(busy), ignored);
                socket.shutdown(tcp::socket::shutdown_both, ignored);
                m_log("- - 503 17 bytes 0 ms (" + std::to_string(m_connections.size()) +
                      " clients already)");
            } else {
                connection->begin(tcp::socket(std::move(socket)));
                m_connections.push_back(std::move(connection));
            }
            accept();
        });
    }

    // Joins the threads of the connections that ended.
    void reap() {
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if ((*it)->finished()) {
                (*it)->join();
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }

    const Limits& m_limits;
    const Handler& m_handler;
    const LogLine& m_log;
    net::io_context m_context{1};
    tcp::acceptor m_acceptor{m_context};
    net::signal_set m_signals{m_context, SIGINT, SIGTERM};
    net::steady_timer m_retry{m_context};
    std::list<std::unique_ptr<Connection>> m_connections;
};

}  // namespace

std::string statusText(int status) {
    return std::string(http::obsolete_reason(static_cast<http::status>(status)));
}

Expected<void> serve(const Listen& listen, const Limits& limits, const Handler& handler,
                     const LogLine& log, const std::function<void(const std::string&)>& serving) {
    Listener listener(limits, handler, log);
    auto url = listener.open(listen);
    if (!url.hasValue())
        return url.error();
    serving(url.value());
    listener.run();
    return {};
}

}  // namespace rvk::web
