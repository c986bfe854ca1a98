// rvk serve against psql on one throwaway cluster: the first and the last page of a history of
// 10,000 commits, asked for over loopback as a browser asks (each a new connection, timed from
// connecting to the last byte: the server's time and a loopback round trip), and the download of
// a 300 MiB drawing, which rvk serve reads twice (checked whole, then sent), against psql's
// \lo_export of the same bytes from a large object (the server's own way out for large values).
// The history is one real push of the drawing and 9,999 commits written into the tables by the
// superuser, each changing a drawing of 500, with a label every 500 commits.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "BenchSupport.h"
#include "CompareSupport.h"

extern char** environ;

namespace contest {

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kCommits = 10000;
constexpr std::uint64_t kDrawingBytes = std::uint64_t{300} << 20;

// rvk serve in the background on a free port of the loopback address, its log in a file;
// stopped as Ctrl-C stops it when this goes.
class Serving {
public:
    Serving(const std::string& conninfo, const std::string& log) {
        std::vector<std::string> args = {RVK_BINARY, "serve", conninfo, "--listen",
                                         "127.0.0.1:0"};
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int spawned = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            throw std::runtime_error("cannot run rvk serve");
        for (int i = 0; i < 200 && m_port == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::ifstream in(log);
            const std::string text((std::istreambuf_iterator<char>(in)), {});
            const auto at = text.find(" on http://127.0.0.1:");
            if (at != std::string::npos)
                m_port = static_cast<unsigned short>(std::atoi(text.c_str() + at + 21));
        }
        if (m_port == 0)
            throw std::runtime_error("rvk serve did not start; see " + log);
    }
    ~Serving() {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    unsigned short port() const { return m_port; }

private:
    pid_t m_pid = 0;
    unsigned short m_port = 0;
};

// One GET over a new loopback connection, read to its end, its body into `sink` when given:
// the milliseconds from connecting to the last byte, the status and the bytes that came.
struct Fetched {
    double milliseconds = 0;
    int status = 0;
    std::uint64_t bytes = 0;
};

Fetched get(unsigned short port, const std::string& target, std::FILE* sink = nullptr) {
    const auto start = Clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to rvk serve");
    const std::string request = "GET " + target + " HTTP/1.0\r\nHost: bench\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size()))
        throw std::runtime_error("cannot send a request to rvk serve");
    Fetched fetched;
    std::string head;
    bool inBody = false;
    static char buffer[1 << 20];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        const char* data = buffer;
        std::size_t size = static_cast<std::size_t>(n);
        if (!inBody) {
            head.append(data, size);
            const auto end = head.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            inBody = true;
            fetched.status = std::atoi(head.c_str() + head.find(' ') + 1);
            data = head.data() + end + 4;
            size = head.size() - end - 4;
        }
        fetched.bytes += size;
        if (sink != nullptr && std::fwrite(data, 1, size, sink) != size)
            throw std::runtime_error("cannot write a download");
    }
    ::close(fd);
    fetched.milliseconds = millisecondsSince(start);
    return fetched;
}

// A drawing of `bytes` bytes that no store can compress.
void writeDrawing(const fs::path& path, std::uint64_t bytes) {
    std::string block(1 << 20, '\0');
    std::uint64_t x = 0x2545F4914F6CDD1Dull;
    std::ofstream out(path, std::ios::binary);
    for (std::uint64_t written = 0; written < bytes; written += block.size()) {
        for (char& c : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            c = static_cast<char>(x);
        }
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
}

}  // namespace

void compareWeb(const Options& options, std::vector<Row>& rows) {
    bench_support::ScratchDir dir("rvk-compare-web");
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    const std::string base = dir.path().string(), src = base + "/src", db = "web";
    std::printf("web: a history of %llu commits and a drawing of 300 MiB...\n",
                static_cast<unsigned long long>(kCommits));
    std::fflush(stdout);
    const ThrowawayServer server(base + "/pg");
    const auto psql = [&](const std::string& user, const std::string& sql) {
        return mustRun({"psql", "-X", "-q", "-At", server.conninfo(user, db), "-c", sql}, true);
    };
    mustRun({"psql", "-X", "-q", server.conninfo("postgres", "postgres"), "-c",
             "CREATE DATABASE " + db + " OWNER admin"});
    mustRun({RVK_BINARY, "remote", "create", server.conninfo("admin", db)});
    fs::create_directories(src);
    writeDrawing(src + "/big.dwg", kDrawingBytes);
    mustRun({RVK_BINARY, "init"}, false, src.c_str());
    mustRun({RVK_BINARY, "stage", "big.dwg"}, false, src.c_str());
    mustRun({RVK_BINARY, "commit", "-m", "The big one"}, false, src.c_str());
    mustRun({RVK_BINARY, "remote", "set", server.conninfo("drafter1", db)}, false, src.c_str());
    mustRun({RVK_BINARY, "push"}, false, src.c_str());
    const std::string n = std::to_string(kCommits);
    psql("postgres",
         "BEGIN;"
         "INSERT INTO rvk.copies SELECT 'bench/' || i, encode(sha256(int8send(i)), 'hex'), "
         "  20000 + i FROM generate_series(2, " + n + ") i;"
         "INSERT INTO rvk.commits (id, parent, time, message, author, digest) "
         "  SELECT i, i - 1, 1700000000 + 60 * i, 'Sheet ' || i % 500 || ' revised', "
         "         CASE WHEN i % 3 = 0 THEN 'drafter2' ELSE 'drafter1' END, repeat('0', 64) "
         "  FROM generate_series(2, " + n + ") i;"
         "INSERT INTO rvk.changes SELECT i, 'sheets/sheet-' || i % 500 || '.dwg', 'bench/' || i, "
         "  encode(sha256(int8send(i)), 'hex') FROM generate_series(2, " + n + ") i;"
         "INSERT INTO rvk.labels (name, commit_id, author) SELECT 'Rev ' || i / 500, i, "
         "  'drafter1' FROM generate_series(500, " + n + ", 500) i;"
         "UPDATE rvk.head SET id = " + n + ";"
         "COMMIT; ANALYZE;");
    const Serving serving(server.conninfo("reader", db), base + "/serve.log");
    const std::string lastPage =
        "/history/" + std::to_string((kCommits + 49) / 50);
    for (const std::string& target : {std::string("/"), lastPage})
        if (get(serving.port(), target).status != 200)
            throw std::runtime_error("rvk serve did not answer " + target);

    std::vector<double> firstMs, lastMs;
    for (int round = 0; round < std::max(options.rounds, 7) * 3; ++round) {
        firstMs.push_back(get(serving.port(), "/").milliseconds);
        lastMs.push_back(get(serving.port(), lastPage).milliseconds);
    }

    // The same bytes as a large object, for psql to export.
    const Outcome imported = mustRun({"psql", "-X", "-At", server.conninfo("drafter1", db), "-c",
                                      "\\lo_import " + src + "/big.dwg"},
                                     true);
    const std::string oid = imported.output.substr(imported.output.find(' ') + 1);
    const std::string exportOid = oid.substr(0, oid.find('\n'));
    std::vector<double> oursMs, psqlMs;
    const int downloads = options.quick ? 3 : 5;
    for (int round = 0; round < downloads; ++round) {
        std::FILE* out = std::fopen((base + "/ours.bin").c_str(), "wb");
        const Fetched fetched = get(serving.port(), "/download/1/big.dwg", out);
        std::fclose(out);
        if (fetched.status != 200 || fetched.bytes != kDrawingBytes)
            throw std::runtime_error("rvk serve's download of big.dwg is incomplete");
        oursMs.push_back(fetched.milliseconds);
        psqlMs.push_back(
            psql("drafter1", "\\lo_export " + exportOid + " " + base + "/psql.bin").milliseconds);
        fs::remove(base + "/ours.bin");
        fs::remove(base + "/psql.bin");
    }

    const double first = median(firstMs), last = median(lastMs);
    rows.push_back({"rvk serve: history page 1 of 10,000 commits", format("%.1f ms", first), "",
                    "", "<= 50 ms", first <= 50});
    rows.push_back({"rvk serve: history page 200 of 10,000 commits (the last)",
                    format("%.1f ms", last), format("%.1f ms", first),
                    format("%.2fx", last / first), "<= 50 ms, and <= 2x page 1",
                    last <= 50 && last <= 2 * first});
    const double mib = static_cast<double>(kDrawingBytes >> 20);
    const double ours = mib / (median(oursMs) / 1000), peer = mib / (median(psqlMs) / 1000);
    rows.push_back({"rvk serve: download of a 300 MiB drawing vs psql \\lo_export",
                    format("%.0f MiB/s", ours), format("%.0f MiB/s", peer),
                    format("%.2fx", ours / peer), ">= psql's rate", ours >= peer});
}

}  // namespace contest
