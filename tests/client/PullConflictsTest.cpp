// Files changed both here and on the server, settled by pull at the kit's own interface: where the
// drafter's change lives (the working tree, staged, a commit of this clone's, such a commit edited
// again, a removal) against taking the server's version and keeping the drafter's; the locks that
// keeping needs; and pulls cut off once the drafter's bytes were set aside, then run again.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <client/shared/RemoteSettings.h>

#include "SharedServer.h"

namespace {

namespace fs = std::filesystem;
using client::Conflicts;
using kit_testing::contains;
using kit_testing::message;
using kit_testing::od;
using kit_testing::sys;
using kit_testing::WorkingCopy;

bool isDrawing(const std::string& path) {
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".dwg") == 0;
}

// The server holds plan.dwg, sub/README and notes.txt from drafter1's clone `a` (commit 1);
// drafter2 cloned it as `b`; `c` is for a third clone.
class PullConflicts : public kit_testing::SharedServer {
public:
    void SetUp() override {
        SharedServer::SetUp();
        if (IsSkipped() || HasFailure())
            return;
        cloneInto(a, drafter1);
        for (const char* path : {"plan.dwg", "sub/README", "notes.txt"})
            write(a, path, std::string("first ") + path);
        commitPaths(a, {"plan.dwg", "sub/README", "notes.txt"}, "first");
        ASSERT_TRUE(client::push(in(a)).hasValue());
        cloneInto(b, drafter2);
    }

    // Drawings may be read-only in a clone until their lock is taken.
    void write(WorkingCopy& w, const std::string& path, const std::string& content) {
        const fs::path file = w.dir / ("clone/" + path);
        std::error_code ec;
        fs::permissions(file, fs::perms::owner_write, fs::perm_options::add, ec);
        w.dir.writeFile("clone/" + path, content);
    }
    std::string read(WorkingCopy& w, const std::string& path) {
        const fs::path file = w.dir / ("clone/" + path);
        return fs::exists(file) ? testing_support::readFile(file) : "(none)";
    }
    void lockDrawing(WorkingCopy& w, const std::string& path) {
        if (!isDrawing(path))
            return;
        const auto locked = client::lock(in(w), {od(path)});
        ASSERT_TRUE(locked.hasValue() && locked.value()[0].done);
    }
    void commitPaths(WorkingCopy& w, const std::vector<std::string>& paths,
                     const std::string& text) {
        std::vector<OdString> names;
        for (const std::string& path : paths)
            names.push_back(od(path));
        const auto staged = client::stage(in(w), names, false);
        ASSERT_TRUE(staged.hasValue() && staged.value().refused.empty());
        const auto made = client::commit(in(w), od(text), 100);
        ASSERT_TRUE(made.hasValue()) << message(made.error());
    }
    // `a` changes `path` on the server, holding its lock as a drawing needs.
    void serverChanges(const std::string& path, const std::string& content) {
        lockDrawing(a, path);
        write(a, path, content);
        commitPaths(a, {path}, "server's " + path);
        const auto pushed = client::push(in(a));
        ASSERT_TRUE(pushed.hasValue()) << message(pushed.error());
    }
    Expected<client::Pulled> pull(WorkingCopy& w, Conflicts how) {
        client::PullOptions options;
        options.conflicts = how;
        options.keptTime = 200;
        return client::pull(in(w), {}, options);
    }
    // HEAD's history as messages, newest first.
    std::vector<std::string> messages(WorkingCopy& w) {
        std::vector<std::string> found;
        const auto entries = client::log(in(w), boost::none);
        for (const client::LogEntry& e : entries.value())
            found.push_back(client::utf8(e.message));
        return found;
    }
    // status, as "code path" with '/' between folders, but for the ignore file that the first
    // clone wrote and nobody committed.
    std::vector<std::string> statusOf(WorkingCopy& w) {
        std::vector<std::string> lines;
        const auto listed = client::status(in(w), [&](const client::StatusEntry& e) {
            std::string line = std::string(e.code) + " " + std::string(e.path);
            std::replace(line.begin(), line.end(), '\\', '/');
            if (line != "? .rvk/properties/ignore")
                lines.push_back(line);
        });
        EXPECT_TRUE(listed.hasValue());
        return lines;
    }
    bool verified(WorkingCopy& w) {
        const auto checked = client::verify(in(w));
        return checked.hasValue() && checked.value().bad.empty();
    }
    // Everything a refused pull must leave as it was: the state file, the history, the notes of
    // rvk.db, and every working file's bytes.
    std::string snapshot(WorkingCopy& w) {
        std::string out = client::stateText(in(w)).value() + "\n";
        for (const std::string& m : messages(w))
            out += "commit " + m + "\n";
        auto db = client::Database::open(w.od("clone/.rvk/rvk.db"));
        for (const char* key : {client::kBaseKey, client::kPendingKey, client::kSettledKey})
            out += std::string(key) + "=" + db.value().remoteSetting(key).value().value_or("-") + "\n";
        const fs::path top = w.dir / "clone";
        for (auto it = fs::recursive_directory_iterator(top); it != fs::end(it); ++it) {
            if (it->path().filename() == ".rvk")
                it.disable_recursion_pending();
            else if (it->is_regular_file())
                out += it->path().lexically_relative(top).generic_u8string() + ": " +
                       testing_support::readFile(it->path()) + "\n";
        }
        return out;
    }
    WorkingCopy a, b, c;
};

// Where the drafter's change to a file lives when the server's change to it arrives.
enum class Where { working, staged, committed, committedThenEdited, removed };

struct Row {
    const char* name;
    Where where;
    const char* path;  // '/'-separated
    Conflicts conflicts;
    const char* aside;  // the name of the copy set aside, when the drafter's bytes are
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

class PullConflictsSettled : public PullConflicts, public testing::WithParamInterface<Row> {};

// b commits b.txt, a change the server's does not touch, then changes the file where the row
// says while a's change to it reaches the server. A plain pull refuses, naming the ways forward;
// then the row's way settles it.
TEST_P(PullConflictsSettled, KeepsTheDraftersBytes) {
    const Row& row = GetParam();
    const std::string path = row.path;
    const bool removed = row.where == Where::removed;
    serverChanges(path, "theirs");
    lockDrawing(b, path);
    const auto commitB = [&] {
        write(b, "b.txt", "by b");
        commitPaths(b, {"b.txt"}, "b.txt");
    };
    // A commit of the file takes the id of a's on the server, and so a drawing's copy its URL.
    switch (row.where) {
        case Where::working:
            commitB();
            write(b, path, "mine");
            break;
        case Where::staged:
            commitB();
            write(b, path, "mine");
            ASSERT_TRUE(client::stage(in(b), {od(path)}, false).hasValue());
            break;
        case Where::committed:
            write(b, path, "mine");
            commitPaths(b, {path}, "mine");
            commitB();
            break;
        case Where::committedThenEdited:
            write(b, path, "mine, committed");
            commitPaths(b, {path}, "mine");
            commitB();
            write(b, path, "mine");
            break;
        case Where::removed:
            commitB();
            fs::remove(b.dir / ("clone/" + path));
            break;
    }
    ASSERT_FALSE(HasFatalFailure());
    const std::string drafters = removed ? "(none)" : "mine";

    const std::string before = snapshot(b);
    const auto refused = client::pull(in(b));
    ASSERT_FALSE(refused.hasValue());
    EXPECT_TRUE(contains(message(refused.error()), "changed both here and on the server:\n  " +
                                                       sys(path)));
    EXPECT_TRUE(contains(message(refused.error()), "pull --theirs"));
    EXPECT_TRUE(contains(message(refused.error()), "pull --mine"));
    EXPECT_EQ(snapshot(b), before);

    const auto pulled = pull(b, row.conflicts);
    ASSERT_TRUE(pulled.hasValue()) << message(pulled.error());
    EXPECT_EQ(pulled.value().replayed, 1u);  // b.txt; a commit of the file alone is gone
    EXPECT_TRUE(verified(b));
    if (row.conflicts == Conflicts::theirs) {
        EXPECT_EQ(read(b, path), "theirs");
        EXPECT_EQ(pulled.value().head, 3u);
        EXPECT_EQ(messages(b), (std::vector<std::string>{"b.txt", "server's " + path, "first"}));
        if (removed) {
            EXPECT_TRUE(pulled.value().setAside.empty());
            EXPECT_EQ(pulled.value().taken, std::vector<OdString>{od(sys(path))});
            EXPECT_TRUE(statusOf(b).empty());
        } else {
            const std::vector<std::pair<OdString, OdString>> setAside{
                {od(sys(path)), od(sys(row.aside))}};
            EXPECT_EQ(pulled.value().setAside, setAside);
            EXPECT_EQ(read(b, row.aside), drafters);
            EXPECT_EQ(statusOf(b), std::vector<std::string>{std::string("? ") + row.aside});
            const fs::perms access = fs::status(b.dir / ("clone/" + std::string(row.aside))).permissions();
            EXPECT_NE(access & fs::perms::owner_write, fs::perms::none);
        }
        const auto pushed = client::push(in(b));
        ASSERT_TRUE(pushed.hasValue()) << message(pushed.error());
        EXPECT_EQ(pushed.value().head, 3u);
        return;
    }
    EXPECT_EQ(read(b, path), drafters);
    EXPECT_EQ(pulled.value().kept, std::vector<OdString>{od(sys(path))});
    EXPECT_EQ(pulled.value().keptIn, 4u);
    EXPECT_EQ(pulled.value().head, 4u);
    EXPECT_EQ(messages(b), (std::vector<std::string>{"kept my version of 1 file after pull",
                                                     "b.txt", "server's " + path, "first"}));
    EXPECT_TRUE(statusOf(b).empty());
    const auto pushed = client::push(in(b));
    ASSERT_TRUE(pushed.hasValue()) << message(pushed.error());
    EXPECT_EQ(pushed.value().head, 4u);
    cloneInto(c, reader);
    EXPECT_EQ(read(c, path), drafters);
    EXPECT_EQ(read(c, "b.txt"), "by b");
}

const Row kRows[] = {
    {"WorkingTreeTheirs", Where::working, "plan.dwg", Conflicts::theirs, "plan.mine.dwg"},
    {"StagedTheirs", Where::staged, "plan.dwg", Conflicts::theirs, "plan.mine.dwg"},
    {"CommittedTheirs", Where::committed, "plan.dwg", Conflicts::theirs, "plan.mine.dwg"},
    {"CommittedThenEditedTheirs", Where::committedThenEdited, "plan.dwg", Conflicts::theirs,
     "plan.mine.dwg"},
    {"RemovedTheirs", Where::removed, "plan.dwg", Conflicts::theirs, nullptr},
    {"WorkingTreeMine", Where::working, "plan.dwg", Conflicts::mine, nullptr},
    {"StagedMine", Where::staged, "plan.dwg", Conflicts::mine, nullptr},
    {"CommittedMine", Where::committed, "plan.dwg", Conflicts::mine, nullptr},
    {"CommittedThenEditedMine", Where::committedThenEdited, "plan.dwg", Conflicts::mine, nullptr},
    {"RemovedMine", Where::removed, "plan.dwg", Conflicts::mine, nullptr},
    {"NoExtensionWorkingTreeTheirs", Where::working, "sub/README", Conflicts::theirs,
     "sub/README.mine"},
    {"NoExtensionCommittedThenEditedTheirs", Where::committedThenEdited, "sub/README",
     Conflicts::theirs, "sub/README.mine"},
    {"NoExtensionStagedMine", Where::staged, "sub/README", Conflicts::mine, nullptr},
    {"NoExtensionCommittedMine", Where::committed, "sub/README", Conflicts::mine, nullptr},
};
INSTANTIATE_TEST_SUITE_P(Rows, PullConflictsSettled, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

// A copy set aside earlier, or any file of that name, is never overwritten: the next takes -2.
TEST_F(PullConflicts, ASecondConflictKeepsTheFirstCopy) {
    serverChanges("plan.dwg", "theirs");
    lockDrawing(b, "plan.dwg");
    write(b, "plan.dwg", "mine");
    ASSERT_TRUE(pull(b, Conflicts::theirs).hasValue());
    ASSERT_TRUE(client::unlock(in(b), {od("plan.dwg")}, false).hasValue());
    serverChanges("plan.dwg", "theirs again");
    lockDrawing(b, "plan.dwg");
    write(b, "plan.dwg", "mine again");
    const auto pulled = pull(b, Conflicts::theirs);
    ASSERT_TRUE(pulled.hasValue()) << message(pulled.error());
    ASSERT_EQ(pulled.value().setAside.size(), 1u);
    EXPECT_EQ(client::utf8(pulled.value().setAside[0].second), "plan.mine-2.dwg");
    EXPECT_EQ(read(b, "plan.dwg"), "theirs again");
    EXPECT_EQ(read(b, "plan.mine.dwg"), "mine");
    EXPECT_EQ(read(b, "plan.mine-2.dwg"), "mine again");
    EXPECT_EQ(statusOf(b), (std::vector<std::string>{"? plan.mine-2.dwg", "? plan.mine.dwg"}));
}

// Keeping a drawing needs its lock: held by nobody, or by another role, the pull is refused
// naming it, and changes nothing.
class PullConflictsMineLocks : public PullConflicts, public testing::WithParamInterface<bool> {};

TEST_P(PullConflictsMineLocks, RefusesWithoutTheLock) {
    const bool lockedByA = GetParam();
    serverChanges("plan.dwg", "theirs");
    write(b, "notes.txt", "staged by b");
    ASSERT_TRUE(client::stage(in(b), {od("notes.txt")}, false).hasValue());
    write(b, "plan.dwg", "mine");
    if (lockedByA)
        lockDrawing(a, "plan.dwg");
    const std::string before = snapshot(b);
    const auto refused = pull(b, Conflicts::mine);
    ASSERT_FALSE(refused.hasValue());
    EXPECT_TRUE(contains(message(refused.error()), "plan.dwg is not locked by you: lock it first"));
    EXPECT_EQ(contains(message(refused.error()), "'drafter1' holds its lock"), lockedByA);
    EXPECT_EQ(snapshot(b), before);
}
INSTANTIATE_TEST_SUITE_P(Holder, PullConflictsMineLocks, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Another" : "Nobody";
                         });

// A pull that takes the server's versions, cut off once the drafter's bytes are set aside: before
// rvk.db changes (cancelled while it receives), or after (a stored copy it restores is damaged).
// Nothing is lost, and the pull run again completes with the one copy made the first time.
struct CutOff {
    const char* name;
    bool afterRecording;
};

void PrintTo(const CutOff& row, std::ostream* out) {
    *out << row.name;
}

class PullConflictsCutOff : public PullConflicts, public testing::WithParamInterface<CutOff> {
public:
    // The stored object of notes.txt's first bytes, which copy.txt shares, in b.
    fs::path sharedObject() {
        for (const auto& entry : fs::recursive_directory_iterator(b.dir / "clone/.rvk/objects")) {
            if (entry.is_regular_file() &&
                testing_support::readFile(entry.path()) == "first notes.txt")
                return entry.path();
        }
        return {};
    }
};

TEST_P(PullConflictsCutOff, IsCompletedByARerun) {
    const CutOff& row = GetParam();
    lockDrawing(a, "plan.dwg");
    write(a, "plan.dwg", "theirs");
    write(a, "copy.txt", "first notes.txt");
    commitPaths(a, {"plan.dwg", "copy.txt"}, "server's");
    ASSERT_TRUE(client::push(in(a)).hasValue());
    lockDrawing(b, "plan.dwg");
    write(b, "plan.dwg", "mine");
    const fs::path object = sharedObject();
    ASSERT_FALSE(object.empty());
    if (row.afterRecording) {
        fs::permissions(object, fs::perms::owner_write, fs::perm_options::add);
        std::ofstream(object, std::ios::binary) << "damaged";
    } else {
        b.reporter.cancelAt = 1;
    }

    const auto cut = pull(b, Conflicts::theirs);
    ASSERT_FALSE(cut.hasValue());
    EXPECT_EQ(read(b, "plan.mine.dwg"), "mine");
    EXPECT_EQ(read(b, "plan.dwg"), "mine");
    auto db = client::Database::open(b.od("clone/.rvk/rvk.db"));
    EXPECT_EQ(bool(db.value().remoteSetting(client::kPendingKey).value()), row.afterRecording);

    if (row.afterRecording)
        std::ofstream(object, std::ios::binary) << "first notes.txt";
    b.reporter.cancelAt = 0;
    std::size_t completed = 0;
    client::PullEvents events;
    events.completedCutOff = [&](std::size_t files) { completed = files; };
    client::PullOptions options;
    options.conflicts = Conflicts::theirs;
    const auto rerun = client::pull(in(b), events, options);
    ASSERT_TRUE(rerun.hasValue()) << message(rerun.error());
    EXPECT_EQ(completed, row.afterRecording ? 2u : 0u);
    EXPECT_EQ(read(b, "plan.dwg"), "theirs");
    EXPECT_EQ(read(b, "copy.txt"), "first notes.txt");
    EXPECT_EQ(read(b, "plan.mine.dwg"), "mine");
    EXPECT_EQ(statusOf(b), std::vector<std::string>{"? plan.mine.dwg"});
    EXPECT_EQ(messages(b), (std::vector<std::string>{"server's", "first"}));
    EXPECT_TRUE(verified(b));
}

const CutOff kCutOffs[] = {{"BeforeRecording", false}, {"AfterRecording", true}};
INSTANTIATE_TEST_SUITE_P(Where, PullConflictsCutOff, testing::ValuesIn(kCutOffs),
                         [](const testing::TestParamInfo<CutOff>& info) { return info.param.name; });

}  // namespace
