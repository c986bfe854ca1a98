// rvk serve: the shared history as web pages, read-only, for anyone in the office with a browser.
// The pages and the HTTP side live in web/; this command only reads its arguments and says where
// it serves.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "Commands.h"
#include "web/Http.h"
#include "web/Site.h"

namespace rvk {

namespace {

// Lines on stderr from any thread, each written whole.
class ServeLog final : public client::Reporter {
public:
    void line(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    void note(const ErrorMessage& note) override {
        line("rvk serve: " + escapeControls(utf8(note.message)));
    }

private:
    std::mutex m_mutex;
};

// ADDRESS:PORT, the address of IPv6 in brackets ("[::1]:8080").
web::Listen parseListen(const std::string& text) {
    const auto bad = [&] {
        return BadUsage{"serve: " + quoteName(text) +
                        " is no ADDRESS:PORT (such as 127.0.0.1:8080 or [::1]:8080)"};
    };
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() ||
        text.size() - colon - 1 > 5)
        throw bad();
    web::Listen listen;
    listen.address = text.substr(0, colon);
    if (listen.address.size() > 2 && listen.address.front() == '[' && listen.address.back() == ']')
        listen.address = listen.address.substr(1, listen.address.size() - 2);
    unsigned long port = 0;
    for (const char c : text.substr(colon + 1)) {
        if (c < '0' || c > '9')
            throw bad();
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (port > 65535)
        throw bad();
    listen.port = static_cast<unsigned short>(port);
    return listen;
}

}  // namespace

int serve(const std::vector<std::string>& args, const Session&) {
    const Arguments parsed = parseArguments("serve", args, {}, {"--listen"});
    if (parsed.operands.size() != 1)
        throw BadUsage{"serve: give the CONNINFO of the shared history"};
    const web::Listen listen =
        parsed.has("--listen") ? parseListen(parsed.options.at("--listen")) : web::Listen{};
    ServeLog log;
    const web::LogLine logLine = [&log](const std::string& text) { log.line(text); };
    web::Site site(parsed.operands[0], log, logLine);
    const std::string role = orFail(site.check());
    orFail(web::serve(listen, web::Limits{}, std::ref(site), logLine, [&](const std::string& url) {
        log.line("rvk serve: the shared history, as " + quoteName(role) + " reads it, on " + url +
                 " (Ctrl-C stops it)");
    }));
    log.line("rvk serve: stopped");
    return 0;
}

}  // namespace rvk
