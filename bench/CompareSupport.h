// What the contests of the comparison program share: running a contender and timing it, the
// table's rows, the options, and a throwaway PostgreSQL cluster for the contests of a shared
// history.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace contest {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start);
double median(std::vector<double> values);

struct Outcome {
    int status = -1;
    std::string output;
    double milliseconds = 0;
};

// Runs `args` with its standard output captured (or thrown away) and its standard error passed
// through; the time is from the spawn to the end of the child.
Outcome run(const std::vector<std::string>& args, bool capture, const char* folder = nullptr);
// The same, throwing when the child fails.
Outcome mustRun(const std::vector<std::string>& args, bool capture = false,
                const char* folder = nullptr);

// `value` through the printf format `fmt`.
std::string format(const char* fmt, double value);

struct Row {
    std::string measure;
    std::string ours;
    std::string peer;
    std::string ratio;
    std::string target;
    bool met;
};

struct Options {
    int rounds = 7;
    bool quick = false;
    std::string only;  // one contest by name, or all
    std::string self;
};

// A PostgreSQL cluster of its own in `folder` (scripts/pg-server.sh), with the logins admin,
// drafter1, drafter2 (writers), reader and the superuser postgres; stopped when this goes.
class ThrowawayServer {
public:
    explicit ThrowawayServer(std::string folder);
    ~ThrowawayServer();
    ThrowawayServer(const ThrowawayServer&) = delete;
    ThrowawayServer& operator=(const ThrowawayServer&) = delete;
    // The connection string of `user` to the database `db`.
    std::string conninfo(const std::string& user, const std::string& db) const;

private:
    std::string m_folder;
    std::string m_port;
};

// rvk serve against psql: pages of a long history, and a large download.
void compareWeb(const Options& options, std::vector<Row>& rows);

}  // namespace contest
