// Side by side with peer tools, on the same generated data in one run: `rvk status` against `git
// status` on clean trees of 20,000 and 100,000 committed files and of 20,000 files with 512 MiB of
// generic files, on a clean copy of this machine's /usr/share and /usr/include (links included),
// and on 20,000 and 500,000 untracked files against `git status -uall`, with peak memory; the
// library's working-tree scan of 100,000 files against `find -type f` and `git status` (every file
// untracked; in full runs also every file tracked), its state read and write-back against
// nlohmann-json and RapidJSON reading, parsing, pretty-printing and atomically replacing (write,
// fsync, rename) a file of the same document, its
// modification test on a 1 GiB file against `openssl dgst -sha256`, staging 100,000 candidates
// against fixed budgets, and `rvk push` and `rvk clone` of 2,000 files (1.5 GiB, a quarter
// drawings) through a throwaway PostgreSQL cluster against `git push` to a bare repository and
// `git clone` from it, with psql's import and export of the same bytes as the server's floor and
// the bytes a push of one changed drawing sends, and `rvk serve`'s history pages of a 10,000-commit
// history and its download of a 300 MiB drawing against psql's \lo_export (CompareWeb.cpp).
//
// Each round runs every contender once, in turn, so that a change in the machine's load hits all
// of them alike; the table shows medians over the rounds and the ratios between them.
//
//   rvk_compare [--quick] [--rounds N] [--only scan|state|staging|hashing|sharing|web|status]
//
// --quick runs three rounds and hashes a 256 MiB file instead of 1 GiB (the hashing target is then
// only indicative). The program also runs itself as a child ("scan-once DIR", "visit-once DIR",
// "hash-once DIR URL") so that the scan and the hashing are measured as the first call in a fresh
// process, where nothing is warm but the file system cache.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

// The peers, for this program only.
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <nlohmann/json.hpp>

#include "BenchSupport.h"
#include "CompareSupport.h"

#include <common/Cache.h>
#include <common/ContentHash.h>
#include <common/StagingExplorer.h>
#include <common/WorkingTreeScan.h>
#include <common/internal/StateFile.h>

extern char** environ;

namespace contest {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

Outcome run(const std::vector<std::string>& args, bool capture, const char* folder) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (folder != nullptr)
        posix_spawn_file_actions_addchdir_np(&actions, folder);
    if (capture) {
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    Outcome outcome;
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (capture)
        ::close(pipeFds[1]);
    if (spawned != 0) {
        if (capture)
            ::close(pipeFds[0]);
        throw std::runtime_error("cannot run " + args[0] + ": " + std::strerror(spawned));
    }
    if (capture) {
        char buffer[65536];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            outcome.output.append(buffer, static_cast<std::size_t>(n));
        ::close(pipeFds[0]);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.milliseconds = millisecondsSince(start);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

Outcome mustRun(const std::vector<std::string>& args, bool capture,
                const char* folder) {
    Outcome outcome = run(args, capture, folder);
    if (outcome.status != 0)
        throw std::runtime_error(args[0] + " " + (args.size() > 1 ? args[1] : "") + " failed");
    return outcome;
}

std::string format(const char* fmt, double value) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

ThrowawayServer::ThrowawayServer(std::string folder) : m_folder(std::move(folder)) {
    mustRun({"bash", RVK_PG_SERVER, "start", m_folder}, true);
    std::ifstream in(m_folder + "/port");
    in >> m_port;
}

ThrowawayServer::~ThrowawayServer() {
    run({"bash", RVK_PG_SERVER, "stop", m_folder}, false);
}

std::string ThrowawayServer::conninfo(const std::string& user, const std::string& db) const {
    return "host=" + m_folder + " port=" + m_port + " user=" + user + " dbname=" + db;
}

}  // namespace contest

namespace {

using namespace contest;
namespace fs = std::filesystem;
using bench_support::ScratchDir;

std::size_t countLines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A field of /proc/self/status in kilobytes ("VmRSS", "VmHWM"), or -1.
long statusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(field) + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::atol(line.c_str() + prefix.size());
    }
    return -1;
}

// Resets the peak resident size to the current one. getrusage's ru_maxrss cannot be reset, and in
// a spawned child it starts from the parent's peak, so the peak is read from /proc instead.
void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

class QuietIo : public common::IoInterface {
public:
    int check(const OdString&) const override { return 1; }
    void report(Expected<void> outcome) const override { failed = failed || !outcome.hasValue(); }
    mutable bool failed = false;
};

// --- children: one measured call in a fresh process -------------------------------------------

// Prints "<milliseconds> <files listed>".
int scanOnce(const char* folder) {
    const auto root = common::RootPath::get(OdString(folder, kCodePageUtf8), false);
    if (!root.hasValue())
        return 2;
    const auto start = Clock::now();
    const auto files = common::collectRelPaths(root.value());
    const double elapsed = millisecondsSince(start);
    if (!files.hasValue())
        return 3;
    std::printf("%.3f %zu\n", elapsed, files.value().size());
    return 0;
}

// The same walk with each path handed to a visitor and dropped, as rvk status takes it: prints
// "<milliseconds> <files listed>". Beside scanOnce() it shows what building the records costs.
int visitOnce(const char* folder) {
    const auto root = common::RootPath::get(OdString(folder, kCodePageUtf8), false);
    if (!root.hasValue())
        return 2;
    std::size_t listed = 0;
    const auto start = Clock::now();
    const auto walked =
        common::visitRelPaths(root.value(), [&](const OdString& path) { listed += !path.isEmpty(); });
    const double elapsed = millisecondsSince(start);
    if (!walked.hasValue())
        return 3;
    std::printf("%.3f %zu\n", elapsed, listed);
    return 0;
}

// Prints "<milliseconds> <peak resident kilobytes above the baseline> <modified>".
int hashOnce(const char* folder, const char* url) {
    const auto root = common::RootPath::get(OdString(folder, kCodePageUtf8), false);
    if (!root.hasValue())
        return 2;
    const OdString relative = L"large.bin", storageUrl(url, kCodePageUtf8);
    resetPeakResident();
    const long baseline = statusKilobytes("VmRSS");
    const auto start = Clock::now();
    const auto modified = common::isModified(relative, storageUrl, root.value());
    const double elapsed = millisecondsSince(start);
    const long peak = statusKilobytes("VmHWM");
    if (!modified.hasValue())
        return 3;
    std::printf("%.3f %ld %d\n", elapsed, peak - baseline, modified.value() ? 1 : 0);
    return 0;
}

// --- the table ---------------------------------------------------------------------------------

std::string uptime() {
    try {
        std::string text = mustRun({"uptime"}, true).output;
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text;
    } catch (const std::exception&) {
        return "(uptime not available)";
    }
}

void printTable(const std::vector<Row>& rows) {
    std::size_t widths[5] = {7, 4, 4, 5, 6};
    for (const Row& row : rows) {
        widths[0] = std::max(widths[0], row.measure.size());
        widths[1] = std::max(widths[1], row.ours.size());
        widths[2] = std::max(widths[2], row.peer.size());
        widths[3] = std::max(widths[3], row.ratio.size());
        widths[4] = std::max(widths[4], row.target.size());
    }
    auto line = [&](const std::string& a, const std::string& b, const std::string& c,
                    const std::string& d, const std::string& e, const std::string& f) {
        std::printf("| %-*s | %*s | %*s | %*s | %-*s | %-4s |\n", static_cast<int>(widths[0]),
                    a.c_str(), static_cast<int>(widths[1]), b.c_str(), static_cast<int>(widths[2]),
                    c.c_str(), static_cast<int>(widths[3]), d.c_str(), static_cast<int>(widths[4]),
                    e.c_str(), f.c_str());
    };
    line("measure", "ours", "peer", "ratio", "target", "met");
    line(std::string(widths[0], '-'), std::string(widths[1], '-'), std::string(widths[2], '-'),
         std::string(widths[3], '-'), std::string(widths[4], '-'), "----");
    for (const Row& row : rows)
        line(row.measure, row.ours, row.peer, row.ratio, row.target, row.met ? "yes" : "NO");
}

// --- the contests ------------------------------------------------------------------------------

void compareScan(const Options& options, std::vector<Row>& rows) {
    constexpr std::size_t kFiles = 100000;
    ScratchDir dir("rvk-compare-scan");
    std::printf("scan: generating %zu files in 5,000 folders...\n", kFiles);
    std::fflush(stdout);
    const std::size_t listed = bench_support::makeTree(dir.path(), kFiles);
    const std::string folder = dir.path().string();
    // git sees the same names refused as the built-in rules refuse; nothing is committed, so it
    // lists every file as untracked, as the scan lists every file as a candidate.
    bench_support::writeBytes(dir.path() / ".gitignore", "*.bak\n*.dwl\n*.dwl2\n");
    mustRun({"git", "-C", folder, "init", "-q"});
    mustRun({"git", "-C", folder, "config", "core.untrackedCache", "false"});

    const std::vector<std::string> ours = {options.self, "scan-once", folder};
    const std::vector<std::string> visiting = {options.self, "visit-once", folder};
    const std::vector<std::string> find = {"find", folder, "-type", "f"};
    const std::vector<std::string> git = {"git",    "-C",          folder,
                                          "status", "--porcelain", "--untracked-files=all"};

    // Warm the caches, and check that everyone lists what was made.
    const Outcome first = mustRun(ours, true);
    const std::size_t ourCount = std::stoul(first.output.substr(first.output.find(' ') + 1));
    const std::size_t gitCount = countLines(mustRun(git, true).output) - 1;  // less .gitignore
    const std::size_t findCount = countLines(mustRun(find, true).output);
    std::printf("scan: listed by us %zu (expected %zu), by git %zu, by find %zu (all files)\n",
                ourCount, listed, gitCount, findCount);
    const Outcome visited = mustRun(visiting, true);
    if (ourCount != listed ||
        std::stoul(visited.output.substr(visited.output.find(' ') + 1)) != listed)
        throw std::runtime_error("the scan did not list the generated files");

    std::vector<double> oursMs, oursWarmMs, visitMs, findMs, gitMs;
    const auto root = common::RootPath::get(dir.od(), false).value();
    for (int round = 0; round < options.rounds; ++round) {
        oursMs.push_back(std::stod(mustRun(ours, true).output));
        findMs.push_back(mustRun(find).milliseconds);
        gitMs.push_back(mustRun(git).milliseconds);
        visitMs.push_back(std::stod(mustRun(visiting, true).output));
        const auto start = Clock::now();
        const auto files = common::collectRelPaths(root);
        oursWarmMs.push_back(millisecondsSince(start));
    }
    // git's everyday case, every file tracked and unchanged: an index to compare against, one
    // lstat per file. Only in full runs: committing 100,000 files takes a while.
    std::vector<double> oursAgainTrackedMs, gitTrackedMs;
    if (!options.quick) {
        mustRun({"git", "-C", folder, "add", "-A"});
        mustRun({"git", "-C", folder, "-c", "user.name=bench", "-c", "user.email=bench@localhost",
                 "commit", "-q", "-m", "generated tree"});
        mustRun(git);
        for (int round = 0; round < options.rounds; ++round) {
            oursAgainTrackedMs.push_back(std::stod(mustRun(ours, true).output));
            gitTrackedMs.push_back(mustRun(git).milliseconds);
        }
    }
    const double o = median(oursMs), w = median(oursWarmMs), f = median(findMs), g = median(gitMs);
    rows.push_back({"scan 100k files (the call, fresh process) vs find -type f",
                    format("%.1f ms", o), format("%.1f ms", f), format("%.2fx", o / f), "<= 1.25x",
                    o / f <= 1.25});
    rows.push_back({"scan 100k files (the call, fresh process) vs git status -uall",
                    format("%.1f ms", o), format("%.1f ms", g), format("%.2fx", o / g),
                    "< 1x (clearly)", o / g < 0.8});
    if (!gitTrackedMs.empty()) {
        const double a = median(oursAgainTrackedMs), t = median(gitTrackedMs);
        rows.push_back({"scan 100k files (the call, fresh process) vs git status, tracked",
                        format("%.1f ms", a), format("%.1f ms", t), format("%.2fx", a / t),
                        "(information)", true});
    }
    rows.push_back({"scan 100k files, repeated in one process, vs find -type f",
                    format("%.1f ms", w), format("%.1f ms", f), format("%.2fx", w / f),
                    "(information)", true});
    // The walk alone: the difference to the first row is the records and their wide paths, new
    // memory in a fresh process, page by page.
    const double v = median(visitMs);
    rows.push_back({"scan 100k files, paths handed to a visitor (fresh process) vs find",
                    format("%.1f ms", v), format("%.1f ms", f), format("%.2fx", v / f),
                    "(information)", true});

    // Rules that are no plain ending, so every name meets the pattern matcher three times.
    bench_support::writeBytes(dir.path() / ".rvk" / "properties" / "ignore",
                              "^.*\\.(bak|tmp)$\n^~\\$.*\n^[0-9]+\\.sv\\$$\n");
    std::vector<double> rulesMs, rulesFindMs;
    for (int round = 0; round < options.rounds; ++round) {
        rulesMs.push_back(std::stod(mustRun(ours, true).output));
        rulesFindMs.push_back(mustRun(find).milliseconds);
    }
    const double r = median(rulesMs), rf = median(rulesFindMs);
    rows.push_back({"scan 100k files, three pattern ignore rules (fresh process) vs find",
                    format("%.1f ms", r), format("%.1f ms", rf), format("%.2fx", r / rf),
                    "(information)", true});
}

void compareState(const Options& options, std::vector<Row>& rows) {
    constexpr std::size_t kStaged = 100000;
    ScratchDir dir("rvk-compare-state");
    const fs::path folder = dir.path() / ".rvk";
    fs::create_directories(folder);
    const auto root = common::RootPath::get(dir.od(), false).value();
    if (!common::writeState(bench_support::makeState(kStaged), root.statePath()).hasValue())
        throw std::runtime_error("cannot write the state file");
    // Every contender does the same file work, each on its own copy of the one document in the
    // same folder: the whole file read from the disk, then its new text written to a temporary
    // file beside it, flushed to the disk, renamed over the file and the folder flushed, which is
    // what the Cache's write-back does (ut::writeFileAtomically, permissions kept). Each reads
    // back in the next round what it wrote, as it would its own state file.
    const fs::path ourFile = folder / "rvk.state";
    const fs::path nlohmannFile = folder / "nlohmann.state";
    const fs::path rapidFile = folder / "rapidjson.state";
    fs::copy_file(ourFile, nlohmannFile);
    fs::copy_file(ourFile, rapidFile);
    std::printf("state: %zu staged files, %.1f MB document\n", kStaged,
                static_cast<double>(fs::file_size(ourFile)) / 1e6);

    auto readFile = [](const fs::path& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat status;
        if (fd < 0 || ::fstat(fd, &status) != 0)
            throw std::runtime_error("cannot open " + path.string());
        std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
        std::size_t done = 0;
        for (ssize_t n;
             done < bytes.size() && (n = ::read(fd, &bytes[done], bytes.size() - done)) > 0;) {
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
        if (done != bytes.size())
            throw std::runtime_error("cannot read " + path.string());
        return bytes;
    };
    auto replaceFile = [](const fs::path& path, const char* data, std::size_t size) {
        const std::string temporary = (path.parent_path() / ("." + path.filename().string() +
                                                             ".tmp-" + std::to_string(::getpid())))
                                          .string();
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            throw std::runtime_error("cannot create " + temporary);
        struct stat old;
        if (::stat(path.c_str(), &old) == 0)
            ::fchmod(fd, old.st_mode & 07777);
        bool ok = true;
        for (std::size_t done = 0; ok && done < size;) {
            const ssize_t n = ::write(fd, data + done, size - done);
            ok = n > 0;
            done += ok ? static_cast<std::size_t>(n) : 0;
        }
        ok = ok && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
        if (!ok)
            throw std::runtime_error("cannot replace " + path.string());
        const int folderFd = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd >= 0) {
            ::fsync(folderFd);
            ::close(folderFd);
        }
    };

    QuietIo io;
    auto ours = [&] {
        auto cache = common::Cache::get(root, false, io);
        if (!cache.hasValue() || cache.value().read().stagedFiles.size() != kStaged)
            throw std::runtime_error("the state did not load");
        cache.value().write();  // the Cache writes the state back as it ends
    };
    auto nlohmann = [&] {
        const auto document = nlohmann::json::parse(readFile(nlohmannFile));
        if (document.at("staged_files").size() != kStaged)
            throw std::runtime_error("nlohmann-json did not read the state");
        const std::string text = document.dump(4);
        replaceFile(nlohmannFile, text.data(), text.size());
    };
    auto rapid = [&] {
        const std::string bytes = readFile(rapidFile);
        rapidjson::Document document;
        document.Parse(bytes.c_str(), bytes.size());
        if (document.HasParseError() || !document.HasMember("staged_files") ||
            document["staged_files"].Size() != kStaged)
            throw std::runtime_error("RapidJSON did not read the state");
        rapidjson::StringBuffer buffer;
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        writer.SetIndent(' ', 4);
        document.Accept(writer);
        replaceFile(rapidFile, buffer.GetString(), buffer.GetSize());
    };
    ours();
    nlohmann();
    rapid();
    std::vector<double> oursMs, nlohmannMs, rapidMs;
    for (int round = 0; round < options.rounds; ++round) {
        for (auto* pair : {&oursMs, &nlohmannMs, &rapidMs}) {
            const auto start = Clock::now();
            if (pair == &oursMs)
                ours();
            else if (pair == &nlohmannMs)
                nlohmann();
            else
                rapid();
            pair->push_back(millisecondsSince(start));
        }
    }
    if (io.failed)
        throw std::runtime_error("a write-back of the state failed");
    const double o = median(oursMs), n = median(nlohmannMs), r = median(rapidMs);
    rows.push_back(
        {"state 100k, file to file (read, parse, pretty-print, fsync'd replace): "
         "Cache::get + write-back vs nlohmann-json",
         format("%.1f ms", o), format("%.1f ms", n), format("%.2fx", o / n), "< 1x", o < n});
    rows.push_back({"state 100k, the same file work: Cache::get + write-back vs RapidJSON",
                    format("%.1f ms", o), format("%.1f ms", r), format("%.2fx", o / r), "<= 1x",
                    o <= r});
}

void compareHashing(const Options& options, std::vector<Row>& rows) {
    const std::uint64_t size = options.quick ? std::uint64_t{256} << 20 : std::uint64_t{1} << 30;
    const double megabytes = static_cast<double>(size) / 1e6;
    ScratchDir dir("rvk-compare-hash");
    std::printf("hash: writing a %.0f MiB file...\n", static_cast<double>(size >> 20));
    std::fflush(stdout);
    const std::string digest(64, '0');  // no content has it: the whole file must be hashed
    fs::create_directories(dir.path() / ".rvk" / "objects");
    bench_support::makeLargeFile(dir.path() / "large.bin", size);
    bench_support::setModificationTime(dir.path() / "large.bin", 1000000000);
    bench_support::writeBytes(dir.path() / ".rvk" / "objects" / digest, "");
    bench_support::setModificationTime(dir.path() / ".rvk" / "objects" / digest, 1000000001);

    const std::string folder = dir.path().string();
    const std::vector<std::string> ours = {options.self, "hash-once", folder, "po" + digest};
    const std::vector<std::string> openssl = {"openssl", "dgst", "-sha256",
                                              (dir.path() / "large.bin").string()};
    mustRun(openssl);  // warm the page cache
    std::vector<double> oursMs, opensslMs, extraKb;
    for (int round = 0; round < options.rounds; ++round) {
        const Outcome child = mustRun(ours, true);
        double ms = 0, kb = 0, modified = 0;
        std::sscanf(child.output.c_str(), "%lf %lf %lf", &ms, &kb, &modified);
        if (modified != 1)
            throw std::runtime_error("isModified did not find the file modified");
        oursMs.push_back(ms);
        extraKb.push_back(kb);
        opensslMs.push_back(mustRun(openssl).milliseconds);
    }
    const double o = megabytes / (median(oursMs) / 1000);
    const double s = megabytes / (median(opensslMs) / 1000);
    const std::string label = options.quick ? "isModified 256 MiB" : "isModified 1 GiB";
    rows.push_back({label + " vs openssl dgst -sha256 (MB/s)", format("%.0f MB/s", o),
                    format("%.0f MB/s", s), format("%.0f%%", 100 * o / s), ">= 90%", o >= 0.9 * s});
    rows.push_back({label + ": peak memory above baseline",
                    format("%.1f MiB", *std::max_element(extraKb.begin(), extraKb.end()) / 1024),
                    "", "", "(information)", true});
}

void compareStaging(const Options& options, std::vector<Row>& rows) {
    constexpr std::size_t kCandidates = 100000;
    ScratchDir dir("rvk-compare-staging");
    const auto root = common::RootPath::get(dir.od(), true).value();
    const common::RepoChanges changes = bench_support::makeChanges(kCandidates);
    const OdString name = L"plan-054321";       // a plain name: exactly one candidate has it
    const OdString pattern = L"plan-05432[1]";  // the same file, by a name that is a pattern
    std::vector<double> buildMs, stageMs, findMs, patternMs;
    for (int round = 0; round < options.rounds; ++round) {
        auto start = Clock::now();
        common::RepoFileExplorer explorer(changes, root);
        buildMs.push_back(millisecondsSince(start));
        const std::vector<common::StagedFile> candidates = explorer.possibleStageFiles();

        start = Clock::now();
        auto found = explorer.findForStaging(name);
        findMs.push_back(millisecondsSince(start));
        if (!boost::get<common::StagedFile>(&found))
            throw std::runtime_error("the plain name was not found exactly once");

        start = Clock::now();
        found = explorer.findForStaging(pattern);
        patternMs.push_back(millisecondsSince(start));
        if (!boost::get<common::StagedFile>(&found))
            throw std::runtime_error("the pattern was not found exactly once");

        start = Clock::now();
        for (const common::StagedFile& file : candidates) {
            if (!explorer.stage(file))
                throw std::runtime_error("a candidate was not staged");
        }
        stageMs.push_back(millisecondsSince(start));
    }
    const double b = median(buildMs), s = median(stageMs), f = median(findMs);
    rows.push_back({"stage all 100k candidates, one by one", format("%.1f ms", s), "", "",
                    "< 100 ms", s < 100});
    rows.push_back({"findForStaging of a plain name among 100k", format("%.2f ms", f), "", "",
                    "< 10 ms", f < 10});
    rows.push_back({"findForStaging of a pattern (plan-05432[1]) among 100k",
                    format("%.2f ms", median(patternMs)), "", "", "(information)", true});
    rows.push_back({"build an explorer of 100k candidates", format("%.1f ms", b), "", "",
                    "(information)", true});
}

// --- push and clone of a shared history against git ---------------------------------------------

// `files` files of `total` bytes in all, a quarter of them drawings, each of its own content (so
// that no store can share one copy between two of them).
void makeSharedTree(const fs::path& root, std::size_t files, std::uint64_t total) {
    const std::uint64_t each = total / files;
    std::string piece(static_cast<std::size_t>(each), '\0');
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < files; ++i) {
        for (char& c : piece) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            c = static_cast<char>(x);
        }
        char name[64];
        std::snprintf(name, sizeof name, "dir%02zu/sheet-%05zu.%s", i / 100, i,
                      i % 4 == 0 ? "dwg" : "pdf");
        if (i % 100 == 0)
            fs::create_directories((root / name).parent_path());
        bench_support::writeBytes(root / name, piece);
    }
}

// The bytes a command sends through its sockets, counted with strace.
std::int64_t bytesSent(const std::vector<std::string>& args, const std::string& folder,
                       const fs::path& log) {
    std::vector<std::string> traced = {"strace", "-f", "-qq", "-e", "trace=sendto,sendmsg",
                                       "-o", log.string()};
    traced.insert(traced.end(), args.begin(), args.end());
    mustRun(traced, false, folder.c_str());
    std::ifstream in(log);
    std::int64_t sent = 0;
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.rfind(" = ");
        if (eq != std::string::npos)
            sent += std::max<std::int64_t>(0, std::atoll(line.c_str() + eq + 3));
    }
    return sent;
}

void makeStatusTree(const fs::path& root, std::size_t files, std::size_t largeFiles, bool commit,
                    const std::vector<const char*>& copied);

// rvk status in a clone, which asks the server for the locks, against the same clone without a
// remote: the difference should be no more than one round trip to the server, whose reference
// here is psql asking for the locks (a process, a connection and a query).
void compareStatusWithRemote(const Options& options, const std::string& base,
                             const std::function<std::string(const std::string&, const std::string&)>& conn,
                             std::vector<Row>& rows) {
    constexpr std::size_t kFiles = 20000;
    std::printf("sharing: status of a clone of %zu files, with and without its remote...\n", kFiles);
    std::fflush(stdout);
    const std::string tree = base + "/status-tree", clone = base + "/status-clone",
                      alone = base + "/status-alone", db = "statusdb";
    makeStatusTree(tree, kFiles, 0, true, {});
    mustRun({"psql", "-X", "-q", conn("postgres", "postgres"), "-c",
             "CREATE DATABASE " + db + " OWNER admin"});
    mustRun({RVK_BINARY, "remote", "create", conn("admin", db)});
    mustRun({RVK_BINARY, "remote", "set", conn("drafter1", db)}, false, tree.c_str());
    mustRun({RVK_BINARY, "push"}, false, tree.c_str());
    mustRun({RVK_BINARY, "clone", conn("drafter2", db), clone});
    mustRun({"cp", "-a", clone, alone});
    mustRun({"sqlite3", alone + "/.rvk/rvk.db", "DROP TABLE remote"});
    // A lock of this role's and one of another's, so that the answer is not empty.
    mustRun({RVK_BINARY, "lock", "part00/dir0000/file-0000000.dwg"}, false, clone.c_str());
    mustRun({RVK_BINARY, "lock", "part00/dir0000/file-0000004.dwg"}, false, tree.c_str());
    const std::vector<std::string> status = {RVK_BINARY, "status"};
    for (const std::string& folder : {clone, alone})
        mustRun(status, false, folder.c_str());  // the stat caches filled
    std::vector<double> withMs, withoutMs, psqlMs;
    for (int round = 0; round < std::max(options.rounds, 7); ++round) {
        withMs.push_back(mustRun(status, false, clone.c_str()).milliseconds);
        withoutMs.push_back(mustRun(status, false, alone.c_str()).milliseconds);
        psqlMs.push_back(mustRun({"psql", "-X", "-At", conn("drafter2", db), "-c",
                                  "SELECT path, holder, taken FROM rvk.locks"})
                             .milliseconds);
    }
    const double w = median(withMs), wo = median(withoutMs), trip = median(psqlMs);
    rows.push_back({"rvk status, clean clone of 20,000 files: with its remote vs without",
                    format("%.1f ms", w), format("%.1f ms", wo),
                    format("+%.1f ms", w - wo), format("<= +%.1f ms (psql's locks)", trip),
                    w - wo <= trip});
}

void compareSharing(const Options& options, std::vector<Row>& rows) {
    const std::size_t files = options.quick ? 200 : 2000;
    const std::uint64_t total = options.quick ? std::uint64_t{150} << 20 : std::uint64_t{1536} << 20;
    ScratchDir dir("rvk-compare-share");
    // The server runs as another user when this runs as root; it must reach its folder.
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    const std::string base = dir.path().string();
    const std::string src = base + "/src";
    std::printf("sharing: writing %zu files of %.0f MiB in all, and committing them...\n", files,
                static_cast<double>(total >> 20));
    std::fflush(stdout);
    makeSharedTree(src, files, total);
    mustRun({RVK_BINARY, "init"}, false, src.c_str());
    mustRun({RVK_BINARY, "stage", "--all"}, false, src.c_str());
    mustRun({RVK_BINARY, "commit", "-m", "drawings"}, false, src.c_str());
    mustRun({"git", "-C", src, "init", "-q"});
    mustRun({"git", "-C", src, "config", "gc.auto", "0"});
    bench_support::writeBytes(dir.path() / "src" / ".git" / "info" / "exclude", ".rvk/\n");
    mustRun({"git", "-C", src, "add", "-A"});
    mustRun({"git", "-C", src, "-c", "user.name=bench", "-c", "user.email=bench@localhost",
             "commit", "-q", "-m", "drawings"});
    // The same bytes in one file, for the server's own floor.
    {
        std::ofstream all(base + "/all.bin", std::ios::binary);
        for (const auto& entry : fs::recursive_directory_iterator(src)) {
            const std::string path = entry.path().string();
            if (!entry.is_regular_file() || path.find("/.rvk/") != std::string::npos ||
                path.find("/.git/") != std::string::npos)
                continue;
            std::ifstream in(path, std::ios::binary);
            all << in.rdbuf();
        }
    }
    const ThrowawayServer server(base + "/pg");
    const auto conn = [&](const std::string& user, const std::string& db) {
        return server.conninfo(user, db);
    };
    mustRun({"sync"});

    std::vector<double> pushMs, gitPushMs, cloneMs, gitCloneMs, importMs, exportMs;
    for (int round = 0; round < options.rounds; ++round) {
        const std::string db = "share" + std::to_string(round);
        const std::string r = std::to_string(round);
        mustRun({"psql", "-X", "-q", conn("postgres", "postgres"), "-c",
                 "CREATE DATABASE " + db + " OWNER admin"});
        mustRun({RVK_BINARY, "remote", "create", conn("admin", db)});
        // A clone of no server yet: the settings of the previous round go.
        mustRun({"sqlite3", src + "/.rvk/rvk.db", "DROP TABLE IF EXISTS remote"});
        mustRun({RVK_BINARY, "remote", "set", conn("drafter1", db)}, false, src.c_str());
        pushMs.push_back(mustRun({RVK_BINARY, "push"}, false, src.c_str()).milliseconds);
        mustRun({"git", "init", "-q", "--bare", "-b", "main", base + "/bare" + r});
        gitPushMs.push_back(
            mustRun({"git", "-C", src, "push", "-q", base + "/bare" + r, "HEAD:refs/heads/main"})
                .milliseconds);
        cloneMs.push_back(
            mustRun({RVK_BINARY, "clone", conn("drafter2", db), base + "/clone" + r}).milliseconds);
        gitCloneMs.push_back(mustRun({"git", "clone", "-q", "--no-local", base + "/bare" + r,
                                      base + "/gitclone" + r})
                                 .milliseconds);
        // The floor: the same bytes into and out of the server as one large object, by psql.
        const Outcome imported = mustRun(
            {"psql", "-X", "-At", conn("drafter1", db), "-c", "\\lo_import " + base + "/all.bin"},
            true);
        importMs.push_back(imported.milliseconds);
        const std::string oid = imported.output.substr(imported.output.find(' ') + 1);
        exportMs.push_back(mustRun({"psql", "-X", "-q", conn("drafter1", db), "-c",
                                    "\\lo_export " + oid.substr(0, oid.find('\n')) + " " + base +
                                        "/out.bin"})
                               .milliseconds);
        if (round + 1 < options.rounds) {
            for (const char* gone : {"/clone", "/gitclone", "/bare"})
                fs::remove_all(base + gone + r);
            fs::remove(base + "/out.bin");
            mustRun({"psql", "-X", "-q", conn("postgres", "postgres"), "-c",
                     "DROP DATABASE " + db});
        }
    }
    // One drawing changed after that: what a push sends beyond it.
    std::string drawing;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        if (entry.path().extension() == ".dwg") {
            drawing = entry.path().string();
            break;
        }
    }
    {
        std::ofstream edit(drawing, std::ios::binary | std::ios::in | std::ios::out);
        edit.seekp(100);
        edit << "a changed line";
    }
    // A change to a drawing the server has is pushed by the holder of its lock.
    mustRun({RVK_BINARY, "lock", drawing}, false, src.c_str());
    mustRun({RVK_BINARY, "stage", "--all"}, false, src.c_str());
    mustRun({RVK_BINARY, "commit", "-m", "one drawing"}, false, src.c_str());
    const std::int64_t sent =
        bytesSent({RVK_BINARY, "push"}, src, dir.path() / "strace.log");
    const auto drawingSize = static_cast<std::int64_t>(fs::file_size(drawing));

    const std::string label = options.quick ? std::to_string(files) + " files (150 MiB)"
                                            : std::to_string(files) + " files (1.5 GiB)";
    const auto seconds = [](double ms) { return format("%.1f s", ms / 1000); };
    const double p = median(pushMs), gp = median(gitPushMs), c = median(cloneMs),
                 gc = median(gitCloneMs);
    rows.push_back({"rvk push " + label + " to an empty server vs git push to a bare repository",
                    seconds(p), seconds(gp), format("%.2fx", p / gp), "<= 1.0x", p <= gp});
    rows.push_back({"rvk clone " + label + " vs git clone --no-local", seconds(c), seconds(gc),
                    format("%.2fx", c / gc), "<= 1.0x", c <= gc});
    rows.push_back({"  the server's floor: psql \\lo_import / \\lo_export of the same bytes",
                    seconds(median(importMs)) + " / " + seconds(median(exportMs)), "", "",
                    "(information)", true});
    rows.push_back({"rvk push of one changed drawing: bytes sent beyond the drawing",
                    format("%.1f KiB", static_cast<double>(sent - drawingSize) / 1024),
                    format("%.0f KiB drawing", static_cast<double>(drawingSize) / 1024), "",
                    "< 64 KiB", sent - drawingSize < 64 * 1024});
    compareStatusWithRemote(options, base, conn, rows);
}

// --- rvk status against git status --------------------------------------------------------------

// A copy of `folders` of this machine in `root`, links kept as links, committed with rvk and git
// like a generated tree: files as a real installation has them, with their sizes, depths, names
// and symbolic links (which rvk never follows and git keeps as links).
void makeCopiedTree(const fs::path& root, const std::vector<const char*>& folders) {
    std::vector<std::string> copy = {"cp", "-a"};
    copy.insert(copy.end(), folders.begin(), folders.end());
    copy.push_back(root.string());
    mustRun(copy);
}

// A working folder of `files` files of 1 KiB in folders of 100, a quarter of them drawings, and
// `largeFiles` generic files of 64 MiB; committed with rvk and with git when `commit` is set
// (git is told to leave ".rvk" alone, as rvk never looks into ".git").
void makeStatusTree(const fs::path& root, std::size_t files, std::size_t largeFiles, bool commit,
                    const std::vector<const char*>& copied) {
    if (!copied.empty()) {
        makeCopiedTree(root, copied);
        files = 0;
    }
    std::string content(1024, 'x');
    for (std::size_t i = 0; i < files; ++i) {
        char folder[64], name[64];
        std::snprintf(folder, sizeof folder, "part%02zu/dir%04zu", i / 10000, i / 100);
        std::snprintf(name, sizeof name, "file-%07zu.%s", i, i % 4 == 0 ? "dwg" : "txt");
        if (i % 100 == 0)
            fs::create_directories(root / folder);
        std::snprintf(content.data(), content.size(), "%zu", i);  // no two alike
        bench_support::writeBytes(root / folder / name, content);
    }
    for (std::size_t i = 0; i < largeFiles; ++i) {
        fs::create_directories(root / "documents");
        bench_support::makeLargeFile(root / "documents" / ("volume-" + std::to_string(i) + ".pdf"),
                                     std::uint64_t{64} << 20);
    }
    const std::string folder = root.string();
    mustRun({RVK_BINARY, "init"}, false, folder.c_str());
    mustRun({"git", "-C", folder, "init", "-q"});
    mustRun({"git", "-C", folder, "config", "core.untrackedCache", "false"});
    // A commit of many files would start a packing in the background, which would load the
    // machine during the measurements and keep writing into the folder while it is removed.
    mustRun({"git", "-C", folder, "config", "gc.auto", "0"});
    bench_support::writeBytes(root / ".git" / "info" / "exclude", ".rvk/\n");
    if (!commit)
        return;
    mustRun({RVK_BINARY, "stage", "--all"}, false, folder.c_str());
    mustRun({RVK_BINARY, "commit", "-m", "generated tree"}, false, folder.c_str());
    mustRun({"git", "-C", folder, "add", "-A"});
    mustRun({"git", "-C", folder, "-c", "user.name=bench", "-c", "user.email=bench@localhost",
             "commit", "-q", "-m", "generated tree"});
    // What was just written goes to disk now, not in the background while status is timed.
    mustRun({"sync"});
}

// Peak resident kilobytes of `args` run in `folder`, as GNU time measures them (from a small
// process of its own, so the peak is the program's, not that of this one).
double peakKilobytes(const std::vector<std::string>& args, const std::string& folder) {
    std::vector<std::string> timed = {"/usr/bin/time", "-f", "%M"};
    timed.insert(timed.end(), args.begin(), args.end());
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<char*> argv;
    for (const std::string& arg : timed)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n; spawned == 0 && (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        throw std::runtime_error("cannot measure the memory of " + args[0]);
    return std::atof(said.substr(said.find_last_of('\n', said.size() - 2) + 1).c_str());
}

struct StatusCase {
    const char* label;
    std::size_t files;
    std::size_t largeFiles;
    bool commit;    // false: every file is untracked, and git lists them all (-uall)
    double target;  // the largest ratio of times allowed
    bool memory;    // also compare peak memory (target 3x)
    // When set, the tree is a copy of these folders of this machine (links, odd names and all)
    // instead of generated files; `files` is then not used.
    std::vector<const char*> copied = {};
};

void compareStatus(const Options& options, const StatusCase& c, std::vector<Row>& rows) {
    ScratchDir dir("rvk-compare-status");
    std::printf("status: %s: generating...\n", c.label);
    std::fflush(stdout);
    makeStatusTree(dir.path(), c.files, c.largeFiles, c.commit, c.copied);
    const std::string folder = dir.path().string();
    const std::vector<std::string> ours = {RVK_BINARY, "status"};
    std::vector<std::string> git = {"git", "status", "--porcelain"};
    if (!c.commit)
        git.push_back("--untracked-files=all");
    // The first runs fill rvk's stat cache and git's index stat data, and check the listings.
    const std::size_t ourLines = countLines(mustRun(ours, true, folder.c_str()).output);
    const std::size_t gitLines = countLines(mustRun(git, true, folder.c_str()).output);
    const std::size_t expected = c.commit ? 0 : c.files;
    if (ourLines != expected + (c.commit ? 0 : 1) || gitLines != expected)
        throw std::runtime_error(std::string("status listed other files than expected: ") +
                                 c.label);
    std::vector<double> oursMs, gitMs;
    for (int round = 0; round < std::max(options.rounds, 7); ++round) {
        oursMs.push_back(mustRun(ours, false, folder.c_str()).milliseconds);
        gitMs.push_back(mustRun(git, false, folder.c_str()).milliseconds);
    }
    const double o = median(oursMs), g = median(gitMs);
    const std::string peer = c.commit ? "git status" : "git status -uall";
    char target[32];
    std::snprintf(target, sizeof target, "<= %.1fx", c.target);
    rows.push_back({std::string("rvk status, ") + c.label + " vs " + peer, format("%.1f ms", o),
                    format("%.1f ms", g), format("%.2fx", o / g), target, o <= c.target * g});
    std::printf("status: %s: %.1f ms against %.1f ms\n", c.label, o, g);
    if (c.memory) {
        std::vector<double> oursKb, gitKb;
        for (int round = 0; round < 3; ++round) {
            oursKb.push_back(peakKilobytes(ours, folder));
            gitKb.push_back(peakKilobytes(git, folder));
        }
        const double om = median(oursKb) / 1024, gm = median(gitKb) / 1024;
        rows.push_back({std::string("rvk status, ") + c.label + ": peak memory vs " + peer,
                        format("%.1f MiB", om), format("%.1f MiB", gm), format("%.2fx", om / gm),
                        "<= 3x", om <= 3 * gm});
    }
}

int compare(const Options& options) {
    std::vector<Row> rows;
    std::printf("rvk-core peer comparison: %d rounds%s\n", options.rounds,
                options.quick ? " (quick)" : "");
    std::printf("load before: %s\n", uptime().c_str());
    std::fflush(stdout);
    const auto wanted = [&](const char* name) {
        return options.only.empty() || options.only == name;
    };
    if (wanted("scan"))
        compareScan(options, rows);
    if (wanted("state"))
        compareState(options, rows);
    if (wanted("staging"))
        compareStaging(options, rows);
    if (wanted("hashing"))
        compareHashing(options, rows);
    if (wanted("sharing"))
        compareSharing(options, rows);
    if (wanted("web"))
        compareWeb(options, rows);
    // Medians of at least seven rounds whatever --rounds says: the machine's noise is larger
    // than the differences measured.
    const StatusCase statusCases[] = {
        {"clean tree of 20,000 files", 20000, 0, true, 0.9, false},
        {"clean tree of 100,000 files", 100000, 0, true, 0.9, true},
        {"clean tree of 20,000 files + 8 x 64 MiB", 20000, 8, true, 0.9, false},
        {"20,000 untracked files", 20000, 0, false, 1.5, false},
        {"500,000 untracked files", 500000, 0, false, 1.5, true},
        {"clean copy of /usr/share and /usr/include",
         0,
         0,
         true,
         0.9,
         false,
         {"/usr/share", "/usr/include"}},
    };
    for (const StatusCase& c : statusCases) {
        if (wanted("status"))
            compareStatus(options, c, rows);
    }
    std::printf("\nload after:  %s\n", uptime().c_str());
    std::printf("medians of %d rounds, contenders alternating within each round\n\n",
                options.rounds);
    printTable(rows);
    const auto missed =
        std::count_if(rows.begin(), rows.end(), [](const Row& r) { return !r.met; });
    std::printf("\n%s\n", missed == 0 ? "all targets met"
                                      : (std::to_string(missed) + " target(s) missed").c_str());
    return missed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 3 && std::strcmp(argv[1], "scan-once") == 0)
            return scanOnce(argv[2]);
        if (argc == 3 && std::strcmp(argv[1], "visit-once") == 0)
            return visitOnce(argv[2]);
        if (argc == 4 && std::strcmp(argv[1], "hash-once") == 0)
            return hashOnce(argv[2], argv[3]);
        Options options;
        options.self = fs::canonical("/proc/self/exe").string();
        int rounds = 0;
        for (int i = 1; i < argc; ++i) {
            if (std::strcmp(argv[i], "--quick") == 0) {
                options.quick = true;
            } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
                options.only = argv[++i];
            } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
                rounds = std::max(1, std::atoi(argv[++i]));
            } else {
                std::fprintf(stderr,
                             "usage: %s [--quick] [--rounds N] "
                             "[--only scan|state|staging|hashing|sharing|web|status]\n",
                             argv[0]);
                return 2;
            }
        }
        options.rounds = rounds > 0 ? rounds : options.quick ? 3 : 7;
        return compare(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "rvk_compare: %s\n", error.what());
        return 2;
    }
}
