// Lockable files in clones: read-only until this role holds the lock, the same classification on
// the client as on the server, and status with each file's lock.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <client/shared/Lockable.h>
#include <client/shared/ServerConnection.h>

#include "SharedServer.h"
#include "TestSupport.h"

namespace {

using kit_testing::message;
using kit_testing::WorkingCopy;

class Lockable : public kit_testing::SharedServer {
public:
    // Whether the clone's file at `path` can be written, as the system marks it (the write bits
    // on POSIX, the read-only attribute on Windows): root may write anything, so the marks, not
    // an attempt, are what a CAD program goes by.
    static bool writable(WorkingCopy& w, const std::string& path) {
        const auto perms = std::filesystem::status(w.dir / ("clone/" + path)).permissions();
        return (perms & std::filesystem::perms::owner_write) != std::filesystem::perms::none;
    }
    void setRules(const std::string& array) {
        kit_testing::KeptReporter quiet;
        auto server = client::ServerConnection::connect(admin, quiet);
        ASSERT_TRUE(server.hasValue()) << message(server.error());
        const auto set = server.value().query("SELECT rvk.set_lockable(" + array + ")");
        ASSERT_TRUE(set.hasValue()) << message(set.error());
    }
};

// Each step, then whether each file of the clone b can be written.
TEST_F(Lockable, WorkingFilesAreWritableOnlyWhileThisRoleHoldsTheirLock) {
    WorkingCopy a, b;
    cloneInto(a, drafter1);
    commitFile(a, "plan.dwg", "v1");
    commitFile(a, "notes.txt", "notes");
    commitFile(a, "sheets/a.pdf", "pdf");
    setRules("ARRAY['*.pdf']");
    ASSERT_TRUE(client::push(in(a)).hasValue());
    cloneInto(b, drafter2);
    const auto lockB = [&] { ASSERT_TRUE(client::lock(in(b), {OdString(L"plan.dwg")}).hasValue()); };
    struct Expect {
        bool plan, notes, pdf;
    };
    const auto check = [&](const char* after, Expect e) {
        EXPECT_EQ(writable(b, "plan.dwg"), e.plan) << "plan.dwg after " << after;
        EXPECT_EQ(writable(b, "notes.txt"), e.notes) << "notes.txt after " << after;
        EXPECT_EQ(writable(b, "sheets/a.pdf"), e.pdf) << "sheets/a.pdf after " << after;
    };
    check("clone", {false, true, false});
    lockB();
    check("lock", {true, true, false});
    commitFile(b, "plan.dwg", "v2 by b");
    const auto kept = client::push(in(b), true);
    ASSERT_TRUE(kept.hasValue()) << message(kept.error());
    EXPECT_TRUE(kept.value().released.empty());
    check("push --keep-locks", {true, true, false});
    // Restored as HEAD has it, a file this role holds stays writable.
    writeAnyway(b, "plan.dwg", "unsaved");
    client::RestoreRequest request;
    request.paths = {OdString(L"plan.dwg")};
    request.force = true;
    ASSERT_TRUE(client::restore(in(b), request, nullptr).hasValue());
    check("restore of a held file", {true, true, false});
    commitFile(b, "plan.dwg", "v3 by b");
    const auto released = client::push(in(b));
    ASSERT_TRUE(released.hasValue()) << message(released.error());
    ASSERT_EQ(released.value().released.size(), 1u);
    check("push", {false, true, false});
    lockB();
    ASSERT_TRUE(client::unlock(in(b), {OdString(L"plan.dwg")}, false).hasValue());
    check("unlock", {false, true, false});
    // Another role's pull: read-only there too, and the bytes are b's.
    ASSERT_TRUE(client::pull(in(a)).hasValue());
    EXPECT_FALSE(writable(a, "plan.dwg"));
    EXPECT_EQ(testing_support::readFile(a.dir / "clone/plan.dwg"), "v3 by b");
    // Restored by a clone whose server cannot be reached: the kept rules, no lock held, a note.
    ASSERT_TRUE(client::lock(in(a), {OdString(L"sheets/a.pdf")}).hasValue());
    EXPECT_TRUE(writable(a, "sheets/a.pdf"));
    ASSERT_TRUE(client::setRemote(in(a), "host=127.0.0.1 port=1 dbname=nowhere").hasValue());
    writeAnyway(a, "sheets/a.pdf", "changed");
    request.paths = {OdString(L"sheets/a.pdf")};
    kit_testing::KeptReporter heard;
    const client::Session there = in(a);
    const client::Session offline{there.io, heard, there.folder, there.lockTimeout};
    ASSERT_TRUE(client::restore(offline, request, nullptr).hasValue());
    EXPECT_FALSE(writable(a, "sheets/a.pdf"));
    ASSERT_FALSE(heard.notes.empty());
    EXPECT_TRUE(kit_testing::contains(heard.notes.back(), "rvk lock makes yours writable again"));
    // A rule taken away frees the files that only it kept read-only, at the next pull.
    setRules("'{}'");
    ASSERT_TRUE(client::pull(in(b)).hasValue());
    check("a pull after the rule went", {false, true, true});
}

// The rules are rvk_admin's, each compiled by the server before any is taken, and a clone's files
// follow them as they change.
TEST_F(Lockable, RulesAreTheAdministratorsAndTheFilesFollowThem) {
    WorkingCopy a, c;
    cloneInto(a, drafter1);
    commitFile(a, "notes.pdf", "pdf");
    commitFile(a, "plan.txt", "text");
    ASSERT_TRUE(client::push(in(a)).hasValue());
    cloneInto(c, admin);
    const auto rules = [&] {
        const auto now = client::lockableRules(in(a));
        EXPECT_TRUE(now.hasValue());
        return now.hasValue() ? now.value() : std::vector<std::string>{"(failed)"};
    };
    struct Refusal {
        WorkingCopy* who;
        std::vector<std::string> rules;
        const char* says;
    };
    for (const Refusal& r : {Refusal{&a, {"*.pdf"}, "only members of rvk_admin"},
                             Refusal{&c, {"*.pdf", "[a-"}, "does not compile"},
                             Refusal{&c, {"*.pdf", "/x"}, "begins or ends with /"},
                             Refusal{&c, {std::string(300, 'x')}, "longer than 256 bytes"}}) {
        const auto set = client::setLockableRules(in(*r.who), r.rules);
        ASSERT_FALSE(set.hasValue());
        EXPECT_TRUE(kit_testing::contains(message(set.error()), r.says));
        EXPECT_TRUE(rules().empty());
        EXPECT_TRUE(writable(c, "notes.pdf"));
    }
    ASSERT_TRUE(client::setLockableRules(in(c), {"*.pdf", "odd \"name\", \\*.txt"}).hasValue());
    EXPECT_EQ(rules(), (std::vector<std::string>{"*.pdf", "odd \"name\", \\*.txt"}));
    EXPECT_FALSE(writable(c, "notes.pdf"));
    EXPECT_TRUE(writable(c, "plan.txt"));
    ASSERT_TRUE(client::setLockableRules(in(c), {}).hasValue());
    EXPECT_TRUE(rules().empty());
    EXPECT_TRUE(writable(c, "notes.pdf"));
}

// The clone marks files with the expressions the server made of its rules; whether a path is
// lockable must come out the same on both sides, or a drafter would find a file writable that
// the server then refuses to take without its lock.
TEST_F(Lockable, TheClientClassifiesPathsAsTheServerDoes) {
    struct Case {
        const char* rules;
        std::vector<const char*> paths;
    };
    const std::vector<Case> cases = {
        {"'{}'",
         {"plan.dwg", "sub/plan.dwg", "plan.DWG", "x.bak.dwg", "plan.dwg.bak", ".dwg", "a..dwg",
          "dir.v2/plan", "dir.dwg/plan", "dwg"}},
        {"ARRAY['*.pdf', 'sheets/*.xlsx', '**/sheet?.txt']",
         {"a.pdf", "docs/a.pdf", "a.pdfx", "sheets/a.xlsx", "sheets/sub/a.xlsx", "x/sheets/a.xlsx",
          "sheet1.txt", "deep/er/sheet2.txt", "sheet12.txt", "sheet/.txt"}},
        {"ARRAY['[!a]*.txt', '[a-c]x.doc', 'r[]]x', 'a\\*b', 'élé*.txt', 'q?.csv']",
         {"b.txt", "a.txt", "bx.doc", "dx.doc", "r]x", "a*b", "axb", "élément.txt", "éle.txt",
          "q1.csv", "q/.csv", "qé.csv"}},
    };
    WorkingCopy a;
    cloneInto(a, drafter1);
    for (const Case& c : cases) {
        setRules(c.rules);
        kit_testing::KeptReporter quiet;
        auto server = client::ServerConnection::connect(drafter1, quiet);
        ASSERT_TRUE(server.hasValue()) << message(server.error());
        const auto rules = client::fetchLockableRules(server.value());
        ASSERT_TRUE(rules.hasValue()) << message(rules.error());
        std::size_t lockable = 0;
        for (const char* path : c.paths) {
            const auto theirs = server.value().query("SELECT rvk.is_lockable($1)", {std::string(path)});
            ASSERT_TRUE(theirs.hasValue()) << message(theirs.error());
            const bool onServer = theirs.value().text(0, 0) == "t";
            EXPECT_EQ(rules.value().lockable(path), onServer) << c.rules << " " << path;
            lockable += onServer;
        }
        // Each table mixes both answers, so that neither side can pass by always saying one.
        EXPECT_GT(lockable, 0u) << c.rules;
        EXPECT_LT(lockable, c.paths.size()) << c.rules;
        // Kept and read back, the rules answer alike.
        const auto parsed = client::LockableRules::parse(rules.value().text());
        ASSERT_TRUE(parsed.hasValue());
        for (const char* path : c.paths)
            EXPECT_EQ(parsed.value().lockable(path), rules.value().lockable(path)) << path;
    }
}

// status in a clone: the lock on each listed file, and this role's locked files with nothing
// else to say of them, in the order of the paths.
TEST_F(Lockable, StatusNamesEachFilesLockAndListsThisRolesLockedFiles) {
    WorkingCopy a, b;
    cloneInto(a, drafter1);
    for (const char* path : {"a.dwg", "b.dwg", "c.dwg", "d.dwg"})
        commitFile(a, path, path);
    ASSERT_TRUE(client::push(in(a)).hasValue());
    cloneInto(b, drafter2);
    ASSERT_TRUE(client::lock(in(a), {OdString(L"b.dwg")}).hasValue());
    ASSERT_TRUE(client::lock(in(b), {OdString(L"a.dwg"), OdString(L"d.dwg")}).hasValue());
    writeAnyway(b, "b.dwg", "b changed against a's lock");
    writeAnyway(b, "e.txt", "new");
    std::vector<std::string> lines;
    const auto listed = client::statusWithLocks(in(b), 5, [&](const client::StatusEntry& e) {
        std::string line = std::string(e.code) + " " + std::string(e.path);
        if (e.lock != nullptr)
            line += e.lockIsMine ? " mine" : " " + e.lock->holder;
        lines.push_back(line);
    });
    ASSERT_TRUE(listed.hasValue()) << message(listed.error());
    // (The clone's ignore file is its own, untracked.)
    EXPECT_EQ(lines, (std::vector<std::string>{"? " + kit_testing::sys(".rvk/properties/ignore"),
                                               "L a.dwg mine", "M b.dwg drafter1", "L d.dwg mine",
                                               "? e.txt"}));
}

}  // namespace
